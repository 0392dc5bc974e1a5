#!/bin/sh
# Eight full-screen 1920x1080 layers composed by kolvex and by ffmpeg's
# filter graph, side by side: the same still pictures of noise, the same
# size and number of frames, both written as y4m (4:2:0) to /dev/null.
# The stack, bottom first: RGB (copy), ADD, SUB, AND, OR, BLU (the blue
# channel), ALPHA at 128, and OVER with a picture whose alpha runs from 0
# at the left to 255 at the right. ffmpeg does it with blend filters
# (addition, subtract, and, or; normal at opacity 1 on the blue plane
# alone, and at 0.5 for ALPHA) on planar RGB and an overlay for OVER, each
# picture decoded once and repeated by the loop filter; its threads set by
# -filter_threads and -filter_complex_threads.
# Usage: bench/stack_vs_ffmpeg.sh [BUILD_DIR] [SECONDS] [RUNS] [THREADS]
# BUILD_DIR a Release build (default build-rel); SECONDS at 24 fps
# (default 10: 241 frames, for both); RUNS of each (default 3); THREADS
# the counts, quoted (default "1 2"), for ffmpeg's options and kolvex's
# --threads.
# Prints a table: wall and processor seconds (user + sys), best and median.
set -eu
build=$(cd "${1:-build-rel}" && pwd)
seconds=${2:-10}
runs=${3:-3}
counts=${4:-1 2}
kolvex=$build/player/kolvex
work=$(mktemp -d "${TMPDIR:-/tmp}/stack_vs_ffmpeg.XXXXXX")
trap 'rm -rf "$work"' EXIT
frames=$((seconds * 24 + 1))

# Seven pictures of noise, each its own, and the one with transparency.
for i in 1 2 3 4 5 6 7; do
  ffmpeg -v error -nostdin -y -f lavfi \
    -i "color=c=gray:s=1920x1080:d=1,noise=alls=100:allf=u:all_seed=$i,format=rgb24" \
    -frames:v 1 "$work/n$i.png"
done
ffmpeg -v error -nostdin -y -f lavfi \
  -i "color=c=gray:s=1920x1080:d=1,noise=alls=100:allf=u:all_seed=8,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='255*X/W'" \
  -frames:v 1 "$work/over.png"


# Each run leaves its wall, user and sys seconds in $work/time.
kolvex_run() {  # THREADS
  out="$work/out"
  rm -rf "$out"
  mkdir "$out"
  ln -s /dev/null "$out/kolvex.y4m"
  SDL_VIDEODRIVER=dummy /usr/bin/time -f "%e %U %S" -o "$work/time" "$kolvex" --quiet \
    --size 1920x1080 --seconds "$seconds" --capture "$out" --format y4m --threads "$1" \
    "$work/n1.png" "$work/n2.png" --blit add "$work/n3.png" --blit sub \
    "$work/n4.png" --blit and "$work/n5.png" --blit or "$work/n6.png" --blit blu \
    "$work/n7.png" --alpha 128 "$work/over.png" --blit over
}

ffmpeg_run() {  # THREADS
  inputs=""
  graph=""
  # (k, not i: timed counts its runs in i, and sh has no local variables)
  for k in 0 1 2 3 4 5 6 7; do
    f=n$((k + 1)).png
    [ "$k" = 7 ] && f=over.png
    inputs="$inputs -i $work/$f"
    fmt=gbrp
    [ "$k" = 7 ] && fmt=gbrap
    graph="${graph}[$k]format=$fmt,loop=loop=-1:size=1,setpts=N/24/TB[i$k];"
  done
  # gbrp's planes are green, blue, red: c1 is the blue one.
  graph="${graph}[i0][i1]blend=all_mode=addition[s1];"
  graph="${graph}[s1][i2]blend=all_mode=subtract[s2];"
  graph="${graph}[s2][i3]blend=all_mode=and[s3];"
  graph="${graph}[s3][i4]blend=all_mode=or[s4];"
  graph="${graph}[s4][i5]blend=all_mode=normal:c0_opacity=0:c1_opacity=1:c2_opacity=0[s5];"
  graph="${graph}[s5][i6]blend=all_mode=normal:all_opacity=0.5[s6];"
  graph="${graph}[s6][i7]overlay=format=gbrp,format=yuv420p[out]"
  # shellcheck disable=SC2086 # the inputs are words
  /usr/bin/time -f "%e %U %S" -o "$work/time" \
    ffmpeg -v error -nostdin -y -filter_threads "$1" -filter_complex_threads "$1" $inputs \
    -filter_complex "$graph" -map "[out]" -frames:v "$frames" -f yuv4mpegpipe /dev/null
}

# RUNS runs of "$@"; prints "best_wall median_wall best_cpu median_cpu".
timed() {
  : >"$work/times"
  i=0
  while [ "$i" -lt "$runs" ]; do
    "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }
    awk '{ print $1, $2 + $3 }' "$work/time" >>"$work/times"
    i=$((i + 1))
  done
  med() { sort -n | awk '{ t[NR] = $1 } END {
    printf "%.2f %.2f", t[1], NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'; }
  w=$(cut -d' ' -f1 "$work/times" | med)
  c=$(cut -d' ' -f2 "$work/times" | med)
  echo "$w $c"
}

echo "8 layers 1920x1080, $frames frames to y4m on /dev/null, $runs runs each"
printf "%-8s %7s %16s %16s %8s\n" program threads "wall best/median" "cpu best/median" "fps"
for n in $counts; do
  for p in kolvex ffmpeg; do
    # shellcheck disable=SC2046 # four figures
    set -- $(timed "${p}_run" "$n")
    [ $# -eq 4 ] || exit 1
    printf "%-8s %7s %7.2f/%-8.2f %7.2f/%-8.2f %8.1f\n" "$p" "$n" "$1" "$2" "$3" "$4" \
      "$(awk -v f="$frames" -v w="$1" 'BEGIN { print f / w }')"
  done
done
