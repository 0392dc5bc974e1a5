// ScrollLayer on arbitrary text: NULs, no final newline, lines far longer
// than the screen is wide, every 8-bit code. The first bytes pick the
// settings, the rest is the text: read from a file by open(), appended
// piece by piece (NUL-separated), or both. Then frames are fed, and the
// last one may hold nothing but ink and black.
//
//   byte 0  step: 1..64 pixels a frame
//   byte 1  line_space: -8..39
//   byte 2  bit 0 open() the text as a file, bit 1 append() its pieces
//   byte 3  frames to feed: 1..32
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "scroll_layer.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::engine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Context &ctx = fz::engine();
  fz::Reader in(data, size);
  const int step = 1 + in.take<uint8_t>() % 64;
  const int line_space = -8 + in.take<uint8_t>() % 48;
  const uint8_t how = in.take<uint8_t>();
  const int frames = 1 + in.take<uint8_t>() % 32;
  const uint8_t *text = in.here();
  const size_t text_size = in.left();

  ScrollLayer layer;
  if (!layer.init(&ctx)) fz::fail("scroller init failed");
  layer.step = step;
  layer.line_space = line_space;
  if (how & 1) {
    const std::string path = fz::write_file("input.txt", text, text_size);
    if (!layer.open(path.c_str())) fz::fail("open of an existing file failed");
    unlink(path.c_str());
  }
  if (how & 2) {
    const std::string all((const char *)text, text_size);  // NUL-terminated copy
    for (size_t at = 0; at <= all.size();) {
      layer.append(all.c_str() + at);
      at += strlen(all.c_str() + at) + 1;
    }
  }
  if ((how & 3) == 0) layer.append(std::string((const char *)text, text_size).c_str());

  for (txtline *l = layer.first; l; l = l->next)
    if (l->len < 0 || l->len > layer.max_chars || (size_t)l->len > strlen(l->text))
      fz::fail("line of %zu characters drawn as %d", strlen(l->text), (int)l->len);

  layer.active = true;
  const uint32_t *frame = nullptr;
  for (int i = 0; i < frames; i++) frame = (const uint32_t *)layer.feed();
  if (!frame) fz::fail("scroller gave no frame");
  const size_t pixels = (size_t)layer.geo.w * layer.geo.h;
  for (size_t i = 0; i < pixels; i++)
    if (frame[i] != 0 && frame[i] != 0xFFFFFFFFu)
      fz::fail("pixel %zu is %08x, neither ink nor black", i, (unsigned)frame[i]);
  if (!layer.first && layer.active && frames > 0) {
    // Ran dry: the feed that found no line must have switched it off.
    layer.feed();
    if (layer.active) fz::fail("empty scroller still active");
  }
  return 0;
}
