/*  A frei0r plug-in that paints what it is given, for the render tests:
 *  the top half of its picture is the time in microseconds (red 0x80 plus
 *  bits 16-22, green bits 8-15, blue bits 0-7: never black), the bottom
 *  half its parameter "level" (0..1) as a grey 0..255. A source, or a
 *  filter (CLOCK0R_FILTER) that ignores its input.
 */
#include <frei0r.h>
#include <math.h>
#include <stdlib.h>

typedef struct {
  unsigned w, h;
  double level;
} clock0r_t;

int f0r_init(void) { return 1; }
void f0r_deinit(void) {}

void f0r_get_plugin_info(f0r_plugin_info_t *info) {
  info->name = "clock0r";
  info->author = "tests";
#ifdef CLOCK0R_FILTER
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
#else
  info->plugin_type = F0R_PLUGIN_TYPE_SOURCE;
#endif
  info->color_model = F0R_COLOR_MODEL_BGRA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 0;
  info->minor_version = 1;
  info->num_params = 1;
  info->explanation = "paints its time and its level";
}

void f0r_get_param_info(f0r_param_info_t *info, int index) {
  (void)index;
  info->name = "level";
  info->type = F0R_PARAM_DOUBLE;
  info->explanation = "the grey of the bottom half";
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  clock0r_t *c = calloc(1, sizeof *c);
  if (c) c->w = width, c->h = height;
  return c;
}
void f0r_destruct(f0r_instance_t i) { free(i); }
void f0r_set_param_value(f0r_instance_t i, f0r_param_t p, int index) {
  (void)index;
  ((clock0r_t *)i)->level = *(double *)p;
}
void f0r_get_param_value(f0r_instance_t i, f0r_param_t p, int index) {
  (void)index;
  *(double *)p = ((clock0r_t *)i)->level;
}

void f0r_update(f0r_instance_t i, double time, const uint32_t *in, uint32_t *out) {
  const clock0r_t *c = i;
  const unsigned long us = (unsigned long)llround(time * 1e6);
  const unsigned grey = (unsigned)(c->level * 255 + 0.5);
  unsigned char *d = (unsigned char *)out;
  (void)in;
  for (unsigned y = 0; y < c->h; y++)
    for (unsigned x = 0; x < c->w; x++, d += 4) {
      const int top = y < c->h / 2;
      d[0] = top ? (unsigned char)us : (unsigned char)grey;
      d[1] = top ? (unsigned char)(us >> 8) : (unsigned char)grey;
      d[2] = top ? (unsigned char)(0x80 | ((us >> 16) & 0x7f)) : (unsigned char)grey;
      d[3] = 0xff;
    }
}
