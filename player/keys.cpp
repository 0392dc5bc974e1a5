#include "keys.h"

#include "args.h"

namespace {

const int kAlphaStep = 16;

int digit(SDLKey sym) {
  if (sym >= SDLK_1 && sym <= SDLK_9) return sym - SDLK_1 + 1;
  if (sym >= SDLK_KP1 && sym <= SDLK_KP9) return sym - SDLK_KP1 + 1;
  return 0;
}

ControlArgs one(double v) { return {ControlArg::number(v)}; }
ControlArgs one(const std::string &s) { return {ControlArg::string(s)}; }

}  // namespace

std::string KeyMap::set(const std::string &path, const ControlArgs &args) {
  std::string said, why;
  c_.set(path, args, said, why);
  return said;
}

std::string KeyMap::on_layer(const std::string &what, const ControlArgs &args) {
  return set("/layer/" + std::to_string(c_.selected() + 1) + "/" + what, args);
}

// The nine modes in turn; a layer's own blend stands before the first and
// after the last of them.
std::string KeyMap::next_blit(int step) const {
  Layer *l = c_.layer(c_.selected());
  const std::string own = c_.own_blend(c_.selected());
  if (l->get_blend()) return step > 0 ? "RGB" : "ALPHA";
  const int code = l->blit >= 1 && l->blit <= 9 ? l->blit : 1;
  if (!own.empty() && code == (step > 0 ? BLIT_ALPHA : BLIT_RGB)) return own;
  return blit_name((code - 1 + step + 9) % 9 + 1);
}

std::string KeyMap::press(const SDL_keysym &key) {
  // Shift, Ctrl, Alt and the lock keys alone are part of another key.
  if (key.sym >= SDLK_NUMLOCK && key.sym <= SDLK_COMPOSE) return "";
  const bool shift = (key.mod & KMOD_SHIFT) != 0;
  switch (key.sym) {
    case SDLK_ESCAPE:
    case SDLK_q: return set("/quit");
    case SDLK_SPACE: return set("/pause", one(c_.paused ? 0 : 1));
    case SDLK_m: return set("/magnify", one((c_.magnification() + 1) % 3 + 1));
    case SDLK_s: return set("/screenshot");
    default: break;
  }
  if (!c_.size()) return "";
  const size_t n = c_.size(), sel = c_.selected();
  if (int d = digit(key.sym))
    return (size_t)d <= n ? set("/layer/" + std::to_string(d) + "/select") : "";
  Layer *l = c_.layer(sel);
  switch (key.sym) {
    case SDLK_TAB:
      return set("/layer/" + std::to_string((sel + (shift ? n - 1 : 1)) % n + 1) + "/select");
    case SDLK_b: return on_layer("blit", one(next_blit(shift ? -1 : 1)));
    case SDLK_PLUS:
    case SDLK_EQUALS:
    case SDLK_KP_PLUS: return on_layer("alpha", one((l->alpha + kAlphaStep) / 255.0));
    case SDLK_MINUS:
    case SDLK_KP_MINUS: return on_layer("alpha", one((l->alpha - kAlphaStep) / 255.0));
    case SDLK_f: return on_layer("fade");
    case SDLK_h: return on_layer("shown", one(l->active ? 0 : 1));
    default: return on_layer("key", one(SDL_GetKeyName(key.sym)));
  }
}
