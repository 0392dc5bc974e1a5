#!/bin/sh
# play_test.sh PLAY_SH: each row runs play.sh with a stand-in program that
# prints the drivers it was given, in a made-up machine, and checks what
# ran, with which drivers, and the notes.
set -eu
play=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/nobin" "$work/run/pulse"
# The program: prints how it was started.
cat >"$work/show" <<'END'
#!/bin/sh
echo "video=${SDL_VIDEODRIVER:-} audio=${SDL_AUDIODRIVER:-} via=${VIA:-direct}"
END
# A stand-in xvfb-run: runs what follows its options, saying so.
cat >"$work/bin/xvfb-run" <<'END'
#!/bin/sh
while [ "${1#-}" != "$1" ]; do
  case $1 in -s) shift 2 ;; *) shift ;; esac
done
VIA=xvfb exec "$@"
END
chmod +x "$work/show" "$work/bin/xvfb-run"
python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$work/run/pulse/native"

sound_card=no
for dev in /dev/snd/pcmC*p; do [ -e "$dev" ] && sound_card=yes; done

failed=0 passed=0
# row NAME PATH-DIR "ENV..." EXPECTED-OUTPUT EXPECTED-NOTES (lines joined by |)
row() {
  name=$1 path=$2 vars=$3 want=$4 notes=$5
  got=$(env -i PATH="$work/$path" $vars /bin/sh "$play" "$work/show" 2>"$work/err")
  said=$(tr '\n' '|' <"$work/err" | sed 's/|$//')
  if [ "$got" = "$want" ] && [ "$said" = "$notes" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name"
    echo "  ran:  $got (wanted $want)"
    echo "  said: $said (wanted $notes)"
  fi
}

silent="note: no sound device: playing without sound (SDL's dummy audio)"
xvfb="note: no display: playing in a virtual X server (Xvfb), unseen"
offscreen="note: no display: playing offscreen (SDL's offscreen video), unseen"
server="XDG_RUNTIME_DIR=$work/run"

row "a desktop" bin "DISPLAY=:5 $server" "video= audio= via=direct" ""
row "wayland" bin "WAYLAND_DISPLAY=wayland-0 $server" "video= audio= via=direct" ""
row "no display, Xvfb installed" bin "$server" "video= audio= via=xvfb" "$xvfb"
row "no display, no Xvfb" nobin "$server" "video=offscreen audio= via=direct" "$offscreen"
row "drivers asked for are kept" nobin "SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk" \
  "video=dummy audio=disk via=direct" ""
row "a sound server named" bin "DISPLAY=:5 PULSE_SERVER=tcp:host" "video= audio= via=direct" ""
if [ $sound_card = no ]; then
  row "no sound device" bin "DISPLAY=:5 XDG_RUNTIME_DIR=$work/nobin" \
    "video= audio=dummy via=direct" "$silent"
  row "nothing at all" nobin "XDG_RUNTIME_DIR=$work/nobin" \
    "video=offscreen audio=dummy via=direct" "$silent|$offscreen"
fi
echo "$passed passed, $failed failed"
[ $failed = 0 ]
