/*  Kolvex - picture resampling
 *
 *  Resizes a picture of 32-bit pixels (four 8-bit channels, each filtered
 *  on its own) once, at load time: separable Lanczos-3, widened when
 *  shrinking so that every source pixel is counted (an area average in
 *  effect) and nothing aliases. Edges repeat the border pixels. Pitches in
 *  bytes.
 */
#ifndef KOLVEX_RESAMPLE_H
#define KOLVEX_RESAMPLE_H

#include <cstdint>

// False on a size below 1 (nothing written) or when memory runs out.
bool resample(const uint8_t *src, int src_w, int src_h, int src_pitch, uint8_t *dst, int dst_w,
              int dst_h, int dst_pitch);

#endif
