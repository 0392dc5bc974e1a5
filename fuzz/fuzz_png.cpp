// PngLayer on arbitrary file contents: open, init against the 640x480
// screen, and for a picture that decoded, one feed and one blit of it in a
// copy mode and an arithmetic one. The decoded geometry must describe the
// frame (4 bytes a pixel, lines w * 4 bytes apart).
//
// Most mutations of a PNG break a chunk's CRC, and libpng then stops at
// that chunk; the mutator below puts the CRCs right again for most inputs,
// so that the decoder gets past the header.
#include <unistd.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "png_layer.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t *data, size_t size, size_t max_size);

namespace {

uint32_t be32(const uint8_t *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

void fix_crcs(uint8_t *data, size_t size) {
  size_t at = 8;  // after the signature
  while (at + 12 <= size) {
    uint32_t len = be32(data + at);
    if (len > size - at - 12) break;
    uint32_t crc = (uint32_t)crc32(0, data + at + 4, len + 4);
    uint8_t *out = data + at + 8 + len;
    out[0] = (uint8_t)(crc >> 24);
    out[1] = (uint8_t)(crc >> 16);
    out[2] = (uint8_t)(crc >> 8);
    out[3] = (uint8_t)crc;
    at += 12 + (size_t)len;
  }
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t *data, size_t size, size_t max_size,
                                          unsigned int seed) {
  size = LLVMFuzzerMutate(data, size, max_size);
  if (seed % 8 != 0) fix_crcs(data, size);  // the rest tests the CRC checks
  return size;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fz::engine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Context &ctx = fz::engine();
  SdlScreen &scr = fz::screen();
  const std::string path = fz::write_file("input.png", data, size);
  {
    PngLayer layer;
    if (layer.open(path.c_str()) && layer.init(&ctx)) {
      const ScreenGeometry &g = layer.geo;
      if (g.w == 0 || g.h == 0 || g.bpp != 32 || g.pitch != (uint32_t)g.w * 4 ||
          g.size != (uint32_t)g.w * g.h * 4)
        fz::fail("PNG geometry w %u h %u bpp %u pitch %u size %u", g.w, g.h, g.bpp, g.pitch,
                 g.size);
      void *frame = layer.feed();
      if (!frame || layer.feed() != frame) fz::fail("no steady frame after a good init");
      if (layer.file || layer.png_ptr) fz::fail("decoder or file left open after init");

      fz::GuardedSurface guarded(scr);
      scr.crop(&layer);  // against the guarded surface
      layer.blit_buffer = frame;
      layer.set_blit(BLIT_RGB);
      scr.blit(&layer);
      layer.set_blit(BLIT_ADD);
      scr.blit(&layer);
      if (long at = guarded.damaged()) fz::fail("blit wrote off the surface at byte %ld", at);
    }
  }
  unlink(path.c_str());
  return 0;
}
