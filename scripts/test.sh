#!/usr/bin/env bash
# Sets everything up, then builds and runs every test: the Release build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

jobs=$(nproc)
status=0

run_suite() {
  local preset=$1
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: tests"
  ctest --preset "$preset" -j "$jobs" || status=1
}

run_suite release
run_suite sanitize

echo "=== fuzz: short runs"
./scripts/fuzz.sh 30 || status=1

if [ $status -ne 0 ]; then
  echo "FAILED"
else
  echo "ALL TESTS PASSED"
fi
exit $status
