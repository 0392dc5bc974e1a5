#include "frei0r_layer.h"

#include "context.h"
#include "jutils.h"

Frei0rLayer::Frei0rLayer(const Frei0rPlugin &plugin, std::vector<Frei0rSetting> settings)
    : inst_(new Frei0rInstance(plugin, std::move(settings))) {
  setname("F0R");
  set_filename(plugin.use_name().c_str());
  rows_ = frei0r_rows(
      plugin, [](const Parametric &o) -> const Frei0rInstance & {
        return *static_cast<const Frei0rLayer &>(o).inst_;
      },
      [](Parametric &o, const Frei0rSetting &s) { static_cast<Frei0rLayer &>(o).set(s); });
}

// The thread must be gone before the instance it runs. An owner that
// deletes a layer (LayerDeleter) has stopped it; one that did not, and a
// thread that will not stop, cost the instance rather than a crash in it.
Frei0rLayer::~Frei0rLayer() {
  if (stop()) return;
  error("layer %s: its plug-in instance is leaked, its thread still runs", name);
  (void)inst_.release();
}

// Frame 0 is there before the thread runs: the first composed frame has
// it, rather than nothing.
bool Frei0rLayer::init(Context *env) {
  _init(env, 0, 0, 32);
  first_frame_ = env->frames;
  feed_buffer = (void *)make(first_frame_);
  return feed_buffer != nullptr;
}

const uint8_t *Frei0rLayer::make(uint64_t frame) {
  const uint64_t k = frame > first_frame_ ? frame - first_frame_ : 0;
  return inst_->generate((double)k / env->fps_rate, geo.w, geo.h);
}

bool Frei0rLayer::keypress(SDL_keysym *key) {
  lock_feed();
  said_ = keys_.press(*inst_, *key);
  unlock_feed();
  if (said_.empty()) return false;
  refeed();
  return true;
}

void Frei0rLayer::set(const Frei0rSetting &s) {
  lock_feed();
  inst_->set(s);
  unlock_feed();
  refeed();
}

void *Frei0rLayer::feed() { return (void *)make(frame_asked); }
