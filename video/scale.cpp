#include "scale.h"

// Neighbours of (x, y), clamped at the borders:
//   A B C
//   D E F
//   G H I
namespace {

struct Around {
  uint32_t A, B, C, D, E, F, G, H, I;
};

inline const uint32_t *row(const uint32_t *src, int pitch, int y) {
  return (const uint32_t *)((const uint8_t *)src + (long)y * pitch);
}

inline Around around(const uint32_t *up, const uint32_t *mid, const uint32_t *down, int x,
                     int w) {
  int l = x > 0 ? x - 1 : 0, r = x < w - 1 ? x + 1 : w - 1;
  return {up[l], up[x], up[r], mid[l], mid[x], mid[r], down[l], down[x], down[r]};
}

inline uint32_t *out_row(uint32_t *dst, int pitch, int y) {
  return (uint32_t *)((uint8_t *)dst + (long)y * pitch);
}

}  // namespace

void scale2x(const uint32_t *src, int src_pitch, uint32_t *dst, int dst_pitch, int w, int h) {
  for (int y = 0; y < h; y++) {
    const uint32_t *up = row(src, src_pitch, y > 0 ? y - 1 : 0);
    const uint32_t *mid = row(src, src_pitch, y);
    const uint32_t *down = row(src, src_pitch, y < h - 1 ? y + 1 : h - 1);
    uint32_t *o0 = out_row(dst, dst_pitch, 2 * y), *o1 = out_row(dst, dst_pitch, 2 * y + 1);
    for (int x = 0; x < w; x++) {
      Around p = around(up, mid, down, x, w);
      uint32_t e0 = p.E, e1 = p.E, e2 = p.E, e3 = p.E;
      if (p.B != p.H && p.D != p.F) {
        if (p.D == p.B) e0 = p.D;
        if (p.B == p.F) e1 = p.F;
        if (p.D == p.H) e2 = p.D;
        if (p.H == p.F) e3 = p.F;
      }
      o0[2 * x] = e0;
      o0[2 * x + 1] = e1;
      o1[2 * x] = e2;
      o1[2 * x + 1] = e3;
    }
  }
}

void scale3x(const uint32_t *src, int src_pitch, uint32_t *dst, int dst_pitch, int w, int h) {
  for (int y = 0; y < h; y++) {
    const uint32_t *up = row(src, src_pitch, y > 0 ? y - 1 : 0);
    const uint32_t *mid = row(src, src_pitch, y);
    const uint32_t *down = row(src, src_pitch, y < h - 1 ? y + 1 : h - 1);
    uint32_t *o[3] = {out_row(dst, dst_pitch, 3 * y), out_row(dst, dst_pitch, 3 * y + 1),
                      out_row(dst, dst_pitch, 3 * y + 2)};
    for (int x = 0; x < w; x++) {
      Around p = around(up, mid, down, x, w);
      uint32_t e[9] = {p.E, p.E, p.E, p.E, p.E, p.E, p.E, p.E, p.E};
      if (p.B != p.H && p.D != p.F) {
        if (p.D == p.B) e[0] = p.D;
        if ((p.D == p.B && p.E != p.C) || (p.B == p.F && p.E != p.A)) e[1] = p.B;
        if (p.B == p.F) e[2] = p.F;
        if ((p.D == p.B && p.E != p.G) || (p.D == p.H && p.E != p.A)) e[3] = p.D;
        if ((p.B == p.F && p.E != p.I) || (p.H == p.F && p.E != p.C)) e[5] = p.F;
        if (p.D == p.H) e[6] = p.D;
        if ((p.D == p.H && p.E != p.I) || (p.H == p.F && p.E != p.G)) e[7] = p.H;
        if (p.H == p.F) e[8] = p.F;
      }
      for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++) o[j][3 * x + i] = e[3 * j + i];
    }
  }
}
