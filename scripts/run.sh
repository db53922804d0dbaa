#!/usr/bin/env bash
# Sets everything up, builds the Release configuration and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
./build/release/Veloraplay/cli/velora --help
