/*  Kolvex - the OVER blend
 *
 *  A layer blend (layer_blend.h) for pictures with transparency: each
 *  pixel covers the screen by its own alpha (its fourth byte) times the
 *  layer's alpha, through blit_over (blit.h). A fade works on it as on
 *  the alpha blit mode.
 */
#ifndef KOLVEX_OVER_BLEND_H
#define KOLVEX_OVER_BLEND_H

#include "layer_blend.h"

class OverBlend : public LayerBlend {
 public:
  const char *name() const override { return "OVER"; }
  void blend(Layer &layer, ViewPort &screen) override;
  bool band_step(const Layer &layer, ComposeStep *step) const override;
};

#endif
