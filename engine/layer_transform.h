/*  Kolvex - a layer's scale, turn and fit
 *
 *  The settings every layer kind has, and the picture they make of the
 *  layer's frame (after its filters, before its blit or blend). Scale 1,
 *  no turn and Fit::none is no transform: nothing is drawn here and
 *  nothing allocated.
 *
 *  Placement, in screen pixels: with Fit::none the transformed picture is
 *  centred where the untransformed frame's centre is (its position, set
 *  by Layer::set_position, keeps its meaning). Fit::fit, fill and stretch
 *  size the frame to the canvas, then scale and turn it, centred on the
 *  canvas. The box around the result starts on a whole screen pixel (the
 *  centre moves by less than a pixel), so quarter turns and whole scales
 *  stay sharp. Only the part inside the drawable area (the canvas on the
 *  screen) is made. Where the turned picture leaves its box's corners,
 *  the pixels are 0 (transform.h).
 */
#ifndef KOLVEX_LAYER_TRANSFORM_H
#define KOLVEX_LAYER_TRANSFORM_H

#include <cstdint>
#include <vector>

#include "geometry.h"
#include "transform.h"

struct Canvas;
struct ComposeSample;
class ViewPort;

class LayerTransform {
 public:
  static constexpr double kMinScale = 0.01, kMaxScale = 16;

  // Scale clamped to kMinScale..kMaxScale; degrees taken modulo 360 into
  // 0..360 (clockwise); a value that is not a number is ignored.
  void set_scale(double s);
  void set_rotation(double degrees);
  void set_fit(Fit f);
  double scale() const { return scale_; }
  double rotation() const { return rotation_; }
  Fit fit() const { return fit_; }
  bool active() const { return scale_ != 1 || rotation_ != 0 || fit_ != Fit::none; }
  // Where the untransformed frame's top-left corner was put, in screen
  // pixels: the screen's crop may move a frame that is off the screen
  // altogether, and a transform may bring it back.
  void set_origin(int x, int y) { origin_x_ = x, origin_y_ = y; }

  // The transformed picture of `frame`, a 32-bit frame of geo's size and
  // pitch put at the origin, on `screen` showing `canvas`: its pixels
  // (owned here, valid until the next call), with *shown its geometry:
  // size, pitch and place on the screen, the rest as geo's. Null when none of it is on the
  // drawable area, or the frame cannot be sampled.
  void *render(const void *frame, const ScreenGeometry &geo, const Canvas &canvas,
               const ViewPort &screen, ScreenGeometry *shown);
  // As render, its rows left to be sampled: *sample says how (composer.h),
  // into the pixels returned, which hold nothing yet.
  void *plan(const void *frame, const ScreenGeometry &geo, const Canvas &canvas,
             const ViewPort &screen, ScreenGeometry *shown, ComposeSample *sample);

 private:
  double scale_ = 1, rotation_ = 0;
  int origin_x_ = 0, origin_y_ = 0;
  Fit fit_ = Fit::none;
  std::vector<uint8_t> pixels_;
  void release_if_idle();  // an untransformed layer holds no picture
};

#endif
