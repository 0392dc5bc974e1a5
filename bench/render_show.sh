#!/bin/sh
# A recorded show rendered frame-exact, timed: two 1080p H.264 clips (the
# second blended at half alpha), a picture with transparency drawn OVER
# and the particle generator added, played from a show file made here.
# 1. At 4K (3840x2160: the 1920x1080 canvas scaled 2x) to y4m, the stream
#    written to /dev/null (the capture's file is a link to it, so no disk
#    is timed), once for each thread count: frames per second.
# 2. At 1080p to MP4 on a real file in the work directory, with x264's
#    superfast (the capture's default) and its ultrafast (--preset): frames
#    per second and the real-time factor.
# Usage: bench/render_show.sh [BUILD_DIR] [SECONDS] [RUNS] [THREADS]
# BUILD_DIR a Release build (default build-rel); SECONDS of show (default
# 10: 241 frames at 24 fps); RUNS of each (default 3), each timed with
# /usr/bin/time, then the best, the median and the worst; THREADS the
# counts for --threads, quoted (default "1 2").
# The clips (10 s of testsrc2 and of testsrc at 24 fps) are made once in
# $TMPDIR/render_show and kept for the next call; the rest is deleted.
set -eu
build=$(cd "${1:-build-rel}" && pwd)
seconds=${2:-10}
runs=${3:-3}
counts=${4:-1 2}
kolvex=$build/player/kolvex
work=${TMPDIR:-/tmp}/render_show
mkdir -p "$work"
frames=$((seconds * 24 + 1))

# The inputs: kept between calls, they take a while to make.
make_clip() {  # NAME SOURCE
  [ -s "$work/$1" ] && return 0
  ffmpeg -v error -nostdin -y -f lavfi -i "$2=s=1920x1080:r=24:d=10" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p "$work/$1.tmp.mp4"
  mv "$work/$1.tmp.mp4" "$work/$1"
}
make_clip a.mp4 testsrc2
make_clip b.mp4 testsrc
[ -s "$work/over.png" ] || ffmpeg -v error -nostdin -y -f lavfi \
  -i "testsrc2=s=960x540:d=1,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='255*X/W'" \
  -frames:v 1 "$work/over.png"
cat >"$work/show.txt" <<EOF
# bench/render_show.sh: two clips, a picture and the generator
size 1920x1080
fps 24
seed 2004
layer $work/a.mp4
layer $work/b.mp4 --alpha 128
layer $work/over.png --blit over --pos 480,270
layer layer_gen --blit add
EOF


# Times RUNS runs of the command "$@" (it leaves its time in $work/time);
# prints one line a run and the summary of the walls.
timed() {  # LABEL COMMAND ARGS...
  label=$1
  shift
  walls=""
  i=0
  while [ "$i" -lt "$runs" ]; do
    "$@"
    t=$(cat "$work/time")
    walls="$walls $(echo "$t" | cut -d' ' -f1)"
    echo "$t" | awk -v f="$frames" -v l="$label" '{
      printf "%s: %d frames in %.2f s wall (%.2f s cpu): %.1f fps, %.2fx real time\n",
             l, f, $1, $2 + $3, f / $1, f / 24 / $1 }'
    i=$((i + 1))
  done
  echo "$walls" | tr ' ' '\n' | sed '/^$/d' | sort -n | awk -v f="$frames" -v l="$label" '
    { t[NR] = $1 }
    END {
      m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
      printf "%s, %d runs: best %.1f fps (%.2fx), median %.1f fps, worst %.1f fps\n",
             l, NR, f / t[1], f / 24 / t[1], f / m, f / t[NR] }'
}

render() {  # FORMAT SIZE THREADS [OPTION...]
  out=$(mktemp -d "$work/out.XXXXXX")
  [ "$1" = y4m ] && ln -s /dev/null "$out/kolvex.y4m"
  extra=""
  [ -n "$3" ] && extra="--threads $3"
  format=$1 size=$2
  shift 3
  extra="$extra $*"
  set -- --replay "$work/show.txt" --size "$size" --seconds "$seconds" --capture "$out" \
    --format "$format" --quiet
  # shellcheck disable=SC2086 # the options are words
  SDL_VIDEODRIVER=dummy /usr/bin/time -f "%e %U %S" -o "$work/time" "$kolvex" "$@" \
    $extra >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
  rm -rf "$out"
}

for n in $counts; do
  timed "4K to y4m on /dev/null, $n threads" render y4m 3840x2160 "$n"
done
timed "1080p to mp4 (superfast), the machine's threads" render mp4 1920x1080 ""
timed "1080p to mp4 (ultrafast), the machine's threads" render mp4 1920x1080 "" \
  --preset ultrafast
rm -f "$work/time" "$work/log"
