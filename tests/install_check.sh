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
[[ -x "$prefix/bin/zent-recorder" ]] || { echo "zent-recorder is not installed"; exit 1; }
unit="$prefix/lib/systemd/system/zent-recorder.service"
grep -q '^ExecStart=zent-recorder' "$unit" || { echo "no service unit starting zent-recorder at $unit"; exit 1; }
[[ -f "$prefix/lib/systemd/system/zent-recorder@.service" ]] || { echo "no template unit"; exit 1; }
user=$(sed -n 's/^User=//p' "$unit")
grep -q "^u $user " "$prefix/lib/sysusers.d/zent-recorder.conf" || { echo "the unit's user $user is made by no sysusers entry"; exit 1; }
ls "$prefix"/share/icons/hicolor/*/apps/"$icon_name".png >/dev/null 2>&1 || { echo "no icon named $icon_name"; exit 1; }
echo "install tree holds bin/$exec_name, bin/zent-camsim, bin/zent-recorder with its units and account, and icon $icon_name"
