// crop + blit for arbitrary layer geometry, positions, blit modes and
// alphas on the 640x480 screen, composited through the layer's own frame
// step. The draw surface is fenced by guard bytes (and ASan beyond them).
// Every pixel is checked: outside the layer's on-screen rectangle nothing
// changes; inside, each mode leaves what a byte-wise model says.
//
//   bytes 0-1 width, 2-3 height (0: the screen's), 4-7 and 8-11 noise
//   seeds of screen and frame, little-endian; then up to 8 records of 6
//   bytes, each moving and redrawing the layer: x, y (16 bits each), blit
//   mode (any code), alpha.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "layer.h"

namespace {

constexpr size_t kMaxPixels = 1u << 20;  // 4 MB of frame

class FrameLayer : public Layer {
 public:
  FrameLayer(int w, int h) : req_w(w), req_h(h) { setname("FUZ"); }
  bool open(const char *) override { return true; }
  bool init(Context *ctx) override {
    _init(ctx, req_w, req_h, 32);
    frame.resize(geo.size);
    return true;
  }
  void close() override {}
  bool keypress(SDL_keysym *) override { return false; }
  void *feed() override { return frame.data(); }
  // One store for every layer of the run, kept at its largest size.
  static std::vector<uint8_t> frame;
  int req_w, req_h;
};

std::vector<uint8_t> FrameLayer::frame;

// Whole words: every store here is a multiple of 4 bytes, malloc-aligned.
void noise(uint8_t *p, size_t n, uint32_t seed) {
  uint32_t s = seed | 1, *out = reinterpret_cast<uint32_t *>(p);
  for (size_t i = 0; i < n / 4; i++) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    out[i] = s;
  }
}

uint32_t word_of(const uint8_t *b) {
  return (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3];
}

void bytes_of(uint32_t word, uint8_t *b) {
  b[0] = (uint8_t)(word >> 24);
  b[1] = (uint8_t)(word >> 16);
  b[2] = (uint8_t)(word >> 8);
  b[3] = (uint8_t)word;
}

