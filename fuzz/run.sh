#!/bin/sh
# Builds the fuzz targets with clang 14 and runs each of them for SECONDS
# (default 30) over a fresh copy of its seed corpus. Fails when a target
# finds a crash, a leak, a timeout or runs out of memory; what it found is
# kept under BUILD_DIR/artifacts/<target>/, its log under BUILD_DIR/run/.
# Inputs slower than 10 s (slow-unit-*) are kept there too, not failures.
#
#   fuzz/run.sh [SECONDS] [BUILD_DIR]      (BUILD_DIR: build-fuzz in the tree)
#
# Exits 77 (CTest's skip code here) when clang-14 is not installed.
set -u
seconds=${1:-30}
here=$(cd "$(dirname "$0")" && pwd)
build=${2:-$here/../build-fuzz}

if ! command -v clang-14 >/dev/null 2>&1 || ! command -v clang++-14 >/dev/null 2>&1; then
  echo "fuzz: clang-14 not found (apt-get install clang-14 libclang-rt-14-dev); skipped"
  exit 77
fi
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null || exit 1
cmake --build "$build" -j "${FUZZ_BUILD_JOBS:-2}" || exit 1
build=$(cd "$build" && pwd)

status=0
for target in $(cat "$build/targets.txt"); do
  work=$build/run/$target
  artifacts=$build/artifacts/$target
  rm -rf "$work" "$artifacts"
  mkdir -p "$work/corpus" "$artifacts"
  cp "$here/corpus/$target/"* "$work/corpus/" 2>/dev/null
  # Seeds the repository holds elsewhere: PngSuite and our pictures, and our
  # scroller text behind the target's four settings bytes.
  case $target in
    fuzz_png) cp "$here/../tests/data/pngsuite/png/"*.png "$here/../data/"*.png "$work/corpus/" ;;
    fuzz_scroller) { printf '\002\n\001('; cat "$here/../data/dio.c"; } >"$work/corpus/dio.c" ;;
    # Small clips of each kind, made now, behind the byte that names it.
    fuzz_video) i=0
      for opts in "y4m -pix_fmt yuv420p" "mp4 -c:v libx264 -pix_fmt yuv420p" \
                  "mkv -c:v ffv1" "webm -c:v libvpx-vp9 -deadline realtime" \
                  "avi -c:v mjpeg -pix_fmt yuvj420p" "gif" "mov -c:v libx264 -pix_fmt yuv444p" \
                  "mpg -c:v mpeg2video"; do
        set -- $opts; ext=$1; shift
        ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=s=32x24:r=25:d=0.2 "$@" \
          "$work/clip.$ext" &&
          { printf "\\$(printf '%03o' $i)"; cat "$work/clip.$ext"; } >"$work/corpus/clip_$ext"
        rm -f "$work/clip.$ext"; i=$((i + 1))
      done ;;
  esac
  dict=""
  [ -f "$here/$target.dict" ] && dict="-dict=$here/$target.dict"
  # -close_fd_mask=2 keeps the engine's log lines out (reports still come
  # through). The largest picture a PNG layer takes is a 1 GiB frame.
  # shellcheck disable=SC2086
  (cd "$work" && TMPDIR=$work "$build/$target" -max_total_time="$seconds" -timeout=30 \
     -rss_limit_mb=3072 -close_fd_mask=2 -print_final_stats=1 \
     -artifact_prefix="$artifacts/" $dict corpus) >"$work/log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  found=$(ls "$artifacts" | grep -v '^slow-unit-')
  if [ "$rc" -ne 0 ] || [ -n "$found" ]; then
    status=1
    echo "$target: FAILED (status $rc) after ${runs:-?} runs: ${found:-no artifact}"
    grep -E "ERROR|SUMMARY|fuzz check failed" "$work/log" | head -5 | sed 's/^/  /'
    echo "  log: $work/log"
  else
    echo "$target: ok, ${runs:-?} runs in $seconds s"
  fi
done
exit $status
