#!/usr/bin/env python3
"""Builds the two 8x8 bitmap font tables of the engine as C++ sources.

    osd/osd_font.cpp       const uint8_t Osd::fontdata[2048]
    layers/scroll_font.cpp const uint8_t ScrollLayer::fontdata[2048]

Format: 256 glyphs of 8 bytes, one byte per row from the top, bit 7 the
leftmost pixel.

Printable ASCII (32-126) of both fonts is fixed by the tables below: those
glyphs are what the display and the scroller are known to look like, so
they never come from whatever console font happens to be installed.

The rest of the OSD font is the PC code page 437 repertoire, taken from the
8x8 console fonts of Debian's console-data package.  No CP437 8x8 font ships
there, so glyphs come from cp865-8x8 and, for the three code points where
CP865 differs from CP437 (155, 157, 175), from cp850-8x8.  The fonts carry
no unicode table; the code page codecs of Python map each CP437 character
to its position in either font.  Codes 1-31 and 127 are the same graphic
symbols in all three code pages.  Codes 0, 32 and 255 stay blank.

The scroller font has, besides ASCII, only a few symbols (listed below),
a solid block at 127 and the shades, box drawing and half blocks at
176-223 (from the same console font); every other code is blank.

Regenerate (from the repository root):

    apt-get install -y console-data    # if /usr/share/consolefonts is missing
    python3 tools/mkfont.py            # or: tools/mkfont.py --fonts DIR --out ROOT

The output is deterministic; commit both generated files.
"""

import argparse
import gzip
import os
import sys

CONSOLE_FONTS = "/usr/share/consolefonts"
PRIMARY = ("cp865-8x8", "cp865")    # font file stem, Python codec of its order
FALLBACK = ("cp850-8x8", "cp850")

# Codes 32-126, eight glyphs per string, 16 hex digits each (rows top down).
OSD_ASCII = [
    # 32-39
    "0000000000000000 183C3C3C18001800 6C6C000000000000 6C6CFE6CFE6C6C00 183E603C067C1800 00C6CC183066C600 386C6876DCCC7600 1818300000000000",
    # 40-47
    "0C18303030180C00 30180C0C0C183000 00663CFF3C660000 0018187E18180000 0000000000181830 0000007E00000000 0000000000181800 03060C183060C000",
    # 48-55
    "7CC6DEFEF6C67C00 1878181818181800 7CC60C183060FE00 7CC6061C06C67C00 1C3C6CCCFE0C0C00 FEC0FC0606C67C00 3860C0FCC6C67C00 FE060C1830606000",
    # 56-63
    "7CC6C67CC6C67C00 7CC6C67E060C3800 0018180000181800 0018180000181830 0C18306030180C00 00007E00007E0000 30180C060C183000 3C66060C18001800",
    # 64-71
    "7CC6DEDEDEC07C00 10386CC6FEC6C600 FCC6C6FCC6C6FC00 7CC6C0C0C0C67C00 FCC6C6C6C6C6FC00 FEC0C0F8C0C0FE00 FEC0C0F8C0C0C000 7CC6C0CEC6C67C00",
    # 72-79
    "C6C6C6FEC6C6C600 7E18181818187E00 06060606C6C67C00 C6CCD8F0D8CCC600 C0C0C0C0C0C0FE00 82C6EEFED6C6C600 C6E6F6DECEC6C600 7CC6C6C6C6C67C00",
    # 80-87
    "FCC6C6FCC0C0C000 7CC6C6C6F6DE7C06 FCC6C6FCD8CCC600 7CC660380CC67C00 7E18181818181800 C6C6C6C6C6C67C00 C3C366663C3C1800 C6C6C6D6FEEEC600",
    # 88-95
    "C3663C183C66C300 C3C3663C18181800 FE060C183060FE00 3C30303030303C00 C06030180C060300 3C0C0C0C0C0C3C00 10386CC600000000 00000000000000FE",
    # 96-103
    "18180C0000000000 00007C067EC67E00 C0C0FCC6C6C6FC00 00007CC6C0C67C00 06067EC6C6C67E00 00007CC6FEC07C00 3C6660F060606000 00007EC6C67E067C",
    # 104-111
    "C0C0FCC6C6C6C600 1800381818181800 060006060606C67C C0C0CCD8F0D8CC00 3818181818181800 0000ECFED6C6C600 0000FCC6C6C6C600 00007CC6C6C67C00",
    # 112-119
    "0000FCC6C6FCC0C0 00007EC6C67E0606 0000DCE6C0C0C000 00007EC07C06FC00 30307C3030361C00 0000C6C6C6C67C00 0000C6C6C66C3800 0000C6C6D6FE6C00",
    # 120-126
    "0000C66C386CC600 0000C3663C183060 0000FE0C3860FE00 0E18187018180E00 1818181818181800 7018180E18187000 729C000000000000",
]

