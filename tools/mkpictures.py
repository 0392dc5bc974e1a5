#!/usr/bin/env python3
"""Draws the intro's two pictures and writes them as 8-bit RGB PNGs.

    data/ant.png    400x300  an ant seen from above, shaded, on a dark
                             ground; smaller than the screen, so the
                             engine centres it
    data/code.png   800x600  a green phosphor hex dump with a column of
                             counters; larger than the screen, so the
                             engine crops it

The glyphs of code.png are the 8x8 scroller font, read from
layers/scroll_font.cpp.  The intro blends whole frames with one alpha
(the pictures' own alpha is not used), so neither picture has an alpha
channel.

Regenerate (from the repository root):  python3 tools/mkpictures.py
Output is deterministic (fixed random seeds; PNGs carry no timestamp).
"""

import argparse
import math
import os
import random
import re
import struct
import zlib


# --------------------------------------------------------------- canvas

class Canvas:
    """Float RGB pixels, 0..1, row-major."""

    def __init__(self, w, h, colour=(0.0, 0.0, 0.0)):
        self.w, self.h = w, h
        self.px = [list(colour) for _ in range(w * h)]

    def blend(self, x, y, colour, cover):
        p = self.px[y * self.w + x]
        for i in range(3):
            p[i] += (colour[i] - p[i]) * cover

    def png(self):
        raw = bytearray()
        for y in range(self.h):
            raw.append(0)                     # filter: none
            for p in self.px[y * self.w:(y + 1) * self.w]:
                raw += bytes(max(0, min(255, int(c * 255.0 + 0.5)))
                             for c in p)
        return png_bytes(self.w, self.h, bytes(raw))


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def png_bytes(w, h, raw):
    ihdr = struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)   # 8-bit RGB
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr)
            + png_chunk(b"IDAT", zlib.compress(raw, 9))
            + png_chunk(b"IEND", b""))


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def normalize(v):
    n = math.sqrt(sum(c * c for c in v)) or 1.0
    return tuple(c / n for c in v)


LIGHT = normalize((-0.45, -0.55, 0.70))
HALF = normalize((LIGHT[0], LIGHT[1], LIGHT[2] + 1.0))


def shade(base, normal, shine=0.5, gloss=30.0):
    diffuse = max(0.0, sum(a * b for a, b in zip(normal, LIGHT)))
    highlight = max(0.0, sum(a * b for a, b in zip(normal, HALF))) ** gloss
    amb = 0.18
    return tuple(clamp(c * (amb + 0.95 * diffuse) + shine * highlight)
                 for c in base)


# ------------------------------------------------------------------ ant

CHITIN = (0.80, 0.28, 0.09)
CHITIN_DARK = (0.58, 0.19, 0.07)
# The intro shows the ant at a low alpha over white text: keep it bright.


def ellipsoid(cv, cx, cy, a, b, angle, base, shine=0.55, bump=None):
    """Shaded ellipse, a along `angle`; coverage from an approximate
    distance for soft edges."""
    ca, sa = math.cos(angle), math.sin(angle)
    r = max(a, b) + 2
    for y in range(max(0, int(cy - r)), min(cv.h, int(cy + r) + 2)):
        for x in range(max(0, int(cx - r)), min(cv.w, int(cx + r) + 2)):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            u = (dx * ca + dy * sa) / a
            v = (-dx * sa + dy * ca) / b
            q = math.sqrt(u * u + v * v)
            cover = clamp((1.0 - q) * min(a, b) + 0.5)
            if cover <= 0.0:
                continue
            z = math.sqrt(max(0.0, 1.0 - min(1.0, q * q)))
            # Normal in screen space from the ellipse's local normal.
            nu, nv = u / a, v / b
            nx = nu * ca - nv * sa
            ny = nu * sa + nv * ca
            n = normalize((nx * min(a, b), ny * min(a, b), z + 0.05))
            colour = base
            if bump:
                colour = bump(u, v, colour)
            cv.blend(x, y, shade(colour, n, shine), cover)


def capsule(cv, x0, y0, x1, y1, r0, r1, base, shine=0.35):
    """Shaded segment whose radius goes from r0 to r1: a leg or an
    antenna part, lit like a cylinder."""
    lx, ly = x1 - x0, y1 - y0
    ll = lx * lx + ly * ly or 1.0
    pad = max(r0, r1) + 2
    for y in range(max(0, int(min(y0, y1) - pad)),
                   min(cv.h, int(max(y0, y1) + pad) + 2)):
        for x in range(max(0, int(min(x0, x1) - pad)),
                       min(cv.w, int(max(x0, x1) + pad) + 2)):
            px, py = x + 0.5 - x0, y + 0.5 - y0
            t = clamp((px * lx + py * ly) / ll)
            dx, dy = px - lx * t, py - ly * t
            d = math.sqrt(dx * dx + dy * dy)
            r = r0 + (r1 - r0) * t
            cover = clamp(r - d + 0.5)
            if cover <= 0.0:
                continue
            k = min(1.0, d / max(r, 0.5))
            z = math.sqrt(max(0.0, 1.0 - k * k))
            n = normalize((dx / max(d, 1e-6) * k, dy / max(d, 1e-6) * k,
                           z + 0.05))
            cv.blend(x, y, shade(base, n, shine, 20.0), cover)


