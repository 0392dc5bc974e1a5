/*  Kolvex - the layer geometry record
 *
 *  Plug-ins receive a pointer to this record, so its layout is part of the
 *  plug-in interface: plain C, natural alignment, checked below.
 */
#ifndef KOLVEX_GEOMETRY_H
#define KOLVEX_GEOMETRY_H

#include <stddef.h>
#include <stdint.h>

typedef struct ScreenGeometry {
  int16_t x;       /* left edge on the screen, may be negative */
  int16_t y;       /* top edge, may be negative */
  uint16_t w;      /* width in pixels */
  uint16_t h;      /* height in pixels */
  uint8_t bpp;     /* bits per pixel: 32 */
  uint16_t pitch;  /* bytes per line: w * bpp / 8 */
  uint32_t size;   /* bytes per frame: w * h * bpp / 8 */
  float fps;       /* engine frame rate when the layer was set up */
} ScreenGeometry;

#ifdef __cplusplus
#define KOLVEX_STATIC_ASSERT static_assert
#else
#define KOLVEX_STATIC_ASSERT _Static_assert
#endif
KOLVEX_STATIC_ASSERT(offsetof(ScreenGeometry, x) == 0, "ScreenGeometry.x");
KOLVEX_STATIC_ASSERT(offsetof(ScreenGeometry, y) == 2, "ScreenGeometry.y");
KOLVEX_STATIC_ASSERT(offsetof(ScreenGeometry, w) == 4, "ScreenGeometry.w");
KOLVEX_STATIC_ASSERT(offsetof(ScreenGeometry, h) == 6, "ScreenGeometry.h");
KOLVEX_STATIC_ASSERT(offsetof(ScreenGeometry, bpp) == 8, "ScreenGeometry.bpp");
KOLVEX_STATIC_ASSERT(offsetof(ScreenGeometry, pitch) == 10, "ScreenGeometry.pitch");
KOLVEX_STATIC_ASSERT(offsetof(ScreenGeometry, size) == 12, "ScreenGeometry.size");
KOLVEX_STATIC_ASSERT(offsetof(ScreenGeometry, fps) == 16, "ScreenGeometry.fps");
KOLVEX_STATIC_ASSERT(sizeof(ScreenGeometry) == 20, "ScreenGeometry size");
#undef KOLVEX_STATIC_ASSERT

#endif
