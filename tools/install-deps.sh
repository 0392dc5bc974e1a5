#!/bin/sh
# Installs the Debian 12 packages Kolvex needs that are not there yet:
# building (FFmpeg's libraries for video layers and the capture's MP4 and WebM;
# frei0r and its plug-ins, which the engine hosts; liblo for the player's OSC;
# JACK, aubio and RtMidi for its sound and MIDI sources; civetweb and
# nlohmann-json for its control surface in the browser), the
# tests (GoogleTest, Chromium and Selenium for the page, headless X, audio capture, screenshots, ffprobe for the
# video files), the benchmarks and the fuzz targets (clang 14 with
# libFuzzer). Uses sudo when not run as root.
set -eu

packages="build-essential cmake ninja-build pkg-config
  libsdl1.2-compat-dev libmikmod-dev libpng-dev zlib1g-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev libavdevice-dev
  frei0r-plugins frei0r-plugins-dev liblo-dev liblo-tools
  jackd2 libjack-jackd2-dev libaubio-dev librtmidi-dev python3-rtmidi
  libcivetweb-dev nlohmann-json3-dev
  libgtest-dev libbenchmark-dev chromium chromium-driver python3-selenium
  xvfb xauth x11-utils xdotool imagemagick xmp sox python3 ffmpeg
  clang-14 libclang-rt-14-dev"

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

echo "installing:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
