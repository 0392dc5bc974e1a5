#include "canvas.h"

#include <algorithm>
#include <cmath>

Canvas Canvas::place(int w, int h, int sw, int sh, bool fill) {
  Canvas c;
  c.fill = fill;
  c.w = w > 0 ? w : sw;
  c.h = h > 0 ? h : sh;
  if (c.w <= 0 || c.h <= 0) return c;
  if (c.w == sw && c.h == sh) {  // exactly the screen: no rounding anywhere
    c.screen_w = sw;
    c.screen_h = sh;
    return c;
  }
  const double fx = (double)sw / c.w, fy = (double)sh / c.h;
  c.scale = fill ? std::max(fx, fy) : std::min(fx, fy);
  // The side that sets the scale spans the screen exactly.
  c.screen_w = fx == c.scale ? sw : std::max(1, (int)std::lround(c.w * c.scale));
  c.screen_h = fy == c.scale ? sh : std::max(1, (int)std::lround(c.h * c.scale));
  c.x = (sw - c.screen_w) / 2;  // centred
  c.y = (sh - c.screen_h) / 2;
  return c;
}

int Canvas::scaled(double n) const { return (int)std::lround(n * scale); }

int Canvas::zoom() const { return std::max(1, (int)std::floor(scale + 1e-9)); }