SCROLL_ASCII = [
    # 32-39
    "0000000000000000 183C3C1818001800 6C6C6C0000000000 36367F367F363600 0C3F683E0B7E1800 60660C1830660600 386C6C386D663B00 1818180000000000",
    # 40-47
    "0C18303030180C00 30180C0C0C183000 00187E3C7E180000 0018187E18180000 0000000000181830 0000007E00000000 0000000000181800 00060C1830600000",
    # 48-55
    "3C666E7E76663C00 1838181818187E00 3C66060C18307E00 3C66061C06663C00 0C1C3C6C7E0C0C00 7E607C0606663C00 1C30607C66663C00 7E060C1830303000",
    # 56-63
    "3C66663C66663C00 3C66663E060C3800 0000181800181800 0000181800181830 0C18306030180C00 00007E007E000000 30180C060C183000 3C660C1818001800",
    # 64-71
    "3C666E6A6E603C00 3C66667E66666600 7C66667C66667C00 3C66606060663C00 786C6666666C7800 7E60607C60607E00 7E60607C60606000 3C66606E66663C00",
    # 72-79
    "6666667E66666600 7E18181818187E00 3E0C0C0C0C6C3800 666C7870786C6600 6060606060607E00 63777F6B6B636300 6666767E6E666600 3C66666666663C00",
    # 80-87
    "7C66667C60606000 3C6666666A6C3600 7C66667C6C666600 3C66603C06663C00 7E18181818181800 6666666666663C00 66666666663C1800 63636B6B7F776300",
    # 88-95
    "66663C183C666600 6666663C18181800 7E060C1830607E00 7C60606060607C00 006030180C060000 3E06060606063E00 3C66000000000000 00000000000000FF",
    # 96-103
    "3018000000000000 00003C063E663E00 60607C6666667C00 00003C6660663C00 06063E6666663E00 00003C667E603C00 1C30307C30303000 00003E66663E063C",
    # 104-111
    "60607C6666666600 1800381818183C00 1800381818181870 6060666C786C6600 3818181818183C00 0000367F6B6B6300 00007C6666666600 00003C6666663C00",
    # 112-119
    "00007C66667C6060 00003E66663E0607 00006C7660606000 00003E603C067C00 30307C3030301C00 0000666666663E00 00006666663C1800 0000636B6B7F3600",
    # 120-126
    "0000663C183C6600 00006666663E063C 00007E0C18307E00 0C18187018180C00 1818181818181800 3018180E18183000 316B460000000000",
]

# The scroller's symbols outside ASCII.
SCROLL_SYMBOLS = {
    1: "7E81A581BD99817E",   # face
    2: "7EFFBDFFC3E7FF7E",   # inverse face
    3: "6CFEFEFE7C381000",   # heart
    4: "10387CFE7C381000",   # diamond
    5: "00183CE7E73C1800",   # club
    16: "0060787E7E786000",  # triangle right
    17: "00061E7E7E1E0600",  # triangle left
    30: "0018183C3C7E7E00",  # triangle up
    31: "007E7E3C3C181800",  # triangle down
    127: "FFFFFFFFFFFFFFFF",  # solid block
}
SCROLL_GRAPHICS = range(176, 224)  # shades, box drawing, half blocks


