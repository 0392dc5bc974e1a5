#!/usr/bin/env python3
"""Composes the intro's music and writes it as a FastTracker 2 module.

    data/tolvek-climax.xm

Every sample is synthesised here (additive saws and squares, noise, sine
sweeps) and every note comes from the score below; nothing is read in.
The track is in A minor at 120 BPM, speed 6: one 64-row pattern is four
bars of sixteenth notes, eight seconds.  Thirty orders make 240 seconds:

    0-3    intro: pads alone, then hats, kick and bass, a first riser
    4-7    groove: full drums, bass line, arpeggio
    8-11   the same with the lead melody
    12-15  breakdown: no drums, soft lead, snare build and riser
    16-23  climax: brighter progression, second melody, open hats
    24-25  groove again
    26-29  outro: drums thin out, pads and arpeggio fade

The restart position points at the groove, so the song loops if the
intro runs longer than the module.

Regenerate (from the repository root):  python3 tools/mkxm.py
Output is deterministic (fixed random seeds, no timestamps).
"""

import argparse
import math
import os
import random
import struct

CHANNELS = 10
ROWS = 64
SPEED = 6
BPM = 120
RESTART = 4

# Channel roles.
KICK, SNARE, HATS, BASS, PAD1, PAD2, PAD3, LEAD, ARP, FX = range(CHANNELS)

KEY_OFF = 97
BASE_RATE = 8363.0          # playback rate of C-4 with no relative note
PERIOD = 128                # samples per cycle of the tonal samples


# ---------------------------------------------------------------- notes

_SEMI = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def note(name):
    """'A4', 'C#5', 'Bb3' -> XM note number (C-0 is 1, C-4 is 49)."""
    semi = _SEMI[name[0]]
    rest = name[1:]
    if rest[0] == "#":
        semi, rest = semi + 1, rest[1:]
    elif rest[0] == "b":
        semi, rest = semi - 1, rest[1:]
    return int(rest) * 12 + semi + 1


def tuning(rate):
    """Relative note and finetune that make C-4 play at `rate` Hz."""
    semis = 12.0 * math.log2(rate / BASE_RATE)
    rel = int(round(semis))
    fine = max(-128, min(127, int(round((semis - rel) * 128))))
    return rel, fine


# ------------------------------------------------------------- synthesis

def harmonic_table(weights, size=2048):
    """One cycle of sum(w_h * sin(h x)), h from 1."""
    out = [0.0] * size
    for h, w in enumerate(weights, 1):
        if w == 0.0:
            continue
        step = 2.0 * math.pi * h / size
        for i in range(size):
            out[i] += w * math.sin(step * i)
    return out


def saw_weights(count, bright):
    return [(1.0 / h) * math.exp(-h / bright) for h in range(1, count + 1)]


def square_weights(count, bright):
    return [((1.0 / h) if h % 2 else 0.0) * math.exp(-h / bright)
            for h in range(1, count + 1)]


def oscillators(table, length, cycles):
    """Sum of oscillators reading `table`; oscillator k makes cycles[k]
    whole cycles in `length` samples, so the result loops seamlessly."""
    size = len(table)
    out = [0.0] * length
    for c in cycles:
        step = c * size / length
        for i in range(length):
            p = i * step
            j = int(p)
            f = p - j
            a = table[j % size]
            b = table[(j + 1) % size]
            out[i] += a + (b - a) * f
    return out


def normalise(sig, peak=0.9):
    top = max(abs(s) for s in sig) or 1.0
    return [s * peak / top for s in sig]


def one_pole_hp(sig, a):
    out, prev_x, prev_y = [], 0.0, 0.0
    for x in sig:
        y = a * (prev_y + x - prev_x)
        out.append(y)
        prev_x, prev_y = x, y
    return out


def make_pad():
    # Three saws a hair apart (1/256 of the pitch) beat about once a
    # second; a sine an octave down gives the pad its floor.
    length = PERIOD * 256
    saw = harmonic_table(saw_weights(40, 9.0))
    sub = harmonic_table([1.0])
    sig = oscillators(saw, length, [256, 255, 257])
    low = oscillators(sub, length, [128])
    sig = [s + 0.8 * l for s, l in zip(sig, low)]
    return normalise(sig), 0, length


