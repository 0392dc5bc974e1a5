/*  Kolvex - layer frames to 4:2:0 video
 *
 *  BT.601 studio range in 8-bit fixed point, as video encoders and y4m
 *  files expect it: luma 16..235 from every pixel, chroma 16..240 from the
 *  channel means of every 2x2 block (rounded to nearest). The frame is in
 *  the layer format (bytes blue, green, red, fourth; the fourth is
 *  ignored). Runs the SIMD kernel the processor has (blit_dispatch.h).
 */
#ifndef KOLVEX_YUV420_H
#define KOLVEX_YUV420_H

#include <stdint.h>

// w x h pixels, `pitch` bytes a line; w and h even. y gets w * h bytes, u
// and v (w / 2) * (h / 2) each, lines straight after one another.
void kolvex_bgrx_to_yuv420(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y,
                           uint8_t *u, uint8_t *v);

#endif
