#!/bin/sh
# The whole intro captured to y4m + WAV, timed: the figure the README
# quotes. Usage: bench/capture_speed.sh [BUILD_DIR] [OUT_DIR]
# (the output, about 2.5 GB, is deleted afterwards).
set -eu
build=$(cd "${1:-build}" && pwd)
out=${2:-$(mktemp -d)}
cd "$build/stage"
start=$(date +%s.%N)
"$build/intro/orvanta-capture" --quiet --out "$out" >"$out.log" 2>/dev/null
end=$(date +%s.%N)
frames=$(sed -n "s/^orvanta-capture: \([0-9]*\) frames.*/\1/p" "$out.log")
rm -rf "$out" "$out.log"
awk -v s="$start" -v e="$end" -v f="$frames" 'BEGIN {
  w = e - s
  printf "capture: %d frames (%.1f s of intro) in %.1f s wall: %.1fx real time, %.2f ms a frame\n",
         f, f / 24, w, (f / 24) / w, 1000 * w / f }'
