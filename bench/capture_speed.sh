#!/bin/sh
# The whole intro captured, timed: the figure the README quotes.
# Usage: bench/capture_speed.sh [BUILD_DIR] [FORMAT] [OUT_DIR]
# FORMAT mp4 (default), webm, y4m or png; the output (about 50 MB of mp4,
# 2.5 GB of y4m) is deleted afterwards.
set -eu
build=$(cd "${1:-build}" && pwd)
format=${2:-mp4}
out=${3:-$(mktemp -d)}
cd "$build/stage"
start=$(date +%s.%N)
"$build/intro/orvanta-capture" --quiet --format "$format" --out "$out" >"$out.log" 2>/dev/null
end=$(date +%s.%N)
frames=$(sed -n "s/^orvanta-capture: \([0-9]*\) frames.*/\1/p" "$out.log")
size=$(du -sm "$out" | cut -f1)
rm -rf "$out" "$out.log"
awk -v s="$start" -v e="$end" -v f="$frames" -v fmt="$format" -v mb="$size" 'BEGIN {
  w = e - s
  printf "capture to %s: %d frames (%.1f s of intro) in %.1f s wall: %.1fx real time, %.2f ms a frame, %d MB\n",
         fmt, f, f / 24, w, (f / 24) / w, 1000 * w / f, mb }'
