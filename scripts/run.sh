#!/usr/bin/env bash
# Sets everything up, builds the Release configuration and runs the main job: showing what the
# bundled sample (a Velora file made by this project's encoder) says about itself, decoding it,
# with the enhancement rebuilding its high band, to a WAVE file, and, on a desktop, opening the
# player window playing it.
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

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "opening the player window on $sample (close it to end)"
  ./build/release/Veloraplay/ui/veloraplay "$sample"
else
  echo "no display (DISPLAY and WAYLAND_DISPLAY are unset): the player window was not opened;" \
       "on a desktop this command also plays the sample in it"
fi
