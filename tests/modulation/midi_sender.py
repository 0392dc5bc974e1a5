# A MIDI controller for the tests: a JACK MIDI port "knobs" that opens,
# closes and sends as told on stdin, one command a line: "open", "close",
# or a message's bytes in hex ("b0 07 7f"). Ends with its stdin.
import sys

import rtmidi

out = None
for line in iter(sys.stdin.readline, ""):
    words = line.split()
    if words == ["open"]:
        out = rtmidi.MidiOut(rtmidi.API_UNIX_JACK, name="sender")
        out.open_virtual_port("knobs")
    elif words == ["close"]:
        out.close_port()
        out.delete()
        out = None
    elif words:
        out.send_message([int(w, 16) for w in words])
