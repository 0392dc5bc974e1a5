// The on-screen display with arbitrary texts, colour codes, positions and
// block sizes, on a guarded copy of the 640x480 draw surface: the three
// lines through print_top/mid/low and cafudda, and print() itself
// anywhere a 16-bit position can be, far off the surface included.
// Nothing may be written off the surface, and what is written is the
// display's colour.
//
//   byte 0 colour code (modulo 8: 6 and 7 are ignored), 1-2 x, 3-4 y
//   (signed 16 bits, little-endian), 5 hsize, 6 vsize (signed), 7 bit 0-2
//   lines on, bit 3 clean() before drawing; then NUL-separated texts: the
//   one for print(), then top, middle and low.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "osd.h"

namespace {

constexpr uint32_t kColours[] = {0x000000, 0xFEFEFE, 0x00EE00, 0xEE0000, 0x0000FE, 0xFFEF00};

void check_line(const char *shown, const std::string &text, int len) {
  if (len != (int)text.size()) fz::fail("print_* returned %d for %zu characters", len, text.size());
  const size_t keep = text.size() < 49 ? text.size() : 49;
  if (strlen(shown) != keep || memcmp(shown, text.data(), keep) != 0)
    fz::fail("OSD line holds \"%s\" for \"%s\"", shown, text.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::engine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Context &ctx = fz::engine();
  SdlScreen &scr = fz::screen();
  fz::Reader in(data, size);
  const int code = in.take<uint8_t>() % 8;  // the enum's range: 6 and 7 are invalid
  const int x = in.take<int16_t>();
  const int y = in.take<int16_t>();
  const int hsize = in.take<int8_t>();
  const int vsize = in.take<int8_t>();
  const int flags = in.take<uint8_t>();
  std::string texts[4];
  const std::string rest((const char *)in.here(), in.left());
  for (size_t at = 0, n = 0; n < 4 && at < rest.size(); n++) {
    texts[n] = rest.c_str() + at;
    at += texts[n].size() + 1;
  }

  // Made once: fresh megabytes every run would cost more than the run.
  static fz::GuardedSurface guarded(scr);
  const size_t pixels = guarded.bytes() / 4;
  static const std::vector<uint32_t> before = [&] {
    std::vector<uint32_t> v(pixels);
    for (size_t i = 0; i < pixels; i++) v[i] = (uint32_t)(i * 2654435761u) | 0x01010101u;
    return v;
  }();
  memcpy(guarded.pixels(), before.data(), guarded.bytes());

  Osd osd;
  osd.init(&ctx);  // placed on the guarded surface
  osd.set_color((colors)code);
  const uint32_t colour = code < 6 ? kColours[code] : kColours[WHITE];
  if (osd.color != colour) fz::fail("colour code %d gave %06x", code, (unsigned)osd.color);

  if (flags & 1) check_line(osd.top_text, texts[1], osd.print_top("%s", texts[1].c_str()));
  if (flags & 2) check_line(osd.mid_text, texts[2], osd.print_mid("%s", texts[2].c_str()));
  if (flags & 4) check_line(osd.low_text, texts[3], osd.print_low("%s", texts[3].c_str()));
  if (flags & 8) osd.clean();
  osd.cafudda();

  uint32_t *pos = (uint32_t *)scr.coords(x, y);
  uint32_t *end = osd.print(texts[0].c_str(), pos, hsize, vsize);
  const intptr_t moved = (intptr_t)((uintptr_t)end - (uintptr_t)pos);
  if (moved != (intptr_t)8 * vsize * scr.w * 4)
    fz::fail("print at %d,%d with vsize %d moved %ld bytes", x, y, vsize, (long)moved);

  if (long at = guarded.damaged()) fz::fail("OSD wrote off the surface at byte %ld", at);
  const uint32_t *now = (const uint32_t *)guarded.pixels();
  for (size_t i = 0; i < pixels; i++)
    if (now[i] != before[i] && now[i] != colour)
      fz::fail("pixel %zu is %08x, neither the background nor the colour", i, (unsigned)now[i]);
  return 0;
}
