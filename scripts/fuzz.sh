#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds
# (default 60), seeded with the conformance streams and the regression inputs. Inputs that
# fail are kept as build/fuzz/crash-* (or leak-*, timeout-*).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp Veloradec/tests/conformance/*.bit Veloradec/tests/conformance/robustness/* "$corpus"/
# tessura's text formats: its language file and a playlist, a settings file and a language file
# with entities.
cp tessura/system/*.lng fuzz/tessura_seeds/* "$corpus"/
if [ -d Veloradec/tests/regressions ]; then
  cp Veloradec/tests/regressions/* "$corpus"/
fi

dict=()
[ -f fuzz/mpeg.dict ] && dict=(-dict=fuzz/mpeg.dict)

status=0
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  echo "--- $name (${seconds}s)"
  work=$(mktemp -d)
  cp "$corpus"/* "$work"/
  if ! "$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=60 \
        -artifact_prefix=build/fuzz/ -print_final_stats=1 "${dict[@]}" "$work" 2>"build/fuzz/$name.log"; then
    echo "$name found a fault; see build/fuzz/$name.log"
    tail -n 40 "build/fuzz/$name.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|Done" "build/fuzz/$name.log" | tail -n 2
  fi
  rm -rf "$work"
done
exit $status
