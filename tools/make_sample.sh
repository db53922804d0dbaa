#!/usr/bin/env bash
# Regenerates Veloraplay/samples/sample.mp3, the bundled default sample: six seconds of a
# synthesised stereo arpeggio with a brushed hi-hat (sox), encoded as a Velora file at
# 64 kbit/s by this project's encoder (build the release preset first).
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
notes=(220 277.18 329.63 440 329.63 277.18 246.94 311.13 369.99 493.88 369.99 311.13)
parts=()
for i in "${!notes[@]}"; do
  f=${notes[$i]}
  sox -n -r 44100 -c 2 "$work/t$i.wav" synth 0.5 pluck "$f" pluck "$(echo "$f * 1.5" | bc -l)" \
      fade 0 0.5 0.3 remix 1,2 1,2 gain -9
  # The hi-hat gives the band above the core's something to rebuild.
  sox -n -r 44100 -c 2 "$work/h$i.wav" synth 0.5 whitenoise gain -24 highpass 7000 fade 0 0.5 0.45
  sox -m "$work/t$i.wav" "$work/h$i.wav" "$work/n$i.wav"
  parts+=("$work/n$i.wav")
done
sox "${parts[@]}" "$work/phrase.wav"
# wavpcm: a plain PCM header (format tag 1), which is what the encoder reads.
sox "$work/phrase.wav" "$work/phrase.wav" -b 16 -t wavpcm "$work/stereo.wav" remix 1v0.8,2v0.2 1v0.2,2v0.8 reverb 30
velora=build/release/Veloraplay/cli/velora
[ -x "$velora" ] || { echo "make_sample.sh: build the release preset first ($velora is missing)" >&2; exit 1; }
"$velora" encode --quiet -b 64 "$work/stereo.wav" Veloraplay/samples/sample.mp3
echo "wrote Veloraplay/samples/sample.mp3"
