#!/usr/bin/env bash
# Sets everything up, then builds and runs every test: the Release build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, the threaded parts under the
# ThreadSanitizer, and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

jobs=$(nproc)
status=0

# Compiles are cached (four configurations build the same sources); paths are taken relative to
# this checkout, so another checkout of the same sources reuses them.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$PWD"
fi

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

# The threaded parts under the thread sanitizer: veloraplay's playback controller and encoder
# window's job, tessura's output chain and engine, its internet streams and its bus remote (the
# rest runs on one thread per job).
echo "=== tsan: configure and build the threaded parts' tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
echo "=== tsan: tests"
for t in Veloraplay/audio/tests/veloraplay_playback_test Veloraplay/core/tests/veloraplay_encoder_test \
         tessura/engine/tests/tessura_player_test tessura/engine/stream/tests/tessura_stream_test \
         tessura/remote/tests/tessura_remote_test; do
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "build/tsan/$t" || status=1
done

echo "=== fuzz: short runs"
./scripts/fuzz.sh 20 || status=1

if [ $status -ne 0 ]; then
  echo "FAILED"
else
  echo "ALL TESTS PASSED"
fi
exit $status
