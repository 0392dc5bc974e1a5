#!/usr/bin/env python3
"""Checks the committed data files against their generators and against
the file formats the intro's libraries read.

    python3 tests/tools/test_data.py        (from anywhere)
"""

import math
import os
import struct
import sys
import unittest
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
DATA = os.path.join(ROOT, "data")
sys.path.insert(0, os.path.join(ROOT, "tools"))

import mkpictures  # noqa: E402
import mkxm  # noqa: E402


def read(name):
    with open(os.path.join(DATA, name), "rb") as f:
        return f.read()


def walk_xm(data):
    """Parses a whole XM file the way a loader does; returns a summary
    and fails on any inconsistency."""
    assert data[:17] == b"Extended Module: ", "magic"
    assert data[37] == 0x1A
    version, hsize, length, restart, chans, npat, nins, flags, speed, \
        bpm = struct.unpack_from("<HIHHHHHHHH", data, 58)
    order = data[80:80 + length]
    pos = 60 + hsize
    rows_total = []
    for _ in range(npat):
        plen, ptype, rows, psize = struct.unpack_from("<IBHH", data, pos)
        assert (plen, ptype) == (9, 0)
        pos += plen
        end, cells = pos + psize, 0
        while pos < end:
            b = data[pos]
            pos += 1
            if b & 0x80:
                fields = bin(b & 0x1F).count("1")
                note = data[pos] if b & 1 else 0
            else:
                fields, note = 4, b
            assert note <= 97, "note %d" % note
            pos += fields
            cells += 1
        assert pos == end, "pattern data overruns its size"
        assert cells == rows * chans, "cells %d" % cells
        rows_total.append(rows)
    samples = []
    for _ in range(nins):
        isize, = struct.unpack_from("<I", data, pos)
        nsmp, shsize = struct.unpack_from("<HI", data, pos + 27)
        volpts = data[pos + 225]
        voltype = data[pos + 233]
        assert volpts <= 12
        if voltype & 1:
            xs = [struct.unpack_from("<H", data, pos + 129 + 4 * i)[0]
                  for i in range(volpts)]
            assert xs == sorted(xs) and len(set(xs)) == len(xs), \
                "envelope x must rise"
        pos += isize
        heads = []
        for _ in range(nsmp):
            heads.append(struct.unpack_from("<IIIBbBBbB", data, pos))
            pos += shsize
        for slen, lstart, llen, vol, _fine, stype, _pan, _rel, _r in heads:
            width = 2 if stype & 0x10 else 1
            assert slen % width == 0 and vol <= 64
            if stype & 3:
                assert lstart + llen <= slen and llen > 0, "loop"
            samples.append((slen // width, stype))
            pos += slen
    assert pos == len(data), "trailing or missing bytes"
    return dict(version=version, hsize=hsize, order=order,
                restart=restart, chans=chans, npat=npat, nins=nins,
                speed=speed, bpm=bpm, rows=rows_total, samples=samples,
                linear=flags & 1)


class Module(unittest.TestCase):
    def test_structure_and_length(self):
        xm = walk_xm(read("tolvek-climax.xm"))
        self.assertEqual((xm["version"], xm["hsize"]), (0x0104, 276))
        self.assertTrue(all(p < xm["npat"] for p in xm["order"]))
        self.assertLess(xm["restart"], len(xm["order"]))
        # No Fxx in the score, so the default speed and BPM hold.
        seconds = sum(xm["rows"][p] for p in xm["order"]) \
            * xm["speed"] * 2.5 / xm["bpm"]
        self.assertGreaterEqual(seconds, 230)
        self.assertLess(len(read("tolvek-climax.xm")), 1500000)

    def test_tuning_puts_c4_at_the_sample_rate(self):
        for rate in (44100.0, 22050.0, mkxm.PERIOD * 261.6256):
            rel, fine = mkxm.tuning(rate)
            played = mkxm.BASE_RATE * 2 ** ((rel + fine / 128.0) / 12)
            cents = 1200 * math.log2(played / rate)
            self.assertLess(abs(cents), 1.0, rate)

    def test_note_names(self):
        self.assertEqual(mkxm.note("C4"), 49)
        self.assertEqual(mkxm.note("A4") - mkxm.note("A3"), 12)
        self.assertEqual(mkxm.note("C#5"), mkxm.note("Db5"))

    def test_delta_encoding_round_trips(self):
        inst = mkxm.Instrument("t", lambda: ([0.0, 1.0, -1.0, 0.5, -0.25],
                                              None, 0))
        raw = mkxm.sample_bytes(inst)
        deltas = struct.unpack("<%dh" % (len(raw) // 2), raw)
        acc, values = 0, []
        for d in deltas:
            acc = (acc + d + 32768) % 65536 - 32768
            values.append(acc)
        self.assertEqual(values, [0, 32767, -32767, 16384, -8192])


def png_pixels(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, ihdr = 8, b"", None
    while pos < len(data):
        n, = struct.unpack_from(">I", data, pos)
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + n]
        crc, = struct.unpack_from(">I", data, pos + 8 + n)
        assert zlib.crc32(kind + body) & 0xFFFFFFFF == crc, kind
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    w, h, depth, ctype = ihdr[:4]
    assert (depth, ctype) == (8, 2)
    raw = zlib.decompress(idat)
    assert len(raw) == h * (1 + 3 * w)
    return w, h, raw


class Pictures(unittest.TestCase):
    def test_sizes_show_centring_and_cropping(self):
        w, h, _ = png_pixels(read("ant.png"))
        self.assertTrue(w < 640 and h < 480)
        w, h, _ = png_pixels(read("code.png"))
        self.assertTrue(w > 640 or h > 480)

    def test_pictures_are_not_blank(self):
        for name in ("ant.png", "code.png"):
            w, _, raw = png_pixels(read(name))
            rows = [raw[i + 1:i + 1 + 3 * w]
                    for i in range(0, len(raw), 1 + 3 * w)]
            bright = sum(1 for r in rows for i in range(0, 3 * w, 3)
                         if max(r[i:i + 3]) > 128)
            self.assertGreater(bright, len(rows) * w // 50, name)


class Text(unittest.TestCase):
    def test_dio_fits_the_scroller(self):
        with open(os.path.join(DATA, "dio.c")) as f:
            lines = f.read().split("\n")
        for n, line in enumerate(lines, 1):
            self.assertLessEqual(len(line), 70, n)
            self.assertNotIn("\t", line, n)


class Regeneration(unittest.TestCase):
    """The committed files are what the generators make today."""

    def test_generators_reproduce_committed_files(self):
        data, *_ = mkxm.module_bytes()
        self.assertEqual(data, read("tolvek-climax.xm"))
        self.assertEqual(mkpictures.draw_ant().png(), read("ant.png"))
        self.assertEqual(mkpictures.draw_code(ROOT).png(), read("code.png"))


if __name__ == "__main__":
    unittest.main()
