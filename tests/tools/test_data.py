#!/usr/bin/env python3
# The committed data files: the generators still make them byte for byte,
# and they are what the intro's libraries and layers expect. Run from anywhere.

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


def xm_seconds(data):
    """Walks the module's header and patterns as a loader does; returns
    how long its order plays at the default speed and tempo."""
    assert data[:17] == b"Extended Module: " and data[37] == 0x1A
    version, hsize, length, _, chans, npat, _, _, speed, bpm = \
        struct.unpack_from("<HIHHHHHHHH", data, 58)
    assert (version, hsize) == (0x0104, 276)
    order, pos, rows = data[80:80 + length], 60 + hsize, []
    for _ in range(npat):
        plen, _, nrows, psize = struct.unpack_from("<IBHH", data, pos)
        pos, end, cells = pos + plen, pos + plen + psize, 0
        while pos < end:  # packed cells: a mask byte, or all five fields
            b = data[pos]
            pos += 1 + (bin(b & 0x1F).count("1") if b & 0x80 else 4)
            cells += 1
        assert pos == end and cells == nrows * chans, "pattern data"
        rows.append(nrows)
    assert all(p < npat for p in order)
    return sum(rows[p] for p in order) * speed * 2.5 / bpm


def png_size(data):
    """Width and height of an 8-bit truecolour PNG whose chunks all check."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat = 8, b""
    while pos < len(data):
        n, = struct.unpack_from(">I", data, pos)
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + n]
        assert zlib.crc32(kind + body) == struct.unpack_from(
            ">I", data, pos + 8 + n)[0], kind
        if kind == b"IHDR":
            w, h, depth, ctype = struct.unpack(">IIBB", body[:10])
        idat += body if kind == b"IDAT" else b""
        pos += 12 + n
    assert (depth, ctype) == (8, 2)
    assert len(zlib.decompress(idat)) == h * (1 + 3 * w)
    return w, h


class DataFiles(unittest.TestCase):
    def test_generators_reproduce_committed_files(self):
        self.assertEqual(mkxm.module_bytes()[0], read("tolvek-climax.xm"))
        self.assertEqual(mkpictures.draw_ant().png(), read("ant.png"))
        self.assertEqual(mkpictures.draw_code(ROOT).png(), read("code.png"))

    def test_music_outlasts_the_programme(self):
        self.assertGreaterEqual(xm_seconds(read("tolvek-climax.xm")), 230)

    def test_one_picture_is_centred_the_other_cropped(self):
        w, h = png_size(read("ant.png"))
        self.assertTrue(w < 640 and h < 480)
        w, h = png_size(read("code.png"))
        self.assertTrue(w > 640 or h > 480)

    def test_scroller_text_fits_its_lines(self):
        with open(os.path.join(DATA, "dio.c")) as f:
            for n, line in enumerate(f.read().split("\n"), 1):
                self.assertLessEqual(len(line), 70, n)
                self.assertNotIn("\t", line, n)


if __name__ == "__main__":
    unittest.main()
