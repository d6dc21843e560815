#!/usr/bin/env bash
# Makes norvane-editor activatable on the user's session bus without
# installing anything system-wide: writes norvane.norvanex.service into
# ~/.local/share/dbus-1/services pointing at the given editor program.
#   install-user-service.sh /path/to/norvane-editor
set -euo pipefail
editor=$(realpath "${1:?usage: install-user-service.sh /path/to/norvane-editor}")
[ -x "$editor" ] || { echo "not an executable: $editor" >&2; exit 1; }
dir="${XDG_DATA_HOME:-$HOME/.local/share}/dbus-1/services"
mkdir -p "$dir"
sed "s|@NORVANE_EDITOR_EXEC@|$editor|" "$(dirname "$0")/norvane.norvanex.service.in" >"$dir/norvane.norvanex.service.tmp"
mv "$dir/norvane.norvanex.service.tmp" "$dir/norvane.norvanex.service"
# A running bus rereads its service folders (harmless when none is running).
if [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  dbus-send --session --type=method_call --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.ReloadConfig >/dev/null 2>&1 || true
fi
echo "$dir/norvane.norvanex.service -> $editor"