// What mode `mode` leaves in screen pixel `want` (holding the old bytes)
// for layer pixel `src`. BLIT_ALPHA is checked apart, with a tolerance.
void model(int mode, const uint8_t *src, uint8_t *want) {
  switch (mode) {
    case BLIT_RGB: memcpy(want, src, 4); break;
    case BLIT_BLU: want[0] = src[0]; break;
    case BLIT_GRE: want[1] = src[1]; break;
    case BLIT_RED: want[2] = src[2]; break;
    case BLIT_ADD: bytes_of(word_of(want) + word_of(src), want); break;
    case BLIT_SUB: bytes_of(word_of(want) - word_of(src), want); break;
    case BLIT_AND: for (int i = 0; i < 4; i++) want[i] &= src[i]; break;
    case BLIT_OR: for (int i = 0; i < 4; i++) want[i] |= src[i]; break;
    default: break;  // invalid codes draw nothing
  }
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
  const int req_w = in.take<uint16_t>();
  const int req_h = in.take<uint16_t>();
  // A layer is at most 16383 pixels wide: its line must fit the 16-bit pitch.
  const size_t w_eff = !req_w ? scr.w : req_w > 0xFFFF / 4 ? 0xFFFF / 4 : req_w;
  const size_t h_eff = req_h ? req_h : scr.h;
  if (w_eff * h_eff > kMaxPixels) return -1;

  // Made once: fresh megabytes every run would cost more than the run.
  static fz::GuardedSurface guarded(scr);
  static std::vector<uint8_t> before(guarded.bytes());
  FrameLayer layer(req_w, req_h);
  layer.init(&ctx);
  const ScreenGeometry &g = layer.geo;
  if (g.w != w_eff || g.h != h_eff || g.bpp != 32)
    fz::fail("asked for %dx%d, got %ux%u %u bpp", req_w, req_h, g.w, g.h, g.bpp);
  if (g.pitch != (uint32_t)g.w * 4 || g.size != (uint32_t)g.w * g.h * 4)
    fz::fail("%ux%u layer with pitch %u and size %u", g.w, g.h, g.pitch, g.size);
  const int w = g.w, h = g.h, sw = scr.w, sh = scr.h;
  noise(guarded.pixels(), guarded.bytes(), in.take<uint32_t>());
  noise(layer.frame.data(), layer.frame.size(), in.take<uint32_t>());
  layer.feed_buffer = layer.feed();
  layer.active = true;

  int records = 0;
  do {
    const int x = in.take<int16_t>();
    const int y = in.take<int16_t>();
    const int mode = in.take<uint8_t>();
    const int alpha = in.take<uint8_t>();
    memcpy(before.data(), guarded.pixels(), before.size());
    layer.set_blit(mode);
    layer.set_alpha(alpha);
    layer.set_position(x, y);

    // Flagged only when no column or no line can show; cropping again
    // must give the same result (a flagged layer is parked for that: its
    // flag and place stay, the clip of a layer not drawn does not matter).
    const bool off = x < -w || x > sw || y < -h || y > sh;
    if (layer.hidden != off)
      fz::fail("%dx%d at %d,%d: hidden %d", w, h, x, y, (int)layer.hidden);
    const BlitClip clip = layer.clip;
    const int16_t px = g.x, py = g.y;
    scr.crop(&layer);
    if ((!off && memcmp(&clip, &layer.clip, sizeof clip) != 0) || g.x != px || g.y != py ||
        layer.hidden != off)
      fz::fail("%dx%d at %d,%d: a second crop differs", w, h, x, y);

    const bool drawn = layer.cafudda();
    if (drawn == off) fz::fail("%dx%d at %d,%d: drawn %d", w, h, x, y, (int)drawn);
    if (long at = guarded.damaged())
      fz::fail("mode %d %dx%d at %d,%d wrote off the surface at byte %ld", mode, w, h, x, y, at);

    // The rectangle the layer covers on the screen; empty when it is off
    // or the mode is invalid. Outside it every byte stays.
    const bool draws = !off && mode >= BLIT_RGB && mode <= BLIT_ALPHA;
    int x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
    int x1 = x + w > sw ? sw : x + w, y1 = y + h > sh ? sh : y + h;
    if (!draws || x0 >= x1 || y0 >= y1) x0 = x1 = y0 = y1 = 0;
    const uint8_t *now = guarded.pixels();
    const size_t line = (size_t)sw * 4;
    for (int sy = 0; sy < sh; sy++) {
      const uint8_t *was_line = &before[sy * line], *got_line = now + sy * line;
      if (sy < y0 || sy >= y1) {
        if (memcmp(was_line, got_line, line) != 0)
          fz::fail("mode %d %dx%d at %d,%d: line %d changed outside", mode, w, h, x, y, sy);
        continue;
      }
      if (memcmp(was_line, got_line, (size_t)x0 * 4) != 0 ||
          memcmp(was_line + x1 * 4, got_line + x1 * 4, (size_t)(sw - x1) * 4) != 0)
        fz::fail("mode %d %dx%d at %d,%d: line %d changed beside the layer", mode, w, h, x, y,
                 sy);
      const uint8_t *src_line = &layer.frame[(size_t)(sy - y) * w * 4];
      for (int sx = x0; sx < x1; sx++) {
        const uint8_t *was = was_line + sx * 4, *got = got_line + sx * 4;
        const uint8_t *src = src_line + (size_t)(sx - x) * 4;
        if (mode == BLIT_ALPHA) {
          for (int i = 0; i < 3; i++) {
            const int expect = (alpha * src[i] + (255 - alpha) * was[i]) / 255;
            const int diff = got[i] - expect;
            if (diff < -2 || diff > 2)
              fz::fail("alpha %d %dx%d at %d,%d: pixel %d,%d byte %d is %d, not %d", alpha, w, h,
                       x, y, sx, sy, i, got[i], expect);
          }
          continue;
        }
        uint8_t want[4] = {was[0], was[1], was[2], was[3]};
        model(mode, src, want);
        if (word_of(want) != word_of(got))
          fz::fail("mode %d %dx%d at %d,%d: pixel %d,%d is wrong", mode, w, h, x, y, sx, sy);
      }
    }
    records++;
  } while (in.left() > 0 && records < 8);
  return 0;
}
