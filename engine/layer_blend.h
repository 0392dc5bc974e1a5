/*  Kolvex - a layer's own blend
 *
 *  The nine blit modes are the screen's (blit.h). A blend that is not one
 *  of them (OVER, a frei0r mixer) belongs to its layer: while a layer has
 *  one, its frame step hands the frame to it instead of the screen's blit,
 *  and the layer's blit code is left as it was.
 */
#ifndef KOLVEX_LAYER_BLEND_H
#define KOLVEX_LAYER_BLEND_H

#include <SDL.h>

#include <string>

#include "params.h"

class Layer;
class ViewPort;
struct ComposeStep;

class LayerBlend : public Parametric {
 public:
  virtual ~LayerBlend() {}
  // What the player shows for it ("OVER", "frei0r.multiply").
  virtual const char *name() const = 0;
  // Draws layer.blit_buffer where layer.clip says (the part of the layer
  // on the screen: clip.w x clip.h pixels at clip.dest, the layer's frame
  // from clip.offset), with layer.alpha. Called by the frame step on the
  // main thread with the layer's filters locked, only when clip.w and
  // clip.h are above 0 and the layer is not hidden.
  virtual void blend(Layer &layer, ViewPort &screen) = 0;
  // Its parameters (params.h): none unless it has some.
  const ParamTable &params() const override {
    static const ParamTable none;
    return none;
  }
  // A key for the blend: what it changed, or "" when it took none.
  virtual std::string key(const SDL_keysym &) { return ""; }
  // What blend() would draw, as a band step (composer.h) reading only the
  // layer's frame: true with *step set. False, the default, for a blend
  // that must see the screen whole (a frei0r mixer): the frame step then
  // composes what lies under it first and calls blend(). Same conditions
  // as blend().
  virtual bool band_step(const Layer &, ComposeStep *) const { return false; }
};

#endif
