#!/bin/sh
# The player's processor time with and without --stream over the same
# seconds at its frame rate: what sending the picture out costs the show.
# Usage: bench/stream_cost.sh [BUILD_DIR] [SECONDS] [RUNS] [URL]
# Runs farm-bench (A: with the stream, B: without), headless on SDL's dummy
# driver; nobody needs to listen on the default UDP URL. The player's own
# closing line (frames played, sent, dropped) is in $TMPDIR/stream_cost.log.
set -eu
build=$(cd "${1:-build}" && pwd)
seconds=${2:-20}
runs=${3:-5}
url=${4:-udp://127.0.0.1:5000}
data=$(cd "$(dirname "$0")/../data" && pwd)
log=${TMPDIR:-/tmp}/stream_cost.log
stack="--seconds $seconds layer_gen $data/ant.png --blit add"
rm -f "$log"
SDL_VIDEODRIVER=dummy farm-bench -n "$runs" --timeout $((runs * seconds * 3 + 60)) \
  --vs "$build/player/kolvex --quiet $stack" \
  -- sh -c "exec $build/player/kolvex --stream $url $stack >>$log 2>&1"
echo "the streaming runs said:"
sort "$log" | uniq -c
rm -f "$log"
