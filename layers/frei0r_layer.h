/*  Kolvex - a frei0r source as a layer
 *
 *  A frei0r source (frei0r_host.h) makes the layer's pictures, at the
 *  screen's size, on the layer's own thread. Its frame k, counted from
 *  the frame it was set up at, is made at time k / the frame rate as set
 *  (Context::fps_rate) when the frame is made, so the same layer gives the
 *  same frames on every run. Its frame 0 is made by init(), shown from the
 *  first frame on. A parameter changed between frames re-feeds the frame
 *  made ahead (Layer::refeed), so it shows in the frame it is set for.
 *  Kind name "F0R". The keys of Frei0rKeys step its parameters.
 */
#ifndef KOLVEX_FREI0R_LAYER_H
#define KOLVEX_FREI0R_LAYER_H

#include <memory>
#include <string>
#include <vector>

#include "frei0r_effects.h"
#include "layer.h"

class Frei0rLayer : public Layer {
 public:
  Frei0rLayer(const Frei0rPlugin &plugin, std::vector<Frei0rSetting> settings);
  ~Frei0rLayer() override;

  bool open(const char *) override { return true; }
  bool init(Context *env) override;
  void close() override {}
  bool keypress(SDL_keysym *key) override;
  void *feed() override;

  // What the last key changed, as Frei0rKeys tells it.
  std::string said() const override { return said_; }
  const ParamTable &kind_params() const override { return rows_; }
  // A parameter set from the main thread, for the frame about to be
  // composed: under the feed lock, since the layer's thread runs the
  // instance.
  void set(const Frei0rSetting &s);
  const Frei0rPlugin &plugin() const { return inst_->plugin(); }

 private:
  // The feed thread's, or the keys' under the feed lock; leaked rather
  // than destroyed under a thread that will not stop.
  std::unique_ptr<Frei0rInstance> inst_;
  Frei0rKeys keys_;
  std::string said_;
  ParamTable rows_;
  uint64_t first_frame_ = 0;  // Context::frames at init: frame 0
  const uint8_t *make(uint64_t frame);
};

#endif
