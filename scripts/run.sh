#!/usr/bin/env bash
# Sets everything up, builds the Release configuration and runs the main job: decoding the
# bundled sample to a WAVE file and showing what the stream says about itself.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
velora=./build/release/Veloraplay/cli/velora
sample=Veloraplay/samples/sample.mp3
out=build/sample.wav
"$velora" info "$sample"
"$velora" decode "$sample" "$out"
echo "decoded $sample to $out ($(stat -c %s "$out") bytes)"
