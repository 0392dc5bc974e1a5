#include "transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "blit_dispatch.h"

namespace {

// cos and sin of a clockwise turn; whole quarter turns exact, so that 90
// degrees moves pixels without blurring them and 360 is no turn at all.
void turn(double degrees, double *c, double *s) {
  double d = std::fmod(degrees, 360.0);
  if (d < 0) d += 360.0;
  if (d == 0 || d == 90 || d == 180 || d == 270) {
    const int q = (int)(d / 90);
    static const double kCos[] = {1, 0, -1, 0}, kSin[] = {0, 1, 0, -1};
    *c = kCos[q];
    *s = kSin[q];
    return;
  }
  const double r = d * M_PI / 180.0;
  *c = std::cos(r);
  *s = std::sin(r);
}

// Far enough out to be off any picture (2^40 is 2^24 pixels), near enough
// for 64-bit sums over 2^16 lines.
int64_t fixed(double x) {
  const double limit = 1099511627776.0;
  return std::llround(std::max(-limit, std::min(limit, x * kTransformOne)));
}

int64_t floor_div(int64_t a, int64_t b) {  // b > 0
  const int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

// The x in [*from, *to) for which 0 <= a + x d < limit, narrowed in
// place; an empty range may come out with *to below *from.
void narrow(int64_t a, int64_t d, int64_t limit, int64_t *from, int64_t *to) {
  if (d == 0) {
    if (a < 0 || a >= limit) *to = 0;
    return;
  }
  int64_t first, last;  // inclusive
  if (d > 0) {
    first = -floor_div(a, d);  // ceil(-a / d)
    last = floor_div(limit - 1 - a, d);
  } else {
    first = -floor_div(limit - 1 - a, -d);  // ceil((a - limit + 1) / -d)
    last = floor_div(a, -d);
  }
  *from = std::max(*from, first);
  *to = std::min(*to, last + 1);
}

}  // namespace

void fit_scale(Fit fit, int sw, int sh, int aw, int ah, double *sx, double *sy) {
  *sx = *sy = 1;
  if (fit == Fit::none || sw <= 0 || sh <= 0 || aw <= 0 || ah <= 0) return;
  const double fx = (double)aw / sw, fy = (double)ah / sh;
  if (fit == Fit::stretch) {
    *sx = fx;
    *sy = fy;
    return;
  }
  *sx = *sy = fit == Fit::fit ? std::min(fx, fy) : std::max(fx, fy);
}

AffineMap transform_map(int sw, int sh, const PicturePlacement &p) {
  double c, s;
  turn(p.degrees, &c, &s);
  const double sx = p.sx > 0 ? p.sx : 1, sy = p.sy > 0 ? p.sy : 1;
  // Back from the destination: undo the centre, the turn, then the scale.
  const double x0 = 0.5 - p.cx, y0 = 0.5 - p.cy;
  AffineMap m;
  m.u = fixed(sw / 2.0 + (c * x0 + s * y0) / sx);
  m.v = fixed(sh / 2.0 + (-s * x0 + c * y0) / sy);
  m.du_dx = fixed(c / sx);
  m.du_dy = fixed(s / sx);
  m.dv_dx = fixed(-s / sy);
  m.dv_dy = fixed(c / sy);
  return m;
}

void transformed_size(int sw, int sh, const PicturePlacement &p, double *w, double *h) {
  double c, s;
  turn(p.degrees, &c, &s);
  const double pw = sw * p.sx, ph = sh * p.sy;
  *w = std::fabs(pw * c) + std::fabs(ph * s);
  *h = std::fabs(pw * s) + std::fabs(ph * c);
}

bool transform_bilinear(const BlitKernels &k, const uint8_t *src, int src_pitch, int sw, int sh,
                        uint8_t *dst, int dst_pitch, int dw, int dh, const AffineMap &map) {
  if (sw <= 0 || sh <= 0 || sw > kTransformMaxSide || sh > kTransformMaxSide || dw <= 0 ||
      dh <= 0 || dw > kTransformMaxDest || dh > kTransformMaxDest)
    return false;
  const int64_t u_end = (int64_t)sw << 16, v_end = (int64_t)sh << 16;
  for (int y = 0; y < dh; y++) {
    uint8_t *line = dst + (long)y * dst_pitch;
    const int64_t u = map.u + y * map.du_dy, v = map.v + y * map.dv_dy;
    int64_t from = 0, to = dw;
    narrow(u, map.du_dx, u_end, &from, &to);
    narrow(v, map.dv_dx, v_end, &from, &to);
    if (to <= from) from = to = 0;
    memset(line, 0, (size_t)from * 4);
    const int n = (int)(to - from);
    if (n > 0) {
      // Inside the picture every point fits 31 bits; a step does too
      // whenever a second point follows.
      const int32_t du = n > 1 ? (int32_t)map.du_dx : 0, dv = n > 1 ? (int32_t)map.dv_dx : 0;
      k.transform_row(src, src_pitch, sw, sh, line + from * 4, n,
                      (int32_t)(u + from * map.du_dx), (int32_t)(v + from * map.dv_dx), du, dv);
    }
    memset(line + to * 4, 0, (size_t)(dw - to) * 4);
  }
  return true;
}

bool transform_bilinear(const uint8_t *src, int src_pitch, int sw, int sh, uint8_t *dst,
                        int dst_pitch, int dw, int dh, const AffineMap &map) {
  return transform_bilinear(blit_kernels(), src, src_pitch, sw, sh, dst, dst_pitch, dw, dh, map);
}
