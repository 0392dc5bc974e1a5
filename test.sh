#!/bin/sh
# Installs what is missing, builds, and runs every test (the long ones too);
# then the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan), and the engine's threaded parts and the programme (through
# the capture program) built with ThreadSanitizer (build-tsan). Any sanitizer report fails its test.
#
#   ./test.sh                     everything
#   KOLVEX_SANITIZERS=0 ./test.sh  the plain build only
#   ./test.sh -LE long            extra arguments go to every ctest run
#
# Headless: the test harness sets SDL's dummy video driver itself.
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
jobs=$(nproc)

# build DIR [cmake options...]
build() {
  dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir"
}

build build
(cd build && ctest --output-on-failure -j"$jobs" "$@")

[ "${KOLVEX_SANITIZERS:-1}" = 0 ] && exit 0

# The fuzzers carry their own sanitizers, built by clang. The intro played
# in real time (nearly four minutes) runs the programme that Programme.*
# plays frame by frame on a virtual clock: the plain build has it.
build build-asan -DKOLVEX_SANITIZE=address,undefined -DKOLVEX_BUILD_BENCH=OFF
(cd build-asan && ctest --output-on-failure -j"$jobs" -E '^(fuzz|IntroProgramme)[.]' "$@")

# Picture decoding and the install have no threads of their own, and the
# intro's process tests only wait for what the in-process programme test
# runs frame by frame: they are left out here.
build build-tsan -DKOLVEX_SANITIZE=thread -DKOLVEX_BUILD_BENCH=OFF
(cd build-tsan && ctest --output-on-failure -j"$jobs" -LE long \
   -E '^(fuzz|install)[.]|^PngSuite|^Intro' "$@")
