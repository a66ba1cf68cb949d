#!/usr/bin/env bash
# Runs every fuzzing program in $1 for $2 seconds on a copy of its seeds (tests/fuzz/corpus/<name>),
# two at a time; stops with the failing input kept under build/fuzz/findings when one finds a fault.
set -euo pipefail
programs=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
findings="$root/build/fuzz/findings"
mkdir -p "$findings"
trap 'rm -rf "$work"' EXIT

run() {
    local program=$1 name=${1##*/fuzz_}
    mkdir -p "$work/$name"
    cp -r "$root/tests/fuzz/corpus/$name/." "$work/$name/" 2>/dev/null || true
    if "$program" "$work/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -max_len=65536 \
        -artifact_prefix="$findings/$name-" -print_final_stats=1 >"$work/$name.log" 2>&1; then
        printf '%-16s %s\n' "$name" "$(grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$work/$name.log" |
            tr '\n' ' ' | sed 's/stat::number_of_executed_units: */runs /')"
    else
        echo "$name: FOUND A FAULT (input in $findings)"; tail -40 "$work/$name.log"; return 1
    fi
}

export -f run
export work root findings seconds
find "$programs" -maxdepth 1 -type f -executable -name "fuzz_*" | sort | xargs -P 2 -I{} bash -c "run {}"
