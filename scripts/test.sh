#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# the full build, the core under ASan+UBSan, the Windows build under Wine, and a
# bounded run of the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

# A private X server for the tests that need a real one (the window tests,
# the end-to-end runs). The D-Bus tests start their own private buses.
work=$(mktemp -d)
cleanup() {
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(tr -d '\n' <"$work/display")"
fi

status=0
ctest --preset default -j "$jobs" || status=1
ctest --preset asan -j "$jobs" || status=1
# Under Wine, in a prefix of the build's own (made and ended by the tests' fixture).
# Wine's loader is a 32-bit program: a kernel without 32-bit support cannot
# start it, and then the Windows tests cannot run here at all.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  ctest --preset windows || status=1
else
  echo "Windows tests skipped: this kernel cannot run 32-bit programs (Wine's loader does not start)"
fi

# The fuzzers: one minute each from the seed corpus kept in the repository.
for fuzzer in build/fuzz/*/fuzz/*_fuzzer build/fuzz/*/*/fuzz/*_fuzzer; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer" _fuzzer)
  corpus="$work/corpus-$name"
  mkdir -p "$corpus"
  seeds="$(dirname "${fuzzer#build/fuzz/}")/corpus/$name"   # <subsystem>/fuzz/corpus/<name>
  echo "fuzzing $name for 60 s"
  if ! "$fuzzer" -max_total_time=60 -timeout=5 -print_final_stats=1 -artifact_prefix="$work/" \
      "$corpus" "$seeds" >"$work/fuzz-$name.log" 2>&1; then
    # The report's head (error and stack) and its tail (the input, in base64).
    grep -m1 -A30 -E '^==[0-9]+==ERROR|^==[0-9]+== ERROR|deadly signal|Timeout' "$work/fuzz-$name.log" || true
    tail -n 12 "$work/fuzz-$name.log"
    echo "fuzzer $name found a fault"
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$work/fuzz-$name.log" || true
  fi
done

exit $status
