#include "keys.h"

#include "args.h"

namespace {

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

std::string KeyMap::step(const std::string &row, int dir) {
  Layer *l = selected();
  const Param *p = l ? l->param(row) : nullptr;
  if (!p || !p->get) return "";
  stepped_ = row;
  return on_layer(row, param_args(*p, step_param(*p, p->get(*l), dir)));
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
    case SDLK_t: return set("/tempo/tap");
    default: break;
  }
  if (!c_.size()) return "";
  const size_t n = c_.size(), sel = c_.selected();
  if (int d = digit(key.sym))
    return (size_t)d <= n ? set("/layer/" + std::to_string(d) + "/select") : "";
  switch (key.sym) {
    case SDLK_TAB:
      return set("/layer/" + std::to_string((sel + (shift ? n - 1 : 1)) % n + 1) + "/select");
    case SDLK_b: return step("blit", shift ? -1 : 1);
    case SDLK_PLUS:
    case SDLK_EQUALS:
    case SDLK_KP_PLUS: return step("alpha", 1);
    case SDLK_MINUS:
    case SDLK_KP_MINUS: return step("alpha", -1);
    case SDLK_f: return on_layer("fade");
    case SDLK_l:
      if (shift) return set("/learn", one("/layer/" + std::to_string(sel + 1) + "/" + stepped_));
      return on_layer("key", one(SDL_GetKeyName(key.sym)));
    case SDLK_h: return step("shown", 1);
    default: return on_layer("key", one(SDL_GetKeyName(key.sym)));
  }
}
