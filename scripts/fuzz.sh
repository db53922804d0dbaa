#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds
# (default 60), each seeded with inputs of its own kind (below). Inputs that
# fail are kept as build/fuzz/crash-* (or leak-*, timeout-*).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

# Two seed sets: the codec's targets start from the conformance streams and the regression
# inputs (with the dictionary of MPEG header and payload patterns), tessura's from its own
# formats (language files, playlists, settings, skins, HTTP responses).
seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
mkdir -p "$seeds/codec" "$seeds/tessura"
cp Veloradec/tests/conformance/*.bit Veloradec/tests/conformance/robustness/* "$seeds/codec"/
if [ -d Veloradec/tests/regressions ]; then
  cp Veloradec/tests/regressions/* "$seeds/codec"/
fi
cp tessura/system/*.lng fuzz/tessura_seeds/* "$seeds/tessura"/

status=0
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  echo "--- $name (${seconds}s)"
  case "$name" in
    fuzz_decoder | fuzz_sbr_decoder | fuzz_sbr_payload | fuzz_stream) kind=codec; extra=("${dict[@]}") ;;
    *) kind=tessura; extra=() ;;
  esac
  work=$(mktemp -d)
  cp "$seeds/$kind"/* "$work"/
  if ! "$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=60 \
        -artifact_prefix=build/fuzz/ -print_final_stats=1 "${extra[@]}" "$work" 2>"build/fuzz/$name.log"; then
    echo "$name found a fault; see build/fuzz/$name.log"
    tail -n 40 "build/fuzz/$name.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|Done" "build/fuzz/$name.log" | tail -n 2
  fi
  rm -rf "$work"
done
exit $status
