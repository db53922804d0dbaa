#!/usr/bin/env bash
# Regenerates Veloraplay/samples/sample.mp3, the bundled default sample: six seconds of a
# synthesised stereo arpeggio (sox), encoded once at 128 kbit/s joint stereo (lame).
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
notes=(220 277.18 329.63 440 329.63 277.18 246.94 311.13 369.99 493.88 369.99 311.13)
parts=()
for i in "${!notes[@]}"; do
  f=${notes[$i]}
  sox -n -r 44100 -c 2 "$work/n$i.wav" synth 0.5 pluck "$f" pluck "$(echo "$f * 1.5" | bc -l)" \
      fade 0 0.5 0.3 remix 1,2 1,2 gain -9
  parts+=("$work/n$i.wav")
done
sox "${parts[@]}" "$work/phrase.wav"
sox "$work/phrase.wav" "$work/phrase.wav" "$work/stereo.wav" remix 1v0.8,2v0.2 1v0.2,2v0.8 reverb 30
lame --quiet -b 128 -m j --noreplaygain "$work/stereo.wav" Veloraplay/samples/sample.mp3
echo "wrote Veloraplay/samples/sample.mp3"
