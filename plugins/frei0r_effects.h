/*  Kolvex - frei0r plug-ins at work on layers
 *
 *  Frei0rFilter: a frei0r filter in a layer's filter list, beside ours.
 *  Frei0rMixer: a frei0r mixer as a layer's blend: what is on the screen
 *  under the layer is its first input, the layer its second (frei0r's
 *  mixers put the second input onto the first: "subtract" takes the layer
 *  from the screen, as SUB does), the result shown with the layer's alpha.
 *  Frei0rKeys: stepping an instance's parameters from the keyboard.
 *
 *  Each makes its own instance, at the size of what it is given, made again
 *  when that size changes; the time it is run at is the engine's frame
 *  time (Context::frame_time), so a capture is the same on every run.
 *  Both run on the main thread, in the frame step.
 */
#ifndef KOLVEX_FREI0R_EFFECTS_H
#define KOLVEX_FREI0R_EFFECTS_H

#include <SDL.h>

#include <functional>
#include <string>
#include <vector>

#include "frei0r_host.h"
#include "layer_blend.h"
#include "plugger.h"

// The keys: '[' and ']' choose the previous or next parameter, ',' and '.'
// step it down or up by a twentieth of its range (a boolean flips).
struct Frei0rKeys {
  int current = 0;
  // The line telling what changed, empty when the key is not one of these.
  std::string press(Frei0rInstance &inst, const SDL_keysym &key);
};

// The rows "param/KEY" of a plug-in's parameters (params.h), in its order:
// numbers, positions and colours 0..1, booleans, texts. `inst` gives the
// object's instance to read, `apply` sets one value on the object.
ParamTable frei0r_rows(const Frei0rPlugin &p,
                       std::function<const Frei0rInstance &(const Parametric &)> inst,
                       std::function<void(Parametric &, const Frei0rSetting &)> apply);

class Frei0rFilter : public Filter {
 public:
  Frei0rFilter(const Frei0rPlugin &plugin, std::vector<Frei0rSetting> settings);
  void *run(void *frame, Layer &layer) override;
  bool changes_input() const override { return false; }
  int key(SDL_keysym *key, std::string &said) override;
  Frei0rInstance &instance() { return inst_; }
  const ParamTable &kind_params() const override { return rows_; }

 private:
  std::string name_;
  Frei0rInstance inst_;
  Frei0rKeys keys_;
  ParamTable rows_;
};

class Frei0rMixer : public LayerBlend {
 public:
  Frei0rMixer(const Frei0rPlugin &plugin, std::vector<Frei0rSetting> settings);
  const char *name() const override { return name_.c_str(); }
  void blend(Layer &layer, ViewPort &screen) override;
  std::string key(const SDL_keysym &key) override { return keys_.press(inst_, key); }
  Frei0rInstance &instance() { return inst_; }
  const ParamTable &params() const override { return rows_; }

 private:
  std::string name_;
  Frei0rInstance inst_;
  Frei0rKeys keys_;
  ParamTable rows_;
};

#endif