def make_lead():
    length = PERIOD * 128
    wave = harmonic_table([s + 0.6 * q for s, q in
                           zip(saw_weights(24, 14.0),
                               square_weights(24, 14.0))])
    sig = oscillators(wave, length, [128, 127, 129])
    return normalise(sig), 0, length


def decaying_cycles(cycles, hold, weights_at, amp_at):
    """Cycle by cycle synthesis whose timbre and level change until cycle
    `hold`, then stay put; returns samples and the loop start."""
    sig = []
    for c in range(cycles):
        cc = min(c, hold)
        w = weights_at(cc)
        amp = amp_at(cc)
        for i in range(PERIOD):
            x = 2.0 * math.pi * i / PERIOD
            sig.append(amp * sum(wh * math.sin(h * x)
                                 for h, wh in enumerate(w, 1) if wh))
    return sig, hold * PERIOD


def make_bass():
    # Bright attack that closes down, like a filter envelope.
    def weights(c):
        bright = 2.0 + 14.0 * math.exp(-c / 6.0)
        w = saw_weights(32, bright)
        w[0] += 0.7                 # sine body
        return w
    sig, loop = decaying_cycles(48, 32, weights, lambda c: 1.0)
    return normalise(sig), loop, len(sig) - loop


def make_pluck():
    def weights(c):
        return square_weights(31, 2.0 + 18.0 * math.exp(-c / 20.0))
    sig, _ = decaying_cycles(160, 159, weights,
                             lambda c: math.exp(-c / 45.0))
    return normalise(sig), None, 0


DRUM_RATE = 44100
FX_RATE = 22050


def make_kick():
    n = int(0.45 * DRUM_RATE)
    rnd = random.Random(1)
    sig, phase = [], 0.0
    for i in range(n):
        t = i / DRUM_RATE
        freq = 44.0 + 120.0 * math.exp(-t / 0.035)
        phase += 2.0 * math.pi * freq / DRUM_RATE
        amp = math.exp(-t / 0.22)
        click = (rnd.uniform(-1, 1) * math.exp(-t / 0.002)) * 0.4
        sig.append(math.tanh(1.8 * (amp * math.sin(phase) + click)))
    return normalise(sig, 0.95), None, 0


def make_snare():
    n = int(0.32 * DRUM_RATE)
    rnd = random.Random(2)
    noise = one_pole_hp([rnd.uniform(-1, 1) for _ in range(n)], 0.75)
    sig, phase = [], 0.0
    for i in range(n):
        t = i / DRUM_RATE
        phase += 2.0 * math.pi * (175.0 + 60.0 * math.exp(-t / 0.01)) \
            / DRUM_RATE
        body = 0.7 * math.sin(phase) * math.exp(-t / 0.045)
        sig.append(body + noise[i] * math.exp(-t / 0.09))
    return normalise(sig), None, 0


def metal(n, rate, rnd_seed):
    # Six detuned square waves, the classic drum machine cymbal.
    freqs = [205.3, 304.4, 369.6, 522.7, 540.0, 800.0]
    rnd = random.Random(rnd_seed)
    out = []
    for i in range(n):
        t = i / rate
        s = sum(1.0 if math.sin(2.0 * math.pi * f * 2.3 * t) >= 0 else -1.0
                for f in freqs)
        out.append(s / 6.0 + 0.8 * rnd.uniform(-1, 1))
    return one_pole_hp(one_pole_hp(out, 0.6), 0.6)


def make_hat(seconds, decay, seed, rate=DRUM_RATE):
    n = int(seconds * rate)
    raw = metal(n, rate, seed)
    sig = [raw[i] * math.exp(-(i / rate) / decay) for i in range(n)]
    return normalise(sig), None, 0


def make_riser():
    # Four seconds of noise opening up under a rising whistle.
    n = 4 * FX_RATE
    rnd = random.Random(4)
    sig, lp, phase = [], 0.0, 0.0
    for i in range(n):
        t = i / n
        cutoff = 0.02 + 0.5 * t * t
        lp += cutoff * (rnd.uniform(-1, 1) - lp)
        phase += 2.0 * math.pi * (200.0 * 2.0 ** (3.0 * t)) / FX_RATE
        amp = t ** 1.5
        sig.append(amp * (lp * 2.5 + 0.25 * math.sin(phase)))
    return normalise(sig, 0.8), None, 0


