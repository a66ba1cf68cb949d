#!/usr/bin/env bash
# Installs the built application for the current user, with a menu entry and an icon, or removes
# them again ("uninstall"). Everything goes under PREFIX (default ~/.local), which the user can
# write, so the application can replace itself when it updates.
set -euo pipefail

action=${1:-install}
prefix=${PREFIX:-$HOME/.local}
app="$prefix/opt/Quorrel.app"
desktop="$prefix/share/applications/quorrel.desktop"
icon="$prefix/share/icons/hicolor/scalable/apps/quorrel.svg"
root=$(cd "$(dirname "$0")/.." && pwd)

refresh_menus() {
    if command -v update-desktop-database >/dev/null; then
        update-desktop-database -q "$prefix/share/applications" || true
    fi
    # Only a cache that is already there needs refreshing; a new one would hide later icons.
    if [ -f "$prefix/share/icons/hicolor/icon-theme.cache" ] && command -v gtk-update-icon-cache >/dev/null; then
        gtk-update-icon-cache -q "$prefix/share/icons/hicolor" || true
    fi
}

case "$action" in
install)
    built="$root/build/app/Quorrel.app"
    if [ ! -x "$built/Contents/MacOS/Quorrel" ]; then
        echo "install: $built is not built; run make app" >&2
        exit 1
    fi
    executable="$app/Contents/MacOS/Quorrel"
    # The menu entry names the program in double quotes, where these would need escaping.
    case "$executable" in
    *[\"\`\$\\%]*)
        echo "install: $executable cannot be named in a menu entry; choose another PREFIX" >&2
        exit 1
        ;;
    esac
    mkdir -p "$(dirname "$app")"
    # Copied beside the old copy first, so a failed copy leaves the installed one working.
    rm -rf "$app.new"
    cp -a "$built" "$app.new"
    rm -rf "$app"
    mv "$app.new" "$app"
    install -D -m 644 "$root/resources/AppIcon.svg" "$icon"
    mkdir -p "$(dirname "$desktop")"
    template=$(<"$root/resources/quorrel.desktop.in")
    printf '%s\n' "${template//@EXEC@/"$executable"}" >"$desktop"
    refresh_menus
    echo "Installed $app"
    ;;
uninstall)
    rm -rf "$app" "$app.new" "$app.old" "$desktop" "$icon"
    refresh_menus
    echo "Removed $app"
    ;;
*)
    echo "usage: $0 install|uninstall" >&2
    exit 2
    ;;
esac
