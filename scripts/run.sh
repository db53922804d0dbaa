#!/usr/bin/env bash
# Sets everything up, builds the Release configuration and runs the main job: showing what the
# bundled sample (a Velora file made by this project's encoder) says about itself and decoding
# it, with the enhancement rebuilding its high band, to a WAVE file.
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
rate=$(od -An -tu4 -j24 -N4 "$out" | tr -d ' ')
echo "decoded $sample to $out ($(stat -c %s "$out") bytes at $rate Hz)"
