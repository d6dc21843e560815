#!/usr/bin/env bash
# A Wine prefix of the tests' own: setup, run one program, teardown.
#
#   wine-fixture.sh setup DIR [SERVER.exe]   prefix DIR/prefix, booted; SERVER.exe /RegServer
#   wine-fixture.sh run DIR PROGRAM [ARGS]   runs PROGRAM under Wine, output via a file
#   wine-fixture.sh teardown DIR             ends the prefix's wineserver and our Xvfb
#   wine-fixture.sh env DIR                  prints the environment to eval
#
# A Wine program's output always goes to a file: the background services the
# first program of a prefix starts inherit it and would hold a pipe open.
set -u

cmd=${1:?command}
dir=${2:?directory}
mkdir -p "$dir/logs"
dir=$(cd "$dir" && pwd)

load_env() {
  if [[ -f $dir/env ]]; then
    # shellcheck disable=SC1091
    source "$dir/env"
  fi
  export WINEPREFIX=$dir/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

start_xvfb() {
  [[ -n ${DISPLAY:-} ]] && return 0
  command -v Xvfb >/dev/null || { echo "wine-fixture: no DISPLAY and no Xvfb" >&2; return 1; }
  local fifo=$dir/xvfb.display
  rm -f "$fifo"
  mkfifo "$fifo"
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" \
    >"$dir/logs/xvfb.log" 2>&1 </dev/null &
  echo $! >"$dir/xvfb.pid"
  local n=""
  read -r -t 20 n <"$fifo" || true
  rm -f "$fifo"
  [[ -n $n ]] || { echo "wine-fixture: Xvfb did not start" >&2; return 1; }
  export DISPLAY=:$n
}

case $cmd in
  setup)
    server=${3:-}
    bash "$0" teardown "$dir" >/dev/null 2>&1
    rm -f "$dir/env"
    load_env
    start_xvfb || exit 1
    echo "export DISPLAY=${DISPLAY}" >"$dir/env"
    start=$(date +%s)
    # The first program starts Wine's services; they inherit this file.
    wineboot -i >"$dir/logs/wineboot.log" 2>&1 </dev/null || {
      echo "wine-fixture: wineboot failed" >&2; cat "$dir/logs/wineboot.log" >&2; exit 1; }
    wineserver -w
    if [[ -n $server ]]; then
      wine "$server" /RegServer >"$dir/logs/regserver.log" 2>&1 </dev/null || {
        echo "wine-fixture: $server /RegServer failed" >&2; cat "$dir/logs/regserver.log" >&2; exit 1; }
      wineserver -w
    fi
    echo "wine-fixture: prefix $WINEPREFIX ready in $(( $(date +%s) - start )) s (DISPLAY=$DISPLAY)"
    ;;
  run)
    shift 2
    load_env
    log=$(mktemp "$dir/logs/run.XXXXXX")
    wine "$@" >"$log" 2>&1 </dev/null
    rc=$?
    cat "$log"
    rm -f "$log"
    exit $rc
    ;;
  teardown)
    load_env
    [[ -d $WINEPREFIX ]] && wineserver -k 2>/dev/null
    if [[ -f $dir/xvfb.pid ]]; then
      kill "$(cat "$dir/xvfb.pid")" 2>/dev/null
      rm -f "$dir/xvfb.pid"
    fi
    exit 0
    ;;
  env)
    load_env
    echo "export WINEPREFIX='$WINEPREFIX' WINEARCH=$WINEARCH WINEDEBUG=$WINEDEBUG WINEDLLOVERRIDES='$WINEDLLOVERRIDES' DISPLAY='${DISPLAY:-}'"
    ;;
  *)
    echo "usage: wine-fixture.sh setup|run|teardown|env DIR ..." >&2
    exit 2
    ;;
esac
