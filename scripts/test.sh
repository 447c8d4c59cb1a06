#!/bin/sh
# Builds both presets and runs every test through CTest: host unit tests,
# then the Windows executables under Wine.
#
# The host tests also run under AddressSanitizer and UndefinedBehaviorSanitizer
# (preset host-asan, clang), and each fuzz target then runs for FUZZ_SECONDS
# seconds: 30 by default, longer on request (FUZZ_SECONDS=600 sh
# scripts/test.sh), 0 to skip. CORVANE_DIFF_SEED replays the differential
# Wine check of a given seed, with CORVANE_DIFF_CASES cases.
set -eu
cd "$(dirname "$0")/.."

# Options are checked before anything is built: a mistyped one would fail
# the run only after the builds and half the tests, or quietly change it.
refuse() {
  echo "test.sh: $1 must be $2, not '$3'" >&2
  exit 2
}
fuzz_seconds="${FUZZ_SECONDS-}"
expr "x$fuzz_seconds" : 'x[0-9]\{0,9\}$' >/dev/null ||
  refuse FUZZ_SECONDS "a whole number of seconds, 0 or more" "$fuzz_seconds"
expr "x${CORVANE_DIFF_SEED-}" : 'x[0-9]*$' >/dev/null ||
  refuse CORVANE_DIFF_SEED "a whole number, 0 or more" "$CORVANE_DIFF_SEED"
expr "x${CORVANE_DIFF_CASES-}" : 'x[0-9]*$' >/dev/null &&
  ! expr "x${CORVANE_DIFF_CASES-}" : 'x00*$' >/dev/null ||
  refuse CORVANE_DIFF_CASES "a whole number, 1 or more" "$CORVANE_DIFF_CASES"

sh scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host -j 2
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j 2
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan -j 2

status=0
ctest --preset host -j 2 || status=1
ctest --preset host-asan -j 2 || status=1
FUZZ_SECONDS="${FUZZ_SECONDS:-30}" sh tests/fuzz/run_fuzzers.sh build/host-asan || status=1
ctest --preset win32 -j 2 || status=1
exit $status
