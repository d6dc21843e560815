#!/usr/bin/env bash
# Makes docs/editor-after-pass.png, the README's picture: the mill sample in
# the editor after one pass, with the toolpath view, on a private Xvfb
# (Mesa's software renderer). Builds what it needs in build/default.
set -euo pipefail
cd "$(dirname "$0")/.."
out=docs/editor-after-pass.png
[ -f build/default/build.ninja ] || cmake --preset default >/dev/null
cmake --build build/default --target editor_screenshot
# A display of our own, whatever DISPLAY says, so that the picture does not
# depend on the desktop.
env -u DISPLAY build/default/refhost/editor/tests/editor_screenshot "$out"
size=$(stat -c %s "$out")
echo "$out: $size bytes"
if [ "$size" -gt 204800 ]; then
  echo "screenshot.sh: $out is over 200 KB" >&2
  exit 1
fi
