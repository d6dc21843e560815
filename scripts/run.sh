#!/usr/bin/env bash
# Installs what is missing, builds, installs the programs for this user and
# runs Brevand beside the reference NC editor, which opens the bundled sample
# program. Select lines in the editor, fill in Brevand's fields, press Adjust.
#   scripts/run.sh [NC-FILE]        (default: refhost/samples/mill.ngc)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
program="${1:-$top/refhost/samples/mill.ngc}"

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target brevand norvane-editor

# Programs, desktop entries and the D-Bus activation file go under ~/.local,
# where the session bus looks for the user's services.
prefix="${BREVAND_PREFIX:-$HOME/.local}"
cmake --install build/default --prefix "$prefix" >/dev/null
echo "Installed brevand and norvane-editor under $prefix"

cleanup() {
  [ -n "${editor_pid:-}" ] && kill "$editor_pid" 2>/dev/null || true
  [ -n "${bus_pid:-}" ] && kill "$bus_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# No display (a server or a container): a private X server, so that both
# windows still run; look at them with e.g. `import -window root shot.png`.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
  export DISPLAY=":$(tr -d '\n' <"$displayfile")"
  rm -f "$displayfile"
  echo "No display found: running on a private X server at DISPLAY=$DISPLAY"
fi

# A session bus, when none is running.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  eval "$(dbus-launch --sh-syntax)"
  bus_pid=$DBUS_SESSION_BUS_PID
  echo "Started a session bus at $DBUS_SESSION_BUS_ADDRESS"
fi
# The bus rereads its service folders, so the new activation file counts.
dbus-send --session --type=method_call --dest=org.freedesktop.DBus /org/freedesktop/DBus \
  org.freedesktop.DBus.ReloadConfig >/dev/null 2>&1 || true

host_running() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:norvane.norvanex 2>/dev/null | grep -q 'boolean true'
}

if host_running; then
  echo "A Norvane editor already serves this session; Brevand links to it."
else
  "$prefix/bin/norvane-editor" "$program" &
  editor_pid=$!
  for _ in $(seq 100); do host_running && break; sleep 0.1; done
  echo "Opened $program in norvane-editor"
fi

"$prefix/bin/brevand"

# Brevand has closed; the editor stays until you close it.
if [ -n "${editor_pid:-}" ]; then
  wait "$editor_pid" || true
  editor_pid=
fi