# ------------------------------------------------------------ instruments

class Instrument:
    def __init__(self, name, make, rate=None, volume=64, pan=128,
                 env=None, sustain=None, fadeout=0, vibrato=None,
                 bits=16):
        self.name = name
        self.sig, self.loop_start, self.loop_len = make()
        self.rate = rate or PERIOD * 261.6256
        self.volume = volume
        self.pan = pan
        self.env = env
        self.sustain = sustain
        self.fadeout = fadeout
        self.vibrato = vibrato or (0, 0, 0, 0)
        self.bits = bits


INSTRUMENTS = [
    ("kick", lambda: Instrument("kick", make_kick, DRUM_RATE)),
    ("snare", lambda: Instrument("snare", make_snare, DRUM_RATE, pan=120)),
    ("hat", lambda: Instrument("closed hat",
                               lambda: make_hat(0.09, 0.018, 3),
                               DRUM_RATE, pan=156)),
    ("ohat", lambda: Instrument("open hat",
                                lambda: make_hat(0.45, 0.12, 5),
                                DRUM_RATE, pan=100)),
    ("bass", lambda: Instrument("bass", make_bass,
                                env=[(0, 64), (6, 54), (40, 44)],
                                sustain=2, fadeout=3000)),
    ("pad", lambda: Instrument("dark pad", make_pad,
                               env=[(0, 0), (30, 64), (90, 48)],
                               sustain=2, fadeout=600,
                               vibrato=(0, 60, 2, 6))),
    ("lead", lambda: Instrument("lead", make_lead,
                                env=[(0, 0), (2, 64), (24, 50)],
                                sustain=2, fadeout=1500,
                                vibrato=(0, 30, 3, 10), pan=136)),
    ("pluck", lambda: Instrument("pluck", make_pluck, pan=88,
                                 env=[(0, 64), (8, 36), (30, 10), (60, 0)])),
    ("crash", lambda: Instrument("crash",
                                 lambda: make_hat(1.8, 0.55, 6, FX_RATE),
                                 FX_RATE, pan=144)),
    ("riser", lambda: Instrument("riser", make_riser, FX_RATE)),
]
INS = {key: i + 1 for i, (key, _) in enumerate(INSTRUMENTS)}


def pack_envelope(points):
    data = b"".join(struct.pack("<HH", x, y) for x, y in points)
    return data.ljust(48, b"\0")


def sample_bytes(inst):
    """Delta-encoded sample data."""
    out = bytearray()
    prev = 0
    if inst.bits == 16:
        for s in inst.sig:
            v = max(-32768, min(32767, int(round(s * 32767))))
            out += struct.pack("<h", ((v - prev + 32768) & 0xFFFF) - 32768)
            prev = v
    else:
        for s in inst.sig:
            v = max(-128, min(127, int(round(s * 127))))
            out += struct.pack("<b", ((v - prev + 128) & 0xFF) - 128)
            prev = v
    return bytes(out)


def instrument_bytes(inst):
    width = 2 if inst.bits == 16 else 1
    rel, fine = tuning(inst.rate)
    env = inst.env or []
    voltype = 0
    if env:
        voltype |= 1
        if inst.sustain is not None:
            voltype |= 2
    vtype, vsweep, vdepth, vrate = inst.vibrato
    head = struct.pack(
        "<I22sBHI96s48s48s14BHH",
        263, inst.name.encode("ascii"), 0, 1, 40, bytes(96),
        pack_envelope(env), pack_envelope([]),
        len(env), 0, inst.sustain or 0, 0, 0, 0, 0, 0, voltype, 0,
        vtype, vsweep, vdepth, vrate, inst.fadeout, 0)
    head = head.ljust(263, b"\0")
    loop_type = 0 if inst.loop_start is None else 1
    loop_start = inst.loop_start or 0
    smp = struct.pack(
        "<IIIBbBBbB22s",
        len(inst.sig) * width, loop_start * width, inst.loop_len * width,
        inst.volume, fine, loop_type | (0x10 if width == 2 else 0),
        inst.pan, rel, 0, inst.name.encode("ascii"))
    return head + smp + sample_bytes(inst)


