#include "over_blend.h"

#include "blit.h"
#include "layer.h"
#include "viewport.h"

void OverBlend::blend(Layer &layer, ViewPort &screen) {
  const BlitClip &c = layer.clip;
  blit_over((const uint8_t *)layer.blit_buffer + c.offset, layer.geo.pitch, (uint8_t *)c.dest,
            screen.pitch, c.w, c.h, layer.alpha);
}
