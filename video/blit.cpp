#include "blit.h"

#include <cstring>

// Tight loops, one per mode, so the compiler can vectorise each of them.
// Words are loaded with memcpy: frames need not be 4-byte aligned.

namespace {

inline uint32_t load(const uint8_t *p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

inline void store(uint8_t *p, uint32_t v) { memcpy(p, &v, 4); }

template <typename Op>
void for_each_line(const uint8_t *src, int src_pitch, uint8_t *dst, int dst_pitch,
                   int w, int h, Op op) {
  for (int line = 0; line < h; line++) {
    const uint8_t *s = src + (long)line * src_pitch;
    uint8_t *d = dst + (long)line * dst_pitch;
    for (int i = 0; i < w; i++) op(s + i * 4, d + i * 4);
  }
}

inline void channel(const uint8_t *s, uint8_t *d, int byte) { d[byte] = s[byte]; }

}  // namespace

void blit_direct(uint8_t mode, const uint8_t *src, int src_pitch, uint8_t *dst,
                 int dst_pitch, int w, int h) {
  if (w <= 0 || h <= 0) return;
  switch (mode) {
    case BLIT_BLU:
    case BLIT_GRE:
    case BLIT_RED: {
      const int byte = mode - BLIT_BLU;
      for_each_line(src, src_pitch, dst, dst_pitch, w, h,
                    [byte](const uint8_t *s, uint8_t *d) { channel(s, d, byte); });
      break;
    }
    case BLIT_ADD:
      for_each_line(src, src_pitch, dst, dst_pitch, w, h, [](const uint8_t *s, uint8_t *d) {
        store(d, pixel_word(pixel_word(load(d)) + pixel_word(load(s))));
      });
      break;
    case BLIT_SUB:
      for_each_line(src, src_pitch, dst, dst_pitch, w, h, [](const uint8_t *s, uint8_t *d) {
        store(d, pixel_word(pixel_word(load(d)) - pixel_word(load(s))));
      });
      break;
    case BLIT_AND:
      for_each_line(src, src_pitch, dst, dst_pitch, w, h, [](const uint8_t *s, uint8_t *d) {
        store(d, load(d) & load(s));
      });
      break;
    case BLIT_OR:
      for_each_line(src, src_pitch, dst, dst_pitch, w, h, [](const uint8_t *s, uint8_t *d) {
        store(d, load(d) | load(s));
      });
      break;
    default:
      break;
  }
}
