#!/usr/bin/env bash
# Test code against product code, in non-blank lines of .cpp and .h: tests/ against src/ and app/.
# Programs under tools/ count as neither. The aim is a quarter to a third, at most 0.36.
set -euo pipefail
cd "$(dirname "$0")/.."
lines() { find "$@" \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat | grep -cv '^[[:space:]]*$'; }
code=$(lines src app)
tests=$(lines tests)
awk -v c="$code" -v t="$tests" 'BEGIN { printf "code %d lines, tests %d lines, ratio %.3f\n", c, t, t / c }'
