#!/bin/sh
# The control surface as a phone and a tablet show it, with a show playing:
# docs/surface-phone.png and docs/surface-tablet.png, for the README.
#   tools/surface-screenshots.sh [BUILD-DIR]   (default build)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target kolvex_player_main kolvex_page
mkdir -p docs
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy KOLVEX_SCREENSHOTS="$PWD/docs" \
  /usr/bin/python3 tests/web/browser_test.py "$build/player/kolvex" data Layout
# 256 colours: the dark page loses nothing seen, and the files stay small.
for f in docs/surface-phone.png docs/surface-tablet.png; do
  convert "$f" -colors 256 "PNG8:$f"
done
