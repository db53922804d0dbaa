#!/usr/bin/env bash
# Installs the Debian 12 packages this project builds and tests with. Skips what is installed.
# Runs apt-get as root, or through sudo otherwise.
#   --bench   also what the benchmarks need: packages of game music to encode (the bench
#             music, and recorded tracks for bench/quality/velora --music), the sources of
#             the listening set of bench/quality/run --set (and unzip for one); and
#             bench/resample's peer converter, libsoxr
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  ccache                        # compiles reused between builds and checkouts
  libgtest-dev
  clang-14 libclang-rt-14-dev   # libFuzzer targets in fuzz/
  lame mpg123 sox ffmpeg        # cross-checks: peer encoder and decoders; sox for audio checks
  id3v2                         # cross-check: an outside reader of the 128-byte tag
  libsndfile1-dev               # velora encode's input: WAVE of any width, RF64, AIFF, FLAC, Ogg
  man-db                        # the manual page test renders velora.1 with man -l
  qt6-base-dev libsdl2-dev      # the veloraplay desktop program: Qt 6 Widgets, SDL2 sound
  libmpg123-dev libsndfile1-dev # tessura's input modules: MPEG audio, and WAVE/FLAC/Ogg/Opus/AIFF
  zlib1g-dev libjpeg62-turbo-dev  # tessura's skin archives: packed members, JPEG images
  libasound2-dev                # tessura: the master volume on the system mixer
  fonts-dejavu-core             # text for the offscreen and Xvfb window tests
  xvfb xauth xdotool imagemagick  # window tests: a virtual display, input and screenshots
  x11-xserver-utils             # xsetroot: a desktop colour that shows through the shaped window
  python3                       # tessura's internet-stream tests: loopback stream servers
  libsystemd-dev                # tessura's remote control on the session bus (sd-bus)
  dbus-daemon dbus-bin          # its tests: a private session bus, and dbus-send as the controller
)

for arg in "$@"; do
  case "$arg" in
    --bench) packages+=(fb-music-high singularity-music drascula-music libsoxr-dev
                        nexuiz-music frozen-bubble-data sound-theme-freedesktop unzip) ;;
    *) echo "usage: scripts/setup.sh [--bench]" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  apt_get=(apt-get)
else
  apt_get=(sudo apt-get)
fi
export DEBIAN_FRONTEND=noninteractive
"${apt_get[@]}" install -y --no-install-recommends "${missing[@]}" || {
  "${apt_get[@]}" update
  "${apt_get[@]}" install -y --no-install-recommends "${missing[@]}"
}
