#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
for field in "2.5" "1/16" "SQRT(2)*0.5" "400*0.8"; do
  ./build/default/mcparser/mcparser_eval "$field"
done
