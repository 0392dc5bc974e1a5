#!/bin/sh
# The whole intro captured, timed: the figure the README quotes.
# Usage: bench/capture_speed.sh [BUILD_DIR] [FORMAT] [RUNS] [OUT_DIR]
# FORMAT mp4 (default), webm, y4m or png; RUNS captures one after another
# (default 1), each timed, then the lowest, median and highest. The output
# (about 60 MB of mp4, 2.5 GB of y4m) is deleted after each run.
set -eu
build=$(cd "${1:-build}" && pwd)
format=${2:-mp4}
runs=${3:-1}
base=${4:-${TMPDIR:-/tmp}}
cd "$build/stage"
times=""
i=0
while [ "$i" -lt "$runs" ]; do
  out=$(mktemp -d "$base/capture_speed.XXXXXX")
  start=$(date +%s.%N)
  "$build/intro/orvanta-capture" --quiet --format "$format" --out "$out" >"$out.log" 2>/dev/null
  end=$(date +%s.%N)
  frames=$(sed -n "s/^orvanta-capture: \([0-9]*\) frames.*/\1/p" "$out.log")
  size=$(du -sm "$out" | cut -f1)
  rm -rf "$out" "$out.log"
  wall=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')
  awk -v w="$wall" -v f="$frames" -v fmt="$format" -v mb="$size" 'BEGIN {
    printf "capture to %s: %d frames (%.1f s of intro) in %.2f s wall: %.1fx real time, %.2f ms a frame, %d MB\n",
           fmt, f, f / 24, w, (f / 24) / w, 1000 * w / f, mb }'
  times="$times $wall"
  i=$((i + 1))
done
[ "$runs" -gt 1 ] || exit 0
echo "$times" | tr ' ' '\n' | sed '/^$/d' | sort -n | awk -v f="$frames" '
  { t[NR] = $1 }
  END {
    m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "%d runs: median %.2f s (%.1fx real time), lowest %.2f s (%.1fx), highest %.2f s (%.1fx)\n",
           NR, m, f / 24 / m, t[1], f / 24 / t[1], t[NR], f / 24 / t[NR] }'
