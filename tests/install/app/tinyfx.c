/* A minimal effect plug-in in C: inverts every frame in place. */
#include <kolvex/plugin.h>

static ScreenGeometry geometry;

const char *getname(void) { return "tinyfx"; }
int init(ScreenGeometry *geo) { geometry = *geo; return 0; }
int clean(void) { return 0; }
void *process(void *frame) {
  uint32_t *p = (uint32_t *)frame;
  for (uint32_t i = 0; i < geometry.size / 4; i++) p[i] = ~p[i];
  return frame;
}