def parse_ascii(rows):
    glyphs = {}
    code = 32
    for row in rows:
        for word in row.split():
            glyphs[code] = bytes.fromhex(word)
            code += 1
    if code != 127:
        sys.exit("mkfont: ASCII table holds %d glyphs, not 95" % (code - 32))
    return glyphs


def load_psf(path):
    """Glyphs of a PSF1 font (optionally gzipped) with 8-byte glyphs."""
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rb") as f:
        data = f.read()
    if len(data) < 4 or data[0] != 0x36 or data[1] != 0x04:
        sys.exit("mkfont: %s is not a PSF1 font" % path)
    count = 512 if data[2] & 1 else 256
    height = data[3]
    if height != 8 or len(data) < 4 + count * height:
        sys.exit("mkfont: %s is not a complete 8x8 font" % path)
    return [data[4 + i * 8:12 + i * 8] for i in range(count)]


def find_font(directory, stem):
    for name in (stem + ".psf.gz", stem + ".psf", stem + ".psfu.gz", stem + ".psfu"):
        path = os.path.join(directory, name)
        if os.path.exists(path):
            return path
    sys.exit("mkfont: %s not found in %s (apt-get install -y console-data)"
             % (stem, directory))


def cp437_glyph(code, fonts):
    """Glyph of CP437 code 1..254 from the first font whose code page has it."""
    if code < 32 or code == 127:
        return fonts[0][0][code]      # the same symbols in every PC code page
    char = bytes([code]).decode("cp437")
    for glyphs, codec in fonts:
        try:
            pos = char.encode(codec)[0]
        except UnicodeEncodeError:
            continue
        return glyphs[pos]
    sys.exit("mkfont: no glyph for CP437 code %d (U+%04X)" % (code, ord(char)))


def build_osd(fonts):
    table = [bytes(8)] * 256
    for code in range(1, 255):
        table[code] = cp437_glyph(code, fonts)
    for code, glyph in parse_ascii(OSD_ASCII).items():
        table[code] = glyph
    return table


def build_scroll(fonts):
    table = [bytes(8)] * 256
    for code, glyph in parse_ascii(SCROLL_ASCII).items():
        table[code] = glyph
    for code, word in SCROLL_SYMBOLS.items():
        table[code] = bytes.fromhex(word)
    for code in SCROLL_GRAPHICS:
        table[code] = cp437_glyph(code, fonts)
    return table


def label(code):
    if 32 < code < 127 and chr(code) not in "\\":
        return "'%s'" % chr(code)
    return ""


def emit(path, header, symbol, what, table):
    lines = [
        "/*  Kolvex - %s" % what,
        " *",
        " *  Generated by tools/mkfont.py: do not edit, regenerate.",
        " *  256 glyphs of 8 bytes, one byte per row from the top, bit 7 leftmost.",
        " */",
        '#include "%s"' % header,
        "",
        "const uint8_t %s[2048] = {" % symbol,
    ]
    for code, glyph in enumerate(table):
        body = ", ".join("0x%02X" % b for b in glyph)
        lines.append("    %s,  // %3d %s" % (body, code, label(code)))
    lines.append("};")
    text = "\n".join(l.rstrip() for l in lines) + "\n"
    with open(path, "w") as f:
        f.write(text)
    print("mkfont: wrote", path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--fonts", default=CONSOLE_FONTS, help="console font directory")
    ap.add_argument("--out", default=os.path.dirname(here), help="repository root")
    args = ap.parse_args()

    fonts = [(load_psf(find_font(args.fonts, stem)), codec)
             for stem, codec in (PRIMARY, FALLBACK)]
    emit(os.path.join(args.out, "osd", "osd_font.cpp"), "osd.h",
         "Osd::fontdata", "OSD font (PC code page 437)", build_osd(fonts))
    emit(os.path.join(args.out, "layers", "scroll_font.cpp"), "scroll_layer.h",
         "ScrollLayer::fontdata", "text scroller font", build_scroll(fonts))


if __name__ == "__main__":
    main()
