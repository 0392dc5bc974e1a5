#include "over_blend.h"

#include "blit.h"
#include "composer.h"
#include "layer.h"
#include "viewport.h"

void OverBlend::blend(Layer &layer, ViewPort &screen) {
  const BlitClip &c = layer.clip;
  blit_over((const uint8_t *)layer.blit_buffer + c.offset, layer.geo.pitch, (uint8_t *)c.dest,
            screen.pitch, c.w, c.h, layer.alpha);
}

bool OverBlend::band_step(const Layer &layer, ComposeStep *step) const {
  const BlitClip &c = layer.clip;
  *step = ComposeStep();
  step->mode = ComposeStep::kOver;
  step->arg = layer.alpha;
  step->src = (const uint8_t *)layer.blit_buffer + c.offset;
  step->src_pitch = layer.geo.pitch;
  step->x = c.x, step->y = c.y, step->w = c.w, step->h = c.h;
  return true;
}
