#!/bin/sh
# Builds both presets and runs every test through CTest: host unit tests,
# then the Windows executables under Wine.
set -eu
cd "$(dirname "$0")/.."

sh scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host -j 2
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j 2

status=0
ctest --preset host -j 2 || status=1
ctest --preset win32 -j 2 || status=1
exit $status
