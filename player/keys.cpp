#include "keys.h"

#include "args.h"
#include "frei0r_effects.h"
#include "frei0r_layer.h"
#ifdef KOLVEX_HAVE_FFMPEG
#include "video_layer.h"
#endif

namespace {

const int kAlphaStep = 16;

int digit(SDLKey sym) {
  if (sym >= SDLK_1 && sym <= SDLK_9) return sym - SDLK_1 + 1;
  if (sym >= SDLK_KP1 && sym <= SDLK_KP9) return sym - SDLK_KP1 + 1;
  return 0;
}

}  // namespace

KeyMap::KeyMap(Context &ctx, std::vector<Layer *> stack) : ctx_(ctx), stack_(std::move(stack)) {
  if (!stack_.empty()) sel_ = stack_.size() - 1;  // the top layer
}

std::string KeyMap::press(const SDL_keysym &key) {
  const bool shift = (key.mod & KMOD_SHIFT) != 0;
  switch (key.sym) {
    case SDLK_ESCAPE:
    case SDLK_q:
      quit = true;
      return "";
    case SDLK_SPACE:
      paused = !paused;
      return paused ? "paused" : "playing";
    case SDLK_m: return magnify();
    case SDLK_s:
      screenshot = true;
      return "";
    default: break;
  }
  if (stack_.empty()) return "";
  if (int n = digit(key.sym)) return (size_t)n <= stack_.size() ? select(n - 1) : "";
  switch (key.sym) {
    case SDLK_TAB: return select((sel_ + (shift ? stack_.size() - 1 : 1)) % stack_.size());
    case SDLK_b: return cycle_blit(shift ? -1 : 1);
    case SDLK_PLUS:
    case SDLK_EQUALS:
    case SDLK_KP_PLUS: return change_alpha(kAlphaStep);
    case SDLK_MINUS:
    case SDLK_KP_MINUS: return change_alpha(-kAlphaStep);
    case SDLK_f: return fade();
    case SDLK_h: return hide();
    default: return pass_on(key);
  }
}

std::string KeyMap::label() const {
  Layer *l = stack_[sel_];
  return "layer " + std::to_string(sel_ + 1) + " " + (l->filename[0] ? l->filename : l->name);
}

std::string KeyMap::mode(Layer *l) const {
  if (l->get_blend()) return l->get_blend()->name();
  std::string m = blit_name(l->blit);
  return l->blit == BLIT_ALPHA ? m + " " + std::to_string(l->alpha) : m;
}

std::string KeyMap::select(size_t i) {
  sel_ = i;
  Layer *l = stack_[sel_];
  const std::string line = label() + ": " + mode(l);
  return l->active ? line : line + ", hidden";
}

// The nine modes in turn; a layer's own blend stands before the first and
// after the last of them.
std::string KeyMap::cycle_blit(int step) {
  Layer *l = stack_[sel_];
  int code = l->blit >= 1 && l->blit <= 9 ? l->blit : 1;
  auto parked = parked_.find(l);
  if (l->get_blend()) {
    parked_[l].reset(l->take_blend());
    l->set_blit(step > 0 ? BLIT_RGB : BLIT_ALPHA);
  } else if (parked != parked_.end() && code == (step > 0 ? BLIT_ALPHA : BLIT_RGB)) {
    l->set_blend(parked->second.release());
    parked_.erase(parked);
  } else {
    l->set_blit((code - 1 + step + 9) % 9 + 1);
  }
  return label() + ": " + mode(l);
}

// An explicit alpha ends any fade.
std::string KeyMap::change_alpha(int step) {
  Layer *l = stack_[sel_];
  l->fade_in_target = l->fade_out_target = 0;
  fading_out_.erase(l);
  faded_.erase(l);
  l->set_blit(BLIT_ALPHA);
  l->set_alpha(l->alpha + step);
  return label() + ": ALPHA " + std::to_string(l->alpha);
}

// The engine's fades: one alpha step a frame, in the ALPHA mode. Out when
// the layer shows or is fading in; back in, to the alpha and the mode it
// had, when it is fading out or gone.
std::string KeyMap::fade() {
  Layer *l = stack_[sel_];
  const bool out = l->fade_out_target == 0 && (l->fade_in_target != 0 || l->alpha > 1);
  if (out) {
    if (!faded_.count(l)) faded_[l] = {l->blit, l->blit == BLIT_ALPHA ? l->alpha : 255};
    l->set_blit(BLIT_ALPHA);
    l->fade_in_target = 0;
    l->fade_out_target = 1;  // 0 means no fade: settle() takes the last step
    fading_out_[l] = true;
    return label() + ": fading out";
  }
  const Look was = faded_.count(l) ? faded_[l] : Look{BLIT_ALPHA, 255};
  l->set_blit(BLIT_ALPHA);
  l->fade_out_target = 0;
  // The fade steps while it is below its target: one already there is done.
  l->fade_in_target = (uint8_t)was.alpha;
  if (l->alpha >= was.alpha) l->set_alpha(was.alpha);
  fading_out_[l] = false;
  faded_[l] = was;
  return label() + ": fading in";
}

void KeyMap::settle() {
  for (auto it = fading_out_.begin(); it != fading_out_.end();) {
    Layer *l = it->first;
    const bool out = it->second;
    if (out ? l->fade_out_target != 0 : l->fade_in_target != 0 && l->alpha < faded_[l].alpha) {
      ++it;
      continue;
    }
    if (out) {
      if (l->alpha <= 1) l->set_alpha(0);
    } else {
      // Faded back in: the mode it had before the fade out.
      l->set_alpha(faded_[l].alpha);
      l->set_blit(faded_[l].blit);
      faded_.erase(l);
    }
    it = fading_out_.erase(it);
  }
}

std::string KeyMap::hide() {
  Layer *l = stack_[sel_];
  l->active = !l->active;
  return label() + (l->active ? ": shown" : ": hidden");
}

std::string KeyMap::magnify() {
  const int next = (ctx_.magnification + 1) % 3;
  ctx_.magnify(next);
  return "magnification " + std::to_string(next + 1) + "x";
}

// The layer first (the generator's arrows), then its filters (vertigo's x).
std::string KeyMap::pass_on(const SDL_keysym &key) {
  Layer *l = stack_[sel_];
  SDL_keysym k = key;
  const bool layer_used = l->keypress(&k);
  bool used = layer_used;
  // frei0r parameters tell their new values (frei0r_effects.h), a video
  // layer what its key changed ("speed 1.25x").
  std::string said;
  if (Frei0rLayer *source = dynamic_cast<Frei0rLayer *>(l)) said = source->last_said();
#ifdef KOLVEX_HAVE_FFMPEG
  if (VideoLayer *video = dynamic_cast<VideoLayer *>(l); video && layer_used)
    said = video->key_status();
#endif
  if (Frei0rMixer *mixer = dynamic_cast<Frei0rMixer *>(l->get_blend())) {
    const std::string s = mixer->key(k);
    if (!s.empty()) said = s;
  }
  l->filters.lock();
  for (Entry *e = l->filters.begin(); e; e = e->next) {
    Filter *f = static_cast<Filter *>(e);
    std::string s;
    if (f->active && f->key(&k, s)) used = true;
    if (!s.empty()) said = s;
  }
  l->filters.unlock();
  if (!said.empty()) return label() + ": " + said;
  return used ? label() + ": key " + SDL_GetKeyName(key.sym) : "";
}
