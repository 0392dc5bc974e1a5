#include "frei0r_effects.h"

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

Frei0rFilter::Frei0rFilter(const Frei0rPlugin &plugin, std::vector<Frei0rSetting> settings)
    : name_(plugin.use_name()), inst_(plugin, std::move(settings)) {
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
    : name_(plugin.use_name()), inst_(plugin, std::move(settings)) {}

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
