#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each in turn.
#
#   scripts/fuzz.sh [SECONDS]
#       Each target for SECONDS (default 60) from its seeds in a scratch corpus (CI's short
#       run). Inputs that fail are kept as build/fuzz/crash-* (or leak-*, timeout-*).
#   scripts/fuzz.sh --long SECONDS [--corpus DIR] [TARGET...]
#       Each target (or the ones named) for SECONDS on a corpus kept across runs in
#       DIR/TARGET (default ~/.cache/velora-fuzz), failing inputs in DIR/artifacts; prints
#       each target's executions a second, coverage and findings.
set -euo pipefail
cd "$(dirname "$0")/.."

long=0
corpusRoot="${XDG_CACHE_HOME:-$HOME/.cache}/velora-fuzz"
targets=()
if [ "${1:-}" = "--long" ]; then
  long=1
  seconds=${2:?"--long needs the seconds per target"}
  shift 2
  while [ $# -gt 0 ]; do
    case "$1" in
      --corpus) corpusRoot=${2:?"--corpus needs a directory"}; shift 2 ;;
      *) targets+=("$1"); shift ;;
    esac
  done
else
  seconds=${1:-60}
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

# The codec's targets start from short pieces of the conformance streams and of encoded
# Velora streams (remade when the tool changes) and the regression inputs, tessura's from its
# own formats (language files, playlists, settings, skins, HTTP responses).
seeds=build/fuzz/seeds
if [ ! -f "$seeds/.made" ] || [ build/fuzz/fuzz/make_fuzz_seeds -nt "$seeds/.made" ]; then
  rm -rf "$seeds"
  build/fuzz/fuzz/make_fuzz_seeds "$seeds" Veloradec/tests/conformance/*.bit Veloradec/tests/streams/*.bit
  touch "$seeds/.made"
fi
# Inputs the decoder and the SBR decoder once failed on or that stress them, for every codec target.
codecExtra=(Veloradec/tests/conformance/robustness/* Veloradec/tests/regressions/* relsbrdeclib/tests/regressions/*)

# Seed folder, -max_len (a few frames: the seeds are cut to fit) and dictionary of each
# target.
configure() {
  case "$1" in
    fuzz_decoder) kind=decoder; maxLen=4096; dict=(-dict=fuzz/mpeg.dict) ;;
    fuzz_stream) kind=stream; maxLen=4096; dict=(-dict=fuzz/mpeg.dict) ;;
    fuzz_sbr_decoder | fuzz_sbr_payload) kind=sbr; maxLen=4096; dict=() ;;
    *) kind=tessura; maxLen=65536; dict=() ;;
  esac
}

fillSeeds() {
  if [ "$kind" = tessura ]; then
    cp tessura/system/*.lng fuzz/tessura_seeds/* "$1"/
  else
    cp "$seeds/$kind"/* "${codecExtra[@]}" "$1"/
  fi
}

# One line from a target's log: executions a second, coverage, corpus, findings.
summary() {
  local name=$1 log=$2 artifacts=$3 before=$4
  local last execs rate
  last=$(grep -E '^#[0-9]+.*cov:' "$log" | tail -n 1 || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  local findings
  findings=$(find "$artifacts" -maxdepth 1 -newer "$before" \( -name 'crash-*' -o -name 'leak-*' \
    -o -name 'timeout-*' -o -name 'oom-*' \) 2>/dev/null | wc -l)
  printf '%-20s %8s execs %6s exec/s  %s  findings: %d\n' "$name" "${execs:-?}" "${rate:-?}" \
    "$(echo "$last" | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*')" "$findings"
}

status=0
results=()
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  if [ ${#targets[@]} -gt 0 ] && [[ ! " ${targets[*]} " == *" $name "* ]]; then continue; fi
  configure "$name"
  echo "--- $name (${seconds}s)"
  stamp=$(mktemp)
  if [ $long -eq 1 ]; then
    corpus="$corpusRoot/$name"
    artifacts="$corpusRoot/artifacts"
    mkdir -p "$corpus" "$artifacts"
    # New inputs go into the kept corpus; the seeds are read each time beside it.
    from=$(mktemp -d)
    fillSeeds "$from"
    dirs=("$corpus" "$from")
    log="$corpusRoot/$name.log"
  else
    artifacts=build/fuzz
    from=$(mktemp -d)
    fillSeeds "$from"
    dirs=("$from")
    log="build/fuzz/$name.log"
  fi
  if ! "$target" -max_total_time="$seconds" -max_len="$maxLen" -rss_limit_mb=2048 -timeout=60 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 "${dict[@]}" "${dirs[@]}" 2>"$log"; then
    echo "$name found a fault; see $log"
    tail -n 40 "$log"
    status=1
  elif [ $long -eq 0 ]; then
    grep -E "stat::number_of_executed_units|Done" "$log" | tail -n 2
  fi
  results+=("$(summary "$name" "$log" "$artifacts" "$stamp")")
  echo "${results[-1]}"
  rm -rf "$from" "$stamp"
done

if [ $long -eq 1 ]; then
  echo "=== corpus in $corpusRoot, failing inputs in $corpusRoot/artifacts"
  printf '%s\n' "${results[@]}"
fi
exit $status
