// ScrollLayer on any text: NULs, no final newline, lines far longer than
// the screen is wide, every 8-bit code; read from a file by open(),
// appended piece by piece (NUL-separated), or both. Then frames are fed:
// the last may hold nothing but ink and black.
//
//   byte 0 step: 1..64 pixels a frame; byte 1 line_space: -8..39;
//   byte 2 bit 0 open() the text as a file, bit 1 append() its pieces;
//   byte 3 frames to feed: 1..32; the rest is the text.
#include <unistd.h>

#include <cstring>

#include "fuzz_support.h"

int fz::one(const uint8_t *data, size_t size) {
  Reader in(data, size);
  ScrollLayer layer;
  if (!layer.init(&engine())) fail("scroller init failed");
  layer.step = 1 + in.take<uint8_t>() % 64;
  layer.line_space = -8 + in.take<uint8_t>() % 48;
  const int how = in.take<uint8_t>() & 3, frames = 1 + in.take<uint8_t>() % 32;
  const std::string text = in.rest();  // NUL-terminated copy
  if (how & 1) {
    const std::string path = write_file("input.txt", (const uint8_t *)text.data(), text.size());
    if (!layer.open(path.c_str())) fail("open of an existing file failed");
    unlink(path.c_str());
  }
  for (size_t at = 0; how != 1 && at <= text.size(); at += strlen(text.c_str() + at) + 1)
    layer.append(text.c_str() + at);
  for (txtline *l = layer.first; l; l = l->next)
    if (l->len < 0 || l->len > layer.max_chars || (size_t)l->len > strlen(l->text))
      fail("line of %zu characters drawn as %d", strlen(l->text), (int)l->len);
  layer.active = true;
  const uint32_t *frame = nullptr;
  for (int i = 0; i < frames; i++) frame = (const uint32_t *)layer.feed();
  if (!frame) fail("scroller gave no frame");
  for (size_t i = 0; i < (size_t)layer.geo.w * layer.geo.h; i++)
    if (frame[i] != 0 && frame[i] != 0xFFFFFFFFu) fail("pixel %zu is %08x", i, (unsigned)frame[i]);
  if (!layer.first && layer.active && (layer.feed(), layer.active))
    fail("dry scroller still active");
  return 0;
}
