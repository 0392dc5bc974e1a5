#!/bin/sh
# Installs what is missing, builds, and plays the intro in a window.
# `./run.sh demo [seconds]` runs the engine's demo program instead.
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
# Without a display or a sound device the show plays all the same, on
# SDL's stand-ins or a virtual X server, with a note (tools/play.sh).
if [ "${1:-}" = demo ]; then
  shift
  exec tools/play.sh build/demo/kolvex_demo "$@"
fi
# build/stage holds the intro's data and the vertigo effect: "dio.c" is read
# from the working directory, and plug-ins are looked for in "./" unless an
# installed plug-in directory exists (then only that one is scanned).
if [ -d /usr/local/share/orvanta ] && ! ls /usr/local/share/orvanta/*-darwin.so >/dev/null 2>&1; then
  echo "note: /usr/local/share/orvanta exists without plug-ins: the intro runs without its effect"
fi
cd build/stage
exec ../../tools/play.sh ../intro/orvanta