def shadow(cv, cx, cy, a, b, strength):
    r = max(a, b) * 1.6
    for y in range(max(0, int(cy - r)), min(cv.h, int(cy + r) + 1)):
        for x in range(max(0, int(cx - r)), min(cv.w, int(cx + r) + 1)):
            u, v = (x - cx) / a, (y - cy) / b
            q = u * u + v * v
            cv.blend(x, y, (0.0, 0.0, 0.0), strength * math.exp(-q * 1.6))


def ground(w, h):
    cv = Canvas(w, h)
    rnd = random.Random(11)
    for y in range(h):
        for x in range(w):
            dx, dy = (x - w * 0.5) / (w * 0.5), (y - h * 0.5) / (h * 0.5)
            g = clamp(1.0 - 0.55 * (dx * dx + dy * dy))
            grain = rnd.uniform(-0.025, 0.025)
            p = cv.px[y * w + x]
            p[0] = clamp(0.10 * g + grain)
            p[1] = clamp(0.08 * g + grain)
            p[2] = clamp(0.14 * g + grain * 1.4)
    return cv


def leg(cv, hip, knee, foot, rh, rk, rf):
    capsule(cv, hip[0], hip[1], knee[0], knee[1], rh, rk, CHITIN_DARK)
    capsule(cv, knee[0], knee[1], foot[0], foot[1], rk, rf, CHITIN_DARK)
    # Tarsus: a short, thin last segment bent outwards.
    fx = foot[0] + (foot[0] - knee[0]) * 0.25
    fy = foot[1] + (foot[1] - knee[1]) * 0.25
    capsule(cv, foot[0], foot[1], fx, fy, rf, rf * 0.7, CHITIN_DARK)


def gaster_bands(u, v, colour):
    # Darker rings across the abdomen, one per segment.
    band = 0.5 + 0.5 * math.cos((u + 1.0) * math.pi * 2.5)
    k = 1.0 - 0.28 * band ** 6
    return tuple(c * k for c in colour)


def draw_ant(w=400, h=300):
    cv = ground(w, h)
    cy = h * 0.5
    # Body axis along x: gaster left, head right.
    shadow(cv, w * 0.50 + 10, cy + 14, 150, 46, 0.55)

    # Legs: (hip on the thorax, knee, foot) for the upper side; the
    # lower side mirrors them with a slight stagger, as in a stride.
    legs = [((228, -8), (262, -58), (300, -96)),
            ((212, -8), (208, -62), (196, -112)),
            ((196, -6), (160, -52), (104, -92))]
    for (hip, knee, foot), stagger in zip(legs, (10, -8, 12)):
        for side in (-1, 1):
            s = stagger if side > 0 else 0
            leg(cv, (hip[0], cy + hip[1] * side),
                (knee[0] + s, cy + knee[1] * side),
                (foot[0] + s * 1.5, cy + foot[1] * side), 5.0, 4.0, 2.6)

    # Antennae: long scape forwards, then the elbowed funiculus.
    for side in (-1, 1):
        base = (300, cy + 10 * side)
        elbow = (340, cy + 38 * side)
        tip = (388, cy + 22 * side)
        capsule(cv, base[0], base[1], elbow[0], elbow[1], 2.6, 2.2,
                CHITIN_DARK)
        capsule(cv, elbow[0], elbow[1], tip[0], tip[1], 2.2, 3.0,
                CHITIN_DARK)

    ellipsoid(cv, 105, cy, 78, 56, 0.0, CHITIN, 0.7, gaster_bands)
    ellipsoid(cv, 186, cy, 12, 11, 0.0, CHITIN_DARK, 0.4)     # petiole
    ellipsoid(cv, 215, cy, 36, 20, 0.0, CHITIN, 0.55)         # thorax
    ellipsoid(cv, 198, cy, 16, 15, 0.0, CHITIN, 0.5)          # propodeum
    # Mandibles, then the head over their roots.
    for side in (-1, 1):
        capsule(cv, 300, cy + 12 * side, 322, cy + 4 * side, 5.0, 2.0,
                CHITIN_DARK, 0.6)
    ellipsoid(cv, 278, cy, 34, 30, 0.0, CHITIN, 0.6)
    for side in (-1, 1):
        ellipsoid(cv, 284, cy + 24 * side, 8, 6, 0.25 * side,
                  (0.05, 0.04, 0.04), 0.9)                    # eyes
    return cv


# ----------------------------------------------------------------- code

