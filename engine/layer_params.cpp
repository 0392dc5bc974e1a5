// The layer base's parameters: what every kind of layer lets change.
#include <strings.h>

#include <cmath>

#include "context.h"
#include "layer.h"
#include "over_blend.h"

namespace {

const int kAlphaStep = 16;  // a key's step, of 255
const char *const kModes[] = {"RGB", "BLU", "GRE", "RED", "ADD", "SUB", "AND", "OR", "ALPHA"};
const double kOver = 10, kOwn = 11;  // the blit choices after the nine modes

int to_alpha(double unit) { return (int)std::lround(unit * 255); }

// A target given as 0..1, or `none` when not given.
int fade_target(double given, int none) { return std::isnan(given) ? none : to_alpha(given); }
double fade_seconds(double given) { return std::isnan(given) ? -1 : given; }

}  // namespace

struct LayerParams {
  // "ALPHA 128", "ADD", "frei0r.multiply": how it is drawn now.
  static std::string mode(const Layer &l) {
    if (l.blender) return l.blender->name();
    std::string m = blit_name(l.blit);
    return l.blit == BLIT_ALPHA ? m + " " + std::to_string(l.alpha) : m;
  }

  static double blit(const Layer &l) {
    if (!l.blender) return l.blit >= BLIT_RGB && l.blit <= BLIT_ALPHA ? (int)l.blit : (int)BLIT_RGB;
    return strcasecmp(l.blender->name(), "OVER") == 0 ? kOver : kOwn;
  }

  // A mode parks the layer's own blend; OVER and the own blend's name take
  // it back (OVER is made anew when the own one is another).
  static void set_blit(Layer &l, double choice) {
    l.stop_fade();  // a mode set by hand stays
    if (choice < kOver) {
      if (l.blender && !l.parked_) l.parked_.reset(l.blender.release());
      l.blender.reset();
      l.set_blit((int)choice);
      return;
    }
    const bool own = choice == kOwn;
    if (own && l.parked_) {
      l.blender = std::move(l.parked_);
    } else if (!own && !(l.blender && strcasecmp(l.blender->name(), "OVER") == 0)) {
      if (l.blender && !l.parked_) l.parked_.reset(l.blender.release());
      l.blender.reset(new OverBlend());
    }
  }

  static std::string fading(const Layer &l) { return l.fading_out() ? "fading out" : "fading in"; }

  static ParamTable table(const std::string &own) {
    std::vector<std::string> modes(std::begin(kModes), std::end(kModes));
    modes.push_back("OVER");
    if (!own.empty() && strcasecmp(own.c_str(), "OVER") != 0) modes.push_back(own);
    ParamTable t = {
        row<Layer>({"alpha", ParamType::number, 0, 1, 1, "", "opacity in the ALPHA mode; ends a fade",
                    true, {}, kAlphaStep / 255.0},
                   [](const Layer &l) { return ParamValue::of(l.alpha / 255.0); },
                   [](Layer &l, const ParamValue &v) {
                     l.stop_fade();
                     if (!l.get_blend()) l.set_blit(BLIT_ALPHA);  // a blend shows it with its alpha
                     l.set_alpha(to_alpha(v.num[0]));
                   },
                   mode),
        row<Layer>({"blit", ParamType::choice, 1, (double)modes.size(), 1, "",
                    "how it is drawn over what is under it", true, modes},
                   [](const Layer &l) { return ParamValue::of(blit(l)); },
                   [](Layer &l, const ParamValue &v) { set_blit(l, v.num[0]); }, mode),
        row<Layer>({"pos", ParamType::position, -32768, 32767, 0, "px", "top-left corner in canvas pixels"},
                   [](const Layer &l) {
                     int x, y;
                     l.position(x, y);
                     return ParamValue::of(x, y);
                   },
                   [](Layer &l, const ParamValue &v) {
                     l.set_position((int)std::lround(v.num[0]), (int)std::lround(v.num[1]));
                   }),
        row<Layer>({"shown", ParamType::boolean, 0, 1, 1, "", "shown or hidden"},
                   [](const Layer &l) { return ParamValue::of(l.active ? 1 : 0); },
                   [](Layer &l, const ParamValue &v) { l.active = v.num[0] != 0; },
                   [](const Layer &l) { return std::string(l.active ? "shown" : "hidden"); }),
        row<Layer>({"scale", ParamType::number, 0.01, 16, 1, "x", "its size, about its centre", true,
                    {}, 0.1},
                   [](const Layer &l) { return ParamValue::of(l.get_scale()); },
                   [](Layer &l, const ParamValue &v) { l.set_scale(v.num[0]); }),
        row<Layer>({"rotation", ParamType::number, 0, 359.99, 0, "deg", "a clockwise turn about its centre",
                    true, {}, 15},
                   [](const Layer &l) { return ParamValue::of(l.get_rotation()); },
                   [](Layer &l, const ParamValue &v) { l.set_rotation(v.num[0]); }),
        row<Layer>({"fit", ParamType::choice, 0, 3, 0, "",
                    "to the canvas, centred: whole (fit), covering it (fill), or exactly (stretch)",
                    true, {"none", "fit", "fill", "stretch"}},
                   [](const Layer &l) { return ParamValue::of((double)(int)l.get_fit()); },
                   [](Layer &l, const ParamValue &v) { l.set_fit((Fit)(int)v.num[0]); }),
        row<Layer>({"fade", ParamType::trigger, 0, 0, 0, "", "fade out, or back in to the alpha and mode it had"},
                   nullptr,
                   [](Layer &l, const ParamValue &) {
                     // A layer taken to 0 by hand counts as faded out.
                     if (l.fading_out() || (!l.fading() && l.alpha == 0)) l.fade_in();
                     else l.fade_out();
                   },
                   fading),
        row<Layer>({"fade/out", ParamType::trigger, 0, 0, 0, "",
                    "fade down to the target (default 0), one step a frame or over the seconds", true,
                    {}, 0, {{"target", 0, 1}, {"seconds", 0, 3600}}},
                   nullptr,
                   [](Layer &l, const ParamValue &v) {
                     l.fade_out(fade_target(v.num[0], 0), fade_seconds(v.num[1]));
                   },
                   fading),
        row<Layer>({"fade/in", ParamType::trigger, 0, 0, 0, "",
                    "fade up to the target (default: the alpha it had)", true, {}, 0,
                    {{"target", 0, 1}, {"seconds", 0, 3600}}},
                   nullptr,
                   [](Layer &l, const ParamValue &v) {
                     l.fade_in(fade_target(v.num[0], -1), fade_seconds(v.num[1]));
                   },
                   fading),
    };
    return t;
  }
};

std::string Layer::own_blend() const {
  if (parked_) return parked_->name();
  return blender ? blender->name() : "";
}

void Layer::position(int &x, int &y) const {
  if (pos_set_ || !env) {
    x = pos_x_, y = pos_y_;
    return;
  }
  const Canvas c = env->canvas();
  x = (int)std::lround((geo.x - c.x) / c.scale);
  y = (int)std::lround((geo.y - c.y) / c.scale);
}

const ParamTable &Layer::base_params() {
  static const ParamTable t = LayerParams::table("");
  return t;
}

const ParamTable &Layer::kind_params() const {
  static const ParamTable none;
  return none;
}

const ParamTable &Layer::params() const {
  const std::string own = own_blend();
  if (params_.empty() || own != params_own_) {
    params_ = LayerParams::table(own);
    const ParamTable &kind = kind_params();
    params_.insert(params_.end(), kind.begin(), kind.end());
    params_own_ = own;
  }
  return params_;
}