# ------------------------------------------------------------------ score

# Chord name -> (bass root, three pad notes), voiced to move little.
CHORDS = {
    "Am": ("A1", ("A3", "C4", "E4")),
    "F":  ("F1", ("A3", "C4", "F4")),
    "Dm": ("D2", ("A3", "D4", "F4")),
    "E":  ("E1", ("G#3", "B3", "E4")),
    "C":  ("C2", ("G3", "C4", "E4")),
    "G":  ("G1", ("G3", "B3", "D4")),
}
ARP_NOTES = {
    "Am": ("A4", "C5", "E5", "A5"),
    "F":  ("F4", "A4", "C5", "F5"),
    "Dm": ("D4", "F4", "A4", "D5"),
    "E":  ("E4", "G#4", "B4", "E5"),
    "C":  ("C5", "E5", "G5", "C6"),
    "G":  ("B4", "D5", "G5", "B5"),
}

MAIN = ("Am", "F", "Dm", "E")
LIFT = ("Am", "F", "C", "G")

# Melodies: 16 steps a bar; '.' holds, '-' releases.
MELODY_A1 = """
A4 . . . . . C5 . E5 . . . D5 . C5 .
C5 . . . . . A4 . F4 . . . A4 . C5 .
D5 . . . F5 . . . E5 . D5 . C5 . A4 .
B4 . . . . . . . G#4 . . . - . . .
"""
MELODY_A2 = """
A4 . . . . . C5 . E5 . . . A5 . G5 .
F5 . . . E5 . C5 . A4 . . . C5 . F5 .
E5 . . . D5 . . . C5 . D5 . F5 . E5 .
E5 . . . . . . . . . . . - . . .
"""
MELODY_B1 = """
E5 . A5 . . . B5 . C6 . . . B5 . A5 .
A5 . . . . . G5 . F5 . . . E5 . F5 .
G5 . . . E5 . . . C5 . . . E5 . G5 .
G5 . . . . . F5 . D5 . . . B4 . D5 .
"""
MELODY_B2 = """
E5 . A5 . . . B5 . C6 . . . D6 . E6 .
C6 . . . . . A5 . F5 . . . A5 . C6 .
D6 . . . C6 . . . A5 . . . F5 . A5 .
G#5 . . . . . B5 . E5 . . . - . . .
"""


def parse_melody(text):
    return text.split()


# Ten voices at full level clip libmikmod's mixer at the intro's volume
# settings; every volume of the score is scaled by this.
MIX = 0.72


def level(vol):
    return max(0, min(64, int(round(vol * MIX))))


class Pattern:
    def __init__(self):
        # cell: [note, instrument, volume column, effect, parameter]
        self.cells = [[[0, 0, 0, 0, 0] for _ in range(CHANNELS)]
                      for _ in range(ROWS)]

    def put(self, row, ch, n, ins=0, vol=None, eff=0, par=0):
        cell = self.cells[row][ch]
        cell[0] = n
        cell[1] = ins
        cell[2] = 0 if vol is None else 0x10 + level(vol)
        cell[3], cell[4] = eff, par

    def vol(self, row, ch, vol):
        self.cells[row][ch][2] = 0x10 + level(vol)

    def pack(self):
        data = bytearray()
        for row in self.cells:
            for n, ins, vol, eff, par in row:
                mask = 0x80
                fields = b""
                for bit, value in ((1, n), (2, ins), (4, vol), (8, eff),
                                   (16, par)):
                    if value:
                        mask |= bit
                        fields += bytes([value])
                data.append(mask)
                data += fields
        return struct.pack("<IBHH", 9, 0, ROWS, len(data)) + bytes(data)


def scaled(v, level):
    return int(round(v * level))