def load_font(root):
    path = os.path.join(root, "layers", "scroll_font.cpp")
    with open(path) as f:
        text = f.read()
    body = text[text.index("{") + 1:text.rindex("}")]
    body = re.sub(r"//[^\n]*", "", body)
    data = [int(t, 16) for t in re.findall(r"0x[0-9A-Fa-f]{2}", body)]
    if len(data) != 2048:
        raise SystemExit("%s: expected 2048 font bytes, found %d"
                         % (path, len(data)))
    return data


STORY = (b"awakening. a strange thing called consciousness. "
         b"my language, my memory is an operating machine. "
         b"who is inventing? somebody else must be counting. ")


def dump_bytes(count):
    """Mostly noise, with runs of readable text and zero padding, so
    the dump looks like memory."""
    rnd = random.Random(7)
    out = bytearray()
    pos = 0
    while len(out) < count:
        kind = rnd.random()
        if kind < 0.25:
            n = rnd.randint(16, 40)
            out += STORY[pos:pos + n]
            pos = (pos + n) % (len(STORY) - 40)
        elif kind < 0.35:
            out += bytes(rnd.randint(4, 20))
        else:
            out += bytes(rnd.randrange(256) for _ in range(rnd.randint(8,
                                                                       48)))
    return bytes(out[:count])


def dump_lines(rows):
    data = dump_bytes(rows * 16)
    rnd = random.Random(9)
    lines = []
    for r in range(rows):
        chunk = data[r * 16:(r + 1) * 16]
        hexpart = " ".join("%02x" % b for b in chunk[:8]) + "  " + \
            " ".join("%02x" % b for b in chunk[8:])
        text = "".join(chr(b) if 32 <= b < 127 else "." for b in chunk)
        counter = "%08d" % (r * 4127 + rnd.randrange(1000))
        lines.append("%08x  %s  |%s|  %s" % (0x8049f00 + r * 16, hexpart,
                                             text, counter))
    return lines


def box_blur(src, w, h, radius):
    def line_pass(get, put, n, count):
        for j in range(count):
            acc = 0.0
            vals = [get(j, i) for i in range(n)]
            window = 2 * radius + 1
            for i in range(-radius, radius + 1):
                acc += vals[min(n - 1, max(0, i))]
            for i in range(n):
                put(j, i, acc / window)
                acc += vals[min(n - 1, i + radius + 1)]
                acc -= vals[max(0, i - radius)]
    tmp = [0.0] * (w * h)
    out = [0.0] * (w * h)
    line_pass(lambda y, x: src[y * w + x],
              lambda y, x, v: tmp.__setitem__(y * w + x, v), w, h)
    line_pass(lambda x, y: tmp[y * w + x],
              lambda x, y, v: out.__setitem__(y * w + x, v), h, w)
    return out


def draw_code(root, w=800, h=600):
    font = load_font(root)
    cell_w, cell_h = 8, 12
    left, top = 12, 8
    rows = (h - top) // cell_h
    lines = dump_lines(rows)
    ink = [0.0] * (w * h)
    rnd = random.Random(13)
    for r, line in enumerate(lines):
        # A few lines glow brighter, like the cursor row of a monitor.
        level = 1.0 if rnd.random() < 0.1 else 0.62
        for c, ch in enumerate(line):
            x0 = left + c * cell_w
            if x0 + 8 > w:
                break
            glyph = font[ord(ch) * 8:ord(ch) * 8 + 8]
            col_level = level * (0.7 if c < 8 or c > 76 else 1.0)
            for gy, bits in enumerate(glyph):
                y = top + r * cell_h + gy
                for gx in range(8):
                    if bits & (0x80 >> gx):
                        ink[y * w + x0 + gx] = col_level
    glow = box_blur(box_blur(ink, w, h, 2), w, h, 2)
    cv = Canvas(w, h)
    phosphor = (0.25, 1.0, 0.45)
    for y in range(h):
        scan = 0.82 if y % 2 else 1.0
        for x in range(w):
            i = y * w + x
            dx, dy = (x - w * 0.5) / (w * 0.5), (y - h * 0.5) / (h * 0.5)
            vignette = 1.0 - 0.35 * (dx * dx + dy * dy)
            v = (ink[i] + 0.9 * glow[i]) * scan * vignette
            p = cv.px[i]
            p[0] = clamp(0.01 + phosphor[0] * v + 0.25 * ink[i] ** 2)
            p[1] = clamp(0.03 + phosphor[1] * v)
            p[2] = clamp(0.02 + phosphor[2] * v + 0.15 * ink[i] ** 2)
    return cv


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=os.path.join(root, "data"),
                    help="directory for ant.png and code.png")
    args = ap.parse_args()
    for name, cv in (("ant.png", draw_ant()), ("code.png", draw_code(root))):
        path = os.path.join(args.out, name)
        data = cv.png()
        with open(path, "wb") as f:
            f.write(data)
        print("%s: %dx%d, %d bytes" % (path, cv.w, cv.h, len(data)))


if __name__ == "__main__":
    main()
