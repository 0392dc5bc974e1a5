/*  A frei0r filter for the host's failure cases, built in variants:
 *    FAKE_INIT_FAILS     f0r_init returns 0
 *    FAKE_NO_INSTANCE    f0r_construct returns nothing
 *    FAKE_NO_UPDATE      no f0r_update
 *    FAKE_VERSION=n      made for frei0r n
 *    FAKE_MODEL=n        colour model n
 *  Otherwise it copies its frame, adding its one parameter "step size"
 *  (0..1, as 0..255) to every byte.
 */
#include <frei0r.h>
#include <stdlib.h>
#include <string.h>

#ifndef FAKE_VERSION
#define FAKE_VERSION FREI0R_MAJOR_VERSION
#endif
#ifndef FAKE_MODEL
#define FAKE_MODEL F0R_COLOR_MODEL_PACKED32
#endif

typedef struct {
  unsigned w, h;
  double step;
} fake_t;

int f0r_init(void) {
#ifdef FAKE_INIT_FAILS
  return 0;
#else
  return 1;
#endif
}
void f0r_deinit(void) {}

void f0r_get_plugin_info(f0r_plugin_info_t *info) {
  info->name = "Fake 0r";
  info->author = "tests";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = FAKE_MODEL;
  info->frei0r_version = FAKE_VERSION;
  info->major_version = 0;
  info->minor_version = 1;
  info->num_params = 1;
  info->explanation = "adds its step to every byte";
}

void f0r_get_param_info(f0r_param_info_t *info, int index) {
  (void)index;
  info->name = "Step size";
  info->type = F0R_PARAM_DOUBLE;
  info->explanation = "what is added";
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
#ifdef FAKE_NO_INSTANCE
  (void)width, (void)height;
  return 0;
#else
  fake_t *f = calloc(1, sizeof *f);
  if (f) f->w = width, f->h = height;
  return f;
#endif
}
void f0r_destruct(f0r_instance_t i) { free(i); }
void f0r_set_param_value(f0r_instance_t i, f0r_param_t p, int index) {
  (void)index;
  ((fake_t *)i)->step = *(double *)p;
}
void f0r_get_param_value(f0r_instance_t i, f0r_param_t p, int index) {
  (void)index;
  *(double *)p = ((fake_t *)i)->step;
}

#ifndef FAKE_NO_UPDATE
void f0r_update(f0r_instance_t i, double time, const uint32_t *in, uint32_t *out) {
  const fake_t *f = i;
  const unsigned char add = (unsigned char)(f->step * 255);
  const unsigned char *s = (const unsigned char *)in;
  unsigned char *d = (unsigned char *)out;
  (void)time;
  for (size_t n = 0; n < (size_t)f->w * f->h * 4; n++) d[n] = (unsigned char)(s[n] + add);
}
#endif
