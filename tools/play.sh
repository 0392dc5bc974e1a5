#!/bin/sh
# play.sh PROGRAM [ARGS...]: runs a program of the engine (run.sh: the
# intro) on whatever this machine has, saying so in one line when it falls
# back:
#   no sound device  SDL's dummy audio: the show plays, silent;
#   no display       a virtual X server (xvfb-run) when installed, else
#                    SDL's offscreen video: the show plays, unseen.
# SDL_AUDIODRIVER or SDL_VIDEODRIVER set by the caller are kept as they are.
set -eu

# A sound card (ALSA playback device) or a sound server's socket.
has_sound() {
  for dev in /dev/snd/pcmC*p; do
    [ -e "$dev" ] && return 0
  done
  [ -n "${PULSE_SERVER:-}" ] && return 0
  run=${XDG_RUNTIME_DIR:-/run/user/$(id -u 2>/dev/null || echo 0)}
  [ -S "$run/pulse/native" ] || [ -S "$run/pipewire-0" ]
}

if [ -z "${SDL_AUDIODRIVER:-}" ] && ! has_sound; then
  echo "note: no sound device: playing without sound (SDL's dummy audio)" >&2
  SDL_AUDIODRIVER=dummy
  export SDL_AUDIODRIVER
fi
if [ -z "${SDL_VIDEODRIVER:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  if command -v xvfb-run >/dev/null 2>&1; then
    echo "note: no display: playing in a virtual X server (Xvfb), unseen" >&2
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
  fi
  echo "note: no display: playing offscreen (SDL's offscreen video), unseen" >&2
  SDL_VIDEODRIVER=offscreen
  export SDL_VIDEODRIVER
fi
exec "$@"
