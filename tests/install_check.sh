#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that it holds what the desktop entry names.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
entry="$prefix/share/applications/zent-client.desktop"
[[ -f "$entry" ]] || { echo "no desktop entry at $entry"; exit 1; }
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
icon_name=$(sed -n 's/^Icon=//p' "$entry")
[[ -x "$prefix/bin/$exec_name" ]] || { echo "Exec=$exec_name is not in $prefix/bin"; exit 1; }
[[ -x "$prefix/bin/zent-camsim" ]] || { echo "zent-camsim is not installed"; exit 1; }
ls "$prefix"/share/icons/hicolor/*/apps/"$icon_name".png >/dev/null 2>&1 || { echo "no icon named $icon_name"; exit 1; }
echo "install tree holds bin/$exec_name, bin/zent-camsim and icon $icon_name"
