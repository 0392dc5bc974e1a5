/*  Kolvex - a picture scaled and turned: bilinear sampling by an affine map
 *
 *  Every destination pixel takes the source point its centre maps back to,
 *  interpolated between the four source pixels around it, all four bytes
 *  alike (the fourth too). A destination pixel whose point falls outside
 *  the source picture is 0, all four bytes: black under a plain copy,
 *  clear under OVER, nothing added under ADD or OR.
 *
 *  The map is fixed point, so the plain kernel defines the bytes and the
 *  SIMD kernels (blit_dispatch.h, transform_<set>.cpp) give the same ones.
 *  Frames are 32 bits a pixel; pitches in bytes.
 */
#ifndef KOLVEX_TRANSFORM_H
#define KOLVEX_TRANSFORM_H

#include <stdint.h>

struct BlitKernels;

// Fixed point with 16 fraction bits; coordinates count from the source's
// top-left corner, so pixel (i, j)'s centre is (i + 1/2, j + 1/2). The
// point for destination pixel (x, y) is (u + x du_dx + y du_dy,
// v + x dv_dx + y dv_dy).
struct AffineMap {
  int64_t u, v;
  int64_t du_dx, dv_dx;
  int64_t du_dy, dv_dy;
};
constexpr int kTransformOne = 1 << 16;

// How a picture is placed: scaled sx across and sy down, turned `degrees`
// clockwise as seen on the screen, its centre at (cx, cy) in destination
// pixels from the destination's top-left corner.
struct PicturePlacement {
  double sx = 1, sy = 1;
  double degrees = 0;
  double cx = 0, cy = 0;
};

// How a picture meets an area: its natural size; all of it inside, its
// aspect kept; the area covered, its aspect kept, what overhangs cut off;
// exactly the area.
enum class Fit { none, fit, fill, stretch };

// The scale across and down that `fit` gives a sw x sh picture in an
// aw x ah area (1 and 1 for none, or an empty picture or area).
void fit_scale(Fit fit, int sw, int sh, int aw, int ah, double *sx, double *sy);

// The map that draws a sw x sh picture as `p` says. Whole quarter turns
// are exact: 360 degrees is the map of 0, 90 a pixel-exact turn.
AffineMap transform_map(int sw, int sh, const PicturePlacement &p);

// Width and height of the box around the placed picture, in pixels.
void transformed_size(int sw, int sh, const PicturePlacement &p, double *w, double *h);

// The largest side a source may have (its coordinates must fit the
// kernels' 32-bit fixed point), and a destination (a layer's 16 bits).
constexpr int kTransformMaxSide = 16383;
constexpr int kTransformMaxDest = 65535;

// dw x dh pixels of dst drawn from the sw x sh picture at src by `map`,
// with the kernel set `k` (the one in use by default). False, with nothing
// drawn, when a side is out of range (empty, or above the limits).
bool transform_bilinear(const BlitKernels &k, const uint8_t *src, int src_pitch, int sw, int sh,
                        uint8_t *dst, int dst_pitch, int dw, int dh, const AffineMap &map);
bool transform_bilinear(const uint8_t *src, int src_pitch, int sw, int sh, uint8_t *dst,
                        int dst_pitch, int dw, int dh, const AffineMap &map);

#endif
