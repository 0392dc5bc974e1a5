// PngLayer on any file contents: open, init against the 640x480 screen,
// and for a picture that decoded, a steady frame whose geometry describes
// it, blitted in a copy mode and an arithmetic one without a write off
// the surface. Most mutations of a PNG break a chunk's CRC and libpng
// stops there: the mutator puts the CRCs right again for most inputs.
#include <unistd.h>
#include <zlib.h>

#include "fuzz_support.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t *data, size_t size, size_t max_size);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t *data, size_t size, size_t max_size,
                                          unsigned int seed) {
  size = LLVMFuzzerMutate(data, size, max_size);
  if (seed % 8 == 0) return size;  // the rest tests the CRC checks
  for (size_t at = 8, len; at + 12 <= size; at += 12 + len) {  // chunks after the signature
    len = (size_t)data[at] << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3];
    if (len > size - at - 12) break;
    const uint32_t crc = (uint32_t)crc32(0, data + at + 4, (uInt)len + 4);
    for (int i = 0; i < 4; i++) data[at + 8 + len + i] = (uint8_t)(crc >> (24 - 8 * i));
  }
  return size;
}

int fz::one(const uint8_t *data, size_t size) {
  const std::string path = write_file("input.png", data, size);
  PngLayer layer;
  if (layer.open(path.c_str()) && layer.init(&engine())) {
    const ScreenGeometry &g = layer.geo;
    if (!g.w || !g.h || g.bpp != 32 || g.pitch != g.w * 4u || g.size != g.w * g.h * 4u)
      fail("PNG geometry w %u h %u bpp %u pitch %u size %u", g.w, g.h, g.bpp, g.pitch, g.size);
    void *frame = layer.feed();
    if (!frame || layer.feed() != frame) fail("no steady frame after a good init");
    if (layer.file || layer.png_ptr) fail("decoder or file left open after init");
    kt::GuardedSurface surface(screen());
    screen().crop(&layer);  // against the guarded surface
    layer.blit_buffer = frame;
    for (int mode : {BLIT_RGB, BLIT_ADD}) {
      layer.set_blit(mode);
      screen().blit(&layer);
    }
    if (long at = surface.damaged()) fail("blit wrote off the surface at byte %ld", at);
  }
  unlink(path.c_str());
  return 0;
}
