# shellcheck shell=bash
# shellcheck disable=SC2154  # root and bench_name come from the script that sources this
# Shared by bench/quality/run and bench/encode/run (sourced, not run): the build of the
# bench programs, the source audio and lame's arguments. Expects `root` and `bench_name` set.

music_package=fb-music-high
music_file=/usr/share/games/frozen-bubble/snd/frozen-mainzik-2p.xm

die() {
  echo "$bench_name: $*" >&2
  exit 1
}

need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || die "$tool is missing (./scripts/setup.sh --bench installs it)"
  done
}

# Brings the bench programs in build tree $1 up to date (configuring it with VELORA_BENCH
# when needed), at most $2 compile jobs, then copies them to $3: a rebuild of the tree
# while the bench runs must not change them. With $4 = 1 the tree is used as it is.
prepare_programs() {
  local build=$1 jobs=$2 dest=$3 no_build=$4
  local targets=(velora velora_core_encode velora_nmr)
  if [ "$no_build" -eq 0 ]; then
    if ! grep -qs '^VELORA_BENCH:BOOL=ON' "$build/CMakeCache.txt"; then
      echo "$bench_name: configuring $build with -DVELORA_BENCH=ON" >&2
      if [ "$build" = "$root/build/release" ]; then
        (cd "$root" && cmake --preset release -DVELORA_BENCH=ON >&2)
      else
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELORA_BENCH=ON >&2
      fi
    fi
    cmake --build "$build" --parallel "$jobs" --target "${targets[@]}" >&2 ||
      die "building ${targets[*]} in $build failed"
  fi
  cp "$build/Veloraplay/cli/velora" "$dest/velora" 2>/dev/null || die "no velora in $build"
  cp "$build/bench/quality/velora_core_encode" "$build/bench/quality/velora_nmr" "$dest/" 2>/dev/null ||
    die "no bench programs in $build (configure it with -DVELORA_BENCH=ON, or drop --no-build)"
}

# Writes $1 seconds (0: all) of the source audio at rate $2 with $3 channels to raw 16-bit
# file $4: the music when the package is there and $5 is 0, otherwise a sox mix of
# sweeping tones, swelling pink noise and gated noise bursts. Prints what it used.
render_audio() {
  local seconds=$1 rate=$2 channels=$3 out=$4 synth=$5
  local limit=()
  [ "$seconds" -gt 0 ] && limit=(-t "$seconds")
  if [ "$synth" -eq 0 ] && [ -r "$music_file" ] &&
     ffmpeg -nostdin -loglevel error -i "$music_file" "${limit[@]}" -ar "$rate" -ac "$channels" \
       -f s16le -y "$out" 2>/dev/null; then
    echo "music: $(basename "$music_file")${music_package:+ from the Debian package $music_package}, rendered by ffmpeg"
    return
  fi
  local length tmp
  length=$([ "$seconds" -gt 0 ] && echo "$seconds" || echo 180)
  tmp=$(dirname "$out")/synth.$$
  mkdir -p "$tmp"
  sox -n -r "$rate" -c "$channels" -b 16 "$tmp/tones.wav" synth "$length" sine 110-1760 sine 165-2640 \
    tremolo 0.3 70
  sox -n -r "$rate" -c "$channels" -b 16 "$tmp/noise.wav" synth "$length" pinknoise vol 0.25 tremolo 0.1 90
  sox -n -r "$rate" -c "$channels" -b 16 "$tmp/bursts.wav" synth "$length" whitenoise synth "$length" \
    square amod 3 vol 0.3
  sox -m "$tmp/tones.wav" "$tmp/noise.wav" "$tmp/bursts.wav" -t raw -e signed -b 16 -L "$out" norm -3
  rm -rf "$tmp"
  echo "synthesised by sox (tones, noise and bursts; install $music_package for real music)"
}

# lame's -s and --resample take kHz: 22050 -> 22.05.
khz() {
  awk -v r="$1" 'BEGIN { printf "%g", r / 1000 }'
}

# lame's channel mode for a channel count: joint stereo or mono.
lame_mode() {
  [ "$1" -eq 1 ] && echo m || echo j
}

# The commit of the tree, and whether the encoder's sources (not its tests) differ from it.
source_state() {
  local commit
  commit=$(git -C "$root" log -1 --format=%h 2>/dev/null || echo '?')
  if git -C "$root" status --porcelain -- Veloraenc ':(exclude,glob)Veloraenc/**/tests/**' 2>/dev/null |
     grep -q .; then
    echo "commit $commit, Veloraenc/ modified"
  else
    echo "commit $commit"
  fi
}

# Parses RATE:CHANNELS:KBPS into the variables rate, channels, kbps.
parse_point() {
  IFS=: read -r rate channels kbps <<<"$1"
  [[ "$rate" =~ ^[0-9]+$ && "$channels" =~ ^[12]$ && "$kbps" =~ ^[0-9]+$ ]] ||
    die "an operating point is RATE:CHANNELS:KBPS, e.g. 22050:2:64 (got $1)"
}
