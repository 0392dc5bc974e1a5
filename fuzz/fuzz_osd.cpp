// The on-screen display with any texts, colour codes, positions and block
// sizes: the three lines through print_top/mid/low and cafudda, and print()
// anywhere a 16-bit position can be. Nothing may be written off the
// surface, and what is written is the display's colour.
//
//   byte 0 colour code (modulo 8: 6 and 7 are ignored), 1-2 x, 3-4 y
//   (signed 16 bits, little-endian), 5 hsize, 6 vsize (signed), 7 bits 0-2
//   lines on, bit 3 clean() before drawing; then NUL-separated texts: the
//   one for print(), then top, middle and low.
#include <cstring>

#include "fuzz_support.h"

int fz::one(const uint8_t *data, size_t size) {
  Reader in(data, size);
  const int code = in.take<uint8_t>() % 8, x = in.take<int16_t>(), y = in.take<int16_t>();
  const int hsize = in.take<int8_t>(), vsize = in.take<int8_t>(), flags = in.take<uint8_t>();
  const std::string rest = in.rest();
  std::string texts[4];
  for (size_t at = 0, n = 0; n < 4 && at < rest.size(); at += texts[n++].size() + 1)
    texts[n] = rest.c_str() + at;
  static kt::GuardedSurface surface(screen());  // made once: megabytes cost more than a run
  memset(surface.pixels(), 0x11, surface.bytes());  // a colour of no code
  Osd osd;
  osd.init(&engine());
  osd.set_color((colors)code);
  int (Osd::*print_line[])(const char *, ...) = {&Osd::print_top, &Osd::print_mid, &Osd::print_low};
  const char *shown[] = {osd.top_text, osd.mid_text, osd.low_text};
  for (int i = 0; i < 3; i++) {
    const std::string &text = texts[i + 1];
    if ((flags >> i & 1) && ((osd.*print_line[i])("%s", text.c_str()) != (int)text.size() ||
                             text.compare(0, 49, shown[i]) != 0))
      fail("OSD line %d holds \"%s\" for \"%s\"", i, shown[i], text.c_str());
  }
  if (flags & 8) osd.clean();
  osd.cafudda();
  uint32_t *pos = (uint32_t *)screen().coords(x, y);
  const intptr_t moved = (intptr_t)osd.print(texts[0].c_str(), pos, hsize, vsize) - (intptr_t)pos;
  if (moved != (intptr_t)8 * vsize * 640 * 4)
    fail("print with vsize %d moved %ld bytes", vsize, (long)moved);
  if (long at = surface.damaged()) fail("OSD wrote off the surface at byte %ld", at);
  const uint32_t *now = (const uint32_t *)surface.pixels();
  for (size_t i = 0; i < surface.bytes() / 4; i++)
    if (now[i] != 0x11111111u && now[i] != osd.color)
      fail("pixel %zu is %08x", i, (unsigned)now[i]);
  return 0;
}
