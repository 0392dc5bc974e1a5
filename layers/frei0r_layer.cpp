#include "frei0r_layer.h"

#include "context.h"

Frei0rLayer::Frei0rLayer(const Frei0rPlugin &plugin, std::vector<Frei0rSetting> settings)
    : inst_(plugin, std::move(settings)) {
  setname("F0R");
  set_filename(plugin.use_name().c_str());
}

// The thread must be gone before the instance it runs.
Frei0rLayer::~Frei0rLayer() {
  if (running || alive) stop();
}

bool Frei0rLayer::init(Context *env) {
  _init(env, 0, 0, 32);
  period_ = env->fps_usec / 1e6;
  made_ = 0;
  return true;
}

bool Frei0rLayer::keypress(SDL_keysym *key) {
  lock_feed();
  said_ = keys_.press(inst_, *key);
  unlock_feed();
  return !said_.empty();
}

void Frei0rLayer::set(const Frei0rSetting &s) {
  lock_feed();
  inst_.set(s);
  unlock_feed();
}

void *Frei0rLayer::feed() {
  const uint8_t *frame = inst_.generate((double)made_ * period_, geo.w, geo.h);
  made_++;
  return (void *)frame;
}