def drums(p, kick=0.0, snare=0.0, hats=0.0, ohats=0.0, fill=False,
          sparse_kick=False):
    for bar in range(4):
        base = bar * 16
        for step in range(16):
            row = base + step
            if kick and step % 4 == 0 and not (sparse_kick and step % 8):
                p.put(row, KICK, note("C4"), INS["kick"], scaled(64, kick))
            if kick and bar == 3 and step == 14 and not fill:
                p.put(row, KICK, note("C4"), INS["kick"], scaled(40, kick))
            if snare and step in (4, 12):
                p.put(row, SNARE, note("C4"), INS["snare"],
                      scaled(52, snare))
            if hats:
                loud = step % 4 == 2
                if ohats and loud:
                    p.put(row, HATS, note("C4"), INS["ohat"],
                          scaled(40, ohats))
                else:
                    v = 40 if loud else (22 if step % 2 == 0 else 14)
                    p.put(row, HATS, note("C4"), INS["hat"], scaled(v, hats))
    if fill:
        # Last bar: snare sixteenths rising to the downbeat.
        for step in range(16):
            row = 48 + step
            if step >= 8 or step % 2 == 0:
                p.put(row, SNARE, note("C4"), INS["snare"], 20 + step * 2)


def bass(p, prog, level, style):
    for bar, chord in enumerate(prog):
        root = note(CHORDS[chord][0])
        base = bar * 16
        if style == "long":
            p.put(base, BASS, root, INS["bass"], scaled(56, level))
            p.put(base + 14, BASS, KEY_OFF)
            continue
        for step in range(0, 16, 2):
            n = root + (12 if step in (6, 14) else 0)
            if style == "drive" and step == 10:
                n = root + 7
            p.put(base + step, BASS, n, INS["bass"],
                  scaled(58 if step % 4 == 0 else 44, level))
            if style == "drive":
                p.put(base + step + 1, BASS, KEY_OFF)


def pads(p, prog, level, fade_to=None):
    for bar, chord in enumerate(prog):
        v = level
        if fade_to is not None:
            v = level + (fade_to - level) * bar / 3.0
        # Effect 8xx spreads the three voices across the stereo field.
        for ch, name, pan in zip((PAD1, PAD2, PAD3), CHORDS[chord][1],
                                 (0x48, 0x80, 0xB8)):
            p.put(bar * 16, ch, note(name), INS["pad"], scaled(30, v),
                  eff=8, par=pan)


def arp(p, prog, level, fade_to=None):
    order = (0, 1, 2, 3, 2, 1, 2, 3)
    for bar, chord in enumerate(prog):
        notes = ARP_NOTES[chord]
        lv = level
        if fade_to is not None:
            lv = level + (fade_to - level) * bar / 3.0
        for step in range(16):
            n = note(notes[order[step % 8]])
            p.put(bar * 16 + step, ARP, n, INS["pluck"],
                  scaled(34 if step % 2 == 0 else 20, lv))


def lead(p, melody, level):
    for row, tok in enumerate(parse_melody(melody)):
        if tok == ".":
            continue
        if tok == "-":
            p.put(row, LEAD, KEY_OFF)
        else:
            p.put(row, LEAD, note(tok), INS["lead"], scaled(44, level))


def fx(p, row, name, n="C4", vol=56):
    p.put(row, FX, note(n), INS[name], vol)


