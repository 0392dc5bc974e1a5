// crop + blit of any layer size, position, blit mode and alpha on the
// 640x480 screen, through the layer's own frame step, on a draw surface
// fenced by guard bytes: every pixel as the byte-wise model says.
//
//   bytes 0-1 width, 2-3 height (0: the screen's), 4-7 and 8-11 noise seeds
//   of screen and frame, little-endian; then up to 8 records of 6 bytes,
//   each moving and redrawing the layer: x, y (16 bits each), mode, alpha.
#include <algorithm>
#include <cstring>

#include "fuzz_support.h"

int fz::one(const uint8_t *data, size_t size) {
  Reader in(data, size);
  const int w = in.take<uint16_t>(), h = in.take<uint16_t>();
  if ((size_t)(w ? std::min(w, 16383) : 640) * (h ? h : 480) > 1u << 18) return -1;  // 1 MB
  // Made once, or when its seed changes: megabytes cost more than a run.
  static kt::GuardedSurface surface(screen());
  static uint32_t seed = 0;
  static std::vector<uint8_t> back;
  const uint32_t screen_seed = in.take<uint32_t>();
  if (back.empty() || screen_seed != seed) back = kt::noise(surface.bytes(), seed = screen_seed);
  kt::TestLayer layer(w, h);
  layer.init(&engine());
  const ScreenGeometry &g = layer.geo;
  layer.frame = kt::noise(g.size, in.take<uint32_t>());
  layer.feed_buffer = layer.frame.data();
  layer.active = true;
  for (int record = 0; record < 8 && (record == 0 || in.left()); record++) {
    const int x = in.take<int16_t>(), y = in.take<int16_t>();
    const int mode = in.take<uint8_t>(), alpha = in.take<uint8_t>();
    memcpy(surface.pixels(), back.data(), back.size());
    layer.set_blit(mode);
    layer.set_alpha(alpha);
    layer.set_position(x, y);
    const bool off = x < -g.w || x > 640 || y < -g.h || y > 480;  // no column or no line shows
    if (layer.hidden != off || layer.cafudda() == off)
      fail("%dx%d at %d,%d: hidden %d", g.w, g.h, x, y, (int)layer.hidden);
    if (long at = surface.damaged()) fail("mode %d wrote off the surface at byte %ld", mode, at);
    const std::string wrong = kt::check_blit(back.data(), surface.pixels(), 640, 480,
                                             layer.frame.data(), g.w, g.h, off ? 640 : x, y,
                                             mode, alpha);
    if (!wrong.empty()) fail("%s", wrong.c_str());
  }
  return 0;
}
