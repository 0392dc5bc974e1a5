#!/bin/sh
# Installs what is missing, builds, and runs every test (the long ones too).
# Headless: the test harness sets SDL's dummy video driver itself.
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
cd build
ctest --output-on-failure -j"$(nproc)" "$@"
