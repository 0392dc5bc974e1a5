/*  Kolvex - pixel-art enlargement filters
 *
 *  scale2x and scale3x (the EPX family): each source pixel becomes a 2x2 or
 *  3x3 block whose corners follow matching edges of its neighbours, so
 *  diagonal lines stay sharp instead of turning into stairs. 32-bit pixels
 *  are compared whole; pitches are in bytes.
 */
#ifndef KOLVEX_SCALE_H
#define KOLVEX_SCALE_H

#include <stdint.h>

void scale2x(const uint32_t *src, int src_pitch, uint32_t *dst, int dst_pitch, int w, int h);
void scale3x(const uint32_t *src, int src_pitch, uint32_t *dst, int dst_pitch, int w, int h);

#endif
