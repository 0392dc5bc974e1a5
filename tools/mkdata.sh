#!/bin/sh
# Regenerates every file in data/ from the generators in tools/.
# The output is deterministic: a second run gives the same bytes.
# dio.c is written by hand and is not generated.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-"$here/../data"}
mkdir -p "$out"
python3 "$here/mkxm.py" --out "$out/tolvek-climax.xm"
python3 "$here/mkpictures.py" --out "$out"
