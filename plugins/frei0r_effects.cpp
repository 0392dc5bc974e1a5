#include "frei0r_effects.h"

#include <frei0r.h>

#include <cstring>

#include "blit.h"
#include "context.h"
#include "layer.h"
#include "viewport.h"

std::string Frei0rKeys::press(Frei0rInstance &inst, const SDL_keysym &key) {
  const int n = (int)inst.plugin().params.size();
  if (n == 0) return "";
  switch (key.sym) {
    case SDLK_LEFTBRACKET:
    case SDLK_RIGHTBRACKET:
      current = (current + (key.sym == SDLK_RIGHTBRACKET ? 1 : n - 1)) % n;
      return inst.step(current, 0);
    case SDLK_COMMA:
    case SDLK_PERIOD:
      current %= n;
      return inst.step(current, key.sym == SDLK_PERIOD ? 1 : -1);
    default: return "";
  }
}

ParamTable frei0r_rows(const Frei0rPlugin &p,
                       std::function<const Frei0rInstance &(const Parametric &)> inst,
                       std::function<void(Parametric &, const Frei0rSetting &)> apply) {
  ParamTable t;
  for (size_t i = 0; i < p.params.size(); i++) {
    const Frei0rParam &fp = p.params[i];
    Param r;
    r.name = "param/" + fp.key;
    r.help = fp.explanation.empty() ? fp.name : fp.explanation;
    switch (fp.type) {
      case F0R_PARAM_BOOL: r.type = ParamType::boolean; break;
      case F0R_PARAM_COLOR: r.type = ParamType::colour; break;
      case F0R_PARAM_POSITION: r.type = ParamType::position; break;
      case F0R_PARAM_STRING: r.type = ParamType::text, r.max = 1024; break;
      default: r.type = ParamType::number; break;
    }
    const int index = (int)i, type = fp.type;
    r.get = [inst, index](const Parametric &o) {
      const Frei0rValue v = inst(o).value(index);
      ParamValue out;
      out.num[0] = v.type == F0R_PARAM_COLOR ? v.rgb[0] : v.type == F0R_PARAM_POSITION ? v.xy[0] : v.number;
      out.num[1] = v.type == F0R_PARAM_COLOR ? v.rgb[1] : v.xy[1];
      out.num[2] = v.rgb[2];
      out.text = v.text;
      return out;
    };
    r.set = [apply, index, type](Parametric &o, const ParamValue &v) {
      Frei0rSetting s{index, Frei0rValue()};
      s.value.type = type;
      s.value.number = v.num[0];
      for (int c = 0; c < 3; c++) s.value.rgb[c] = (float)v.num[c];
      s.value.xy[0] = v.num[0], s.value.xy[1] = v.num[1];
      s.value.text = v.text;
      apply(o, s);
    };
    r.def = 0;
    Frei0rValue d;
    if (p.default_value(index, d) && (type == F0R_PARAM_BOOL || type == F0R_PARAM_DOUBLE)) r.def = d.number;
    t.push_back(r);
  }
  return t;
}

Frei0rFilter::Frei0rFilter(const Frei0rPlugin &plugin, std::vector<Frei0rSetting> settings)
    : name_(plugin.use_name()), inst_(plugin, std::move(settings)) {
  rows_ = frei0r_rows(
      plugin, [](const Parametric &o) -> const Frei0rInstance & {
        return static_cast<const Frei0rFilter &>(o).inst_;
      },
      [](Parametric &o, const Frei0rSetting &s) { static_cast<Frei0rFilter &>(o).inst_.set(s); });
  name = name_.c_str();
  author = plugin.author.c_str();
  info = plugin.explanation.c_str();
}

// A frame the plug-in cannot take (too large for frei0r) goes through as it
// is; the instance has said so once.
void *Frei0rFilter::run(void *frame, Layer &layer) {
  const uint8_t *out = inst_.filter(layer.env->frame_time(), layer.geo.w, layer.geo.h,
                                    (const uint8_t *)frame, layer.geo.pitch);
  return out ? (void *)out : frame;
}

int Frei0rFilter::key(SDL_keysym *k, std::string &said) {
  said = keys_.press(inst_, *k);
  return !said.empty();
}

Frei0rMixer::Frei0rMixer(const Frei0rPlugin &plugin, std::vector<Frei0rSetting> settings)
    : name_(plugin.use_name()), inst_(plugin, std::move(settings)) {
  rows_ = frei0r_rows(
      plugin, [](const Parametric &o) -> const Frei0rInstance & {
        return static_cast<const Frei0rMixer &>(o).inst_;
      },
      [](Parametric &o, const Frei0rSetting &s) { static_cast<Frei0rMixer &>(o).inst_.set(s); });
}

void Frei0rMixer::blend(Layer &layer, ViewPort &screen) {
  const BlitClip &c = layer.clip;
  uint8_t *under = (uint8_t *)c.dest;
  const uint8_t *top = (const uint8_t *)layer.blit_buffer + c.offset;
  const uint8_t *out = inst_.mix(layer.env->frame_time(), c.w, c.h, under, screen.pitch, top,
                                 layer.geo.pitch);
  if (!out) return;
  if (layer.alpha == 255) {
    for (int y = 0; y < c.h; y++)
      memcpy(under + (long)y * screen.pitch, out + (long)y * c.w * 4, (size_t)c.w * 4);
  } else {
    blit_blend(out, c.w * 4, under, screen.pitch, c.w, c.h, layer.alpha, 0xFF);
  }
}
