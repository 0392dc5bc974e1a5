#!/bin/sh
# Installs what is missing, builds, and runs the demo in a window.
# Extra arguments go to the program (the demo takes its run time in seconds).
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
exec build/demo/kolvex_demo "$@"
