#include "layer_transform.h"

#include <algorithm>
#include <cmath>

#include "canvas.h"
#include "composer.h"
#include "viewport.h"

void LayerTransform::set_scale(double s) {
  if (std::isnan(s)) return;
  scale_ = std::max(kMinScale, std::min(kMaxScale, s));
  release_if_idle();
}

void LayerTransform::set_rotation(double degrees) {
  if (!std::isfinite(degrees)) return;
  double d = std::fmod(degrees, 360.0);
  if (d < 0) d += 360.0;
  rotation_ = d >= 360.0 ? 0 : d;  // -1e-20 + 360 rounds to 360
  release_if_idle();
}

void LayerTransform::set_fit(Fit f) {
  fit_ = f;
  release_if_idle();
}

void LayerTransform::release_if_idle() {
  if (!active()) std::vector<uint8_t>().swap(pixels_);
}

void *LayerTransform::render(const void *frame, const ScreenGeometry &geo, const Canvas &canvas,
                             const ViewPort &screen, ScreenGeometry *shown) {
  ComposeSample p;
  ScreenGeometry g;
  if (!plan(frame, geo, canvas, screen, &g, &p)) return nullptr;
  if (!transform_bilinear(p.src, p.src_pitch, p.sw, p.sh, p.dst, p.dst_pitch, p.dw, p.dh, p.map))
    return nullptr;
  *shown = g;
  return p.dst;
}

void *LayerTransform::plan(const void *frame, const ScreenGeometry &geo, const Canvas &canvas,
                           const ViewPort &screen, ScreenGeometry *shown, ComposeSample *sample) {
  if (!frame || geo.bpp != 32 || geo.w == 0 || geo.h == 0) return nullptr;
  PicturePlacement p;
  p.degrees = rotation_;
  double cx, cy;
  if (fit_ == Fit::none) {
    cx = origin_x_ + geo.w / 2.0;
    cy = origin_y_ + geo.h / 2.0;
  } else {
    fit_scale(fit_, geo.w, geo.h, canvas.screen_w, canvas.screen_h, &p.sx, &p.sy);
    cx = canvas.x + canvas.screen_w / 2.0;
    cy = canvas.y + canvas.screen_h / 2.0;
  }
  p.sx *= scale_;
  p.sy *= scale_;
  double bw, bh;
  transformed_size(geo.w, geo.h, p, &bw, &bh);
  // A box within a hair of whole pixels is taken as whole: no column of
  // zeros from rounding.
  const double hair = 1e-6;
  const double left = std::floor(cx - bw / 2 + 0.5), top = std::floor(cy - bh / 2 + 0.5);
  const double right = left + std::ceil(bw - hair), bottom = top + std::ceil(bh - hair);
  int32_t x0, y0, x1, y1;
  screen.drawable(x0, y0, x1, y1);
  const int widest = 0xFFFF / 4;  // the 16-bit pitch
  const double l = std::max(left, (double)x0), t = std::max(top, (double)y0);
  const double r = std::min({right, (double)x1, l + widest}), b = std::min(bottom, (double)y1);
  if (r <= l || b <= t) return nullptr;
  ScreenGeometry g = geo;
  g.x = (int16_t)l;
  g.y = (int16_t)t;
  g.w = (uint16_t)(r - l);
  g.h = (uint16_t)(b - t);
  g.pitch = (uint16_t)(g.w * 4);
  g.size = (uint32_t)g.pitch * g.h;
  p.cx = left + bw / 2 - l;
  p.cy = top + bh / 2 - t;
  if (pixels_.size() < g.size) pixels_.resize(g.size);
  // The sampler's own limits, checked here so that no band meets them.
  if (geo.w > kTransformMaxSide || geo.h > kTransformMaxSide) return nullptr;
  sample->src = (const uint8_t *)frame;
  sample->src_pitch = geo.pitch;
  sample->sw = geo.w;
  sample->sh = geo.h;
  sample->dst = pixels_.data();
  sample->dst_pitch = g.pitch;
  sample->dw = g.w;
  sample->dh = g.h;
  sample->top = g.y;
  sample->map = transform_map(geo.w, geo.h, p);
  *shown = g;
  return pixels_.data();
}
