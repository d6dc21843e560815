#!/usr/bin/env bash
# Builds the Debian package of the Linux programs (brevand, norvane-editor and
# every other installed program, with desktop entries, icons, MIME type, the
# D-Bus activation file and manual pages) from a release build of its own:
#   scripts/build-deb.sh        -> build/deb/norvane-brevand_<version>_<arch>.deb
# Install it with: sudo apt install ./build/deb/norvane-brevand_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ \
  -DBREVAND_TESTS=OFF -DBREVAND_BENCHMARKS=OFF >/dev/null
cmake --build build/deb -j "$(nproc)"
(cd build/deb && cpack -G DEB)
ls -1 build/deb/*.deb
