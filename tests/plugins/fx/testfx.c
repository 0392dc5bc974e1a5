/*  A test plug-in, built in several variants from this one file:
 *    FX_NAME       what getname() returns (no getname() when undefined)
 *    FX_NO_KBD     no kbd_input()
 *    FX_NO_CLEAN   no clean()
 *    FX_NULL_FRAME process() gives no frame
 *    FX_ADD        process() adds FX_ADD to every pixel word instead
 *    FX_INIT_FAILS init() refuses every geometry
 *    FX_TRAP       loading it leaves a file "trap-fired" in the working
 *                  directory: a plug-in no one asked for must not load
 *  process() writes the inverse of its frame into a buffer of its own, so a
 *  picture that went through it is told apart from one that did not; with
 *  FX_ADD the two do not commute, so the order of a chain shows. Written in
 *  C on purpose: the plug-in header must compile as C.
 */
#include <kolvex/plugin.h>

#include <stdlib.h>

static ScreenGeometry geometry;

#ifdef FX_TRAP
#include <stdio.h>
__attribute__((constructor)) static void fire(void) {
  FILE *f = fopen("trap-fired", "w");
  if (f) fclose(f);
}
#endif
static uint32_t *own;

#ifdef FX_NAME
const char *getname(void) { return FX_NAME; }
#endif
const char *getauthor(void) { return "tests"; }
const char *getinfo(void) { return "inverts every frame"; }
uint32_t getversion(void) { return 0x0102; }

int init(ScreenGeometry *geo) {
#ifdef FX_INIT_FAILS
  return -1;
#endif
  geometry = *geo;
  free(own);
  own = (uint32_t *)malloc((size_t)geo->w * geo->h * 4);
  return own ? 0 : -1;
}

#ifndef FX_NO_CLEAN
int clean(void) {
  free(own);
  own = NULL;
  return 0;
}
#endif

void *process(void *frame) {
#ifdef FX_NULL_FRAME
  (void)frame;
  return NULL;
#else
  const uint32_t *in = (const uint32_t *)frame;
  size_t n = (size_t)geometry.w * geometry.h;
#ifdef FX_ADD
  for (size_t i = 0; i < n; i++) own[i] = in[i] + FX_ADD;
#else
  for (size_t i = 0; i < n; i++) own[i] = ~in[i];
#endif
  return own;
#endif
}

#ifndef FX_NO_KBD
static int keys;

/* Counts the keys and says so: 1 + the number of keys before this one. */
int kbd_input(SDL_keysym *key) {
  (void)key;
  return ++keys;
}
#endif