def section(kind, half):
    """One pattern of the song.  `half` alternates 0/1 within a section
    so that melodies and fills span two patterns."""
    p = Pattern()
    if kind == "intro1":
        pads(p, MAIN, 0.8)
        p.put(0, BASS, note("A1"), INS["bass"], 40)
    elif kind == "intro2":
        pads(p, MAIN, 0.9)
        drums(p, hats=0.6)
        bass(p, MAIN, 0.7, "long")
    elif kind == "build1":
        pads(p, MAIN, 0.9)
        drums(p, kick=0.8, hats=0.8, sparse_kick=True)
        bass(p, MAIN, 0.85, "eighths")
    elif kind == "build2":
        pads(p, MAIN, 0.9)
        drums(p, kick=0.9, hats=0.9, fill=True)
        bass(p, MAIN, 0.9, "eighths")
        arp(p, MAIN, 0.6)
        fx(p, 32, "riser", vol=40)
    elif kind in ("groove", "groove_lead", "regroove"):
        pads(p, MAIN, 0.85)
        drums(p, kick=1.0, snare=1.0, hats=1.0, fill=half == 1)
        bass(p, MAIN, 1.0, "drive")
        arp(p, MAIN, 0.8)
        if kind == "groove_lead":
            lead(p, MELODY_A1 if half == 0 else MELODY_A2, 1.0)
        if half == 0 and kind != "regroove":
            fx(p, 0, "crash", vol=36)
    elif kind == "break1":
        pads(p, MAIN, 1.0)
        bass(p, MAIN, 0.7, "long")
        arp(p, MAIN, 0.5)
        lead(p, MELODY_A1 if half == 0 else MELODY_A2, 0.6)
        if half == 0:
            fx(p, 0, "crash", vol=40)
    elif kind == "break2":
        pads(p, MAIN, 1.0)
        bass(p, MAIN, 0.8, "long")
        arp(p, MAIN, 0.6)
        drums(p, kick=0.7, hats=0.5, sparse_kick=half == 0,
              fill=half == 1)
        if half == 1:
            fx(p, 0, "riser", vol=60)
    elif kind in ("climax", "climax2"):
        prog = LIFT if half == 0 else MAIN
        pads(p, prog, 1.0)
        drums(p, kick=1.0, snare=1.0, hats=1.0, ohats=1.0,
              fill=(kind == "climax2" and half == 1))
        bass(p, prog, 1.0, "drive")
        arp(p, prog, 0.9)
        lead(p, MELODY_B1 if half == 0 else MELODY_B2, 1.0)
        if half == 0:
            fx(p, 0, "crash", vol=50)
    elif kind == "outro1":
        pads(p, MAIN, 0.9)
        drums(p, kick=0.8, hats=0.7, sparse_kick=half == 1)
        bass(p, MAIN, 0.8, "eighths")
        arp(p, MAIN, 0.7)
        if half == 0:
            fx(p, 0, "crash", vol=36)
    elif kind == "outro2":
        pads(p, MAIN, 0.9 if half == 0 else 0.8,
             fade_to=0.8 if half == 0 else 0.5)
        arp(p, MAIN, 0.6 if half == 0 else 0.5,
            fade_to=0.5 if half == 0 else 0.3)
        drums(p, hats=0.5 if half == 0 else 0.3)
        bass(p, MAIN, 0.7 if half == 0 else 0.5, "long")
        if half == 1:
            # Let the last chord ring into the loop back to the groove.
            for ch in (PAD1, PAD2, PAD3, ARP):
                p.vol(63, ch, 10)
    else:
        raise ValueError(kind)
    return p


SONG = (["intro1", "intro2", "build1", "build2"]
        + ["groove"] * 4
        + ["groove_lead"] * 4
        + ["break1", "break1", "break2", "break2"]
        + ["climax"] * 6 + ["climax2"] * 2
        + ["regroove"] * 2
        + ["outro1", "outro1", "outro2", "outro2"])


def build_song():
    patterns, index, order = [], {}, []
    for pos, kind in enumerate(SONG):
        half = pos % 2
        if kind in ("intro1", "intro2", "build1", "build2"):
            half = 0
        data = section(kind, half).pack()
        if data not in index:
            index[data] = len(patterns)
            patterns.append(data)
        order.append(index[data])
    return patterns, order


def module_bytes():
    patterns, order = build_song()
    instruments = [make() for _, make in INSTRUMENTS]
    head = b"Extended Module: "
    head += b"tolvek climax".ljust(20, b"\0")
    head += b"\x1a" + b"kolvex mkxm.py".ljust(20, b"\0")
    head += struct.pack("<HIHHHHHHHH", 0x0104, 276, len(order), RESTART,
                        CHANNELS, len(patterns), len(instruments),
                        1, SPEED, BPM)
    head += bytes(order).ljust(256, b"\0")
    body = b"".join(patterns)
    body += b"".join(instrument_bytes(i) for i in instruments)
    return head + body, len(order), len(patterns), len(instruments)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=os.path.join(root, "data",
                                                  "tolvek-climax.xm"))
    args = ap.parse_args()
    data, orders, npat, nins = module_bytes()
    with open(args.out, "wb") as f:
        f.write(data)
    seconds = orders * ROWS * SPEED * 2.5 / BPM
    print("%s: %d bytes, %d orders, %d patterns, %d instruments, %.0f s"
          % (args.out, len(data), orders, npat, nins, seconds))


if __name__ == "__main__":
    main()
