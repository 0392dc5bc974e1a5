/*  Kolvex - the pixel kernels and their choice by processor
 *
 *  Every blit mode, the capture's colour conversion and the transform
 *  sampler (transform.h) exist as a plain C++ kernel, which defines the
 *  bytes, and as SIMD kernels giving the same bytes (SSE2, the x86-64
 *  floor; SSSE3; AVX2). The fastest set this processor runs is picked
 *  once, on first use; blit.h, yuv420.h and transform.h call through it.
 *  Tests and benchmarks ask for every set the processor runs.
 *  KOLVEX_KERNELS=plain (or sse2, ssse3, avx2) in the environment picks
 *  that set instead, to compare speeds or to rule a kernel out.
 */
#ifndef KOLVEX_BLIT_DISPATCH_H
#define KOLVEX_BLIT_DISPATCH_H

#include <stdint.h>

#include "blit.h"

// One row of n pixels of layer `src` onto `dst`. `arg` is the mode's
// parameter: BLIT_RGB the value ORed into each fourth byte, BLIT_ALPHA
// blit_blend_arg(); the other modes ignore it.
typedef void (*BlitRowFn)(const uint8_t *src, uint8_t *dst, int n, uint32_t arg);

// n native 64-bit numbers at p (any address) rewritten in place as pixel
// pairs: pair_word() of each (blit.h).
typedef void (*PairsToBytesFn)(uint8_t *p, int n);

// rows x width native 64-bit numbers of src, row by row, added to the
// numbers at dst, whose rows are `pitch` bytes apart (any address).
typedef void (*AddPairRowsFn)(uint8_t *dst, long pitch, const uint64_t *src, int rows,
                              int width);

// As kolvex_bgrx_to_yuv420 (yuv420.h).
typedef void (*Yuv420Fn)(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y,
                         uint8_t *u, uint8_t *v);

// n pixels of a transformed picture (transform.h) into dst: pixel i
// samples the point (u + i du, v + i dv) of the sw x sh picture at src,
// 16.16 fixed point from its top-left corner. Every one of the n points
// lies inside the picture (0 <= u < sw << 16, likewise v): transform.cpp
// gives the zeros outside it.
typedef void (*TransformRowFn)(const uint8_t *src, int src_pitch, int sw, int sh, uint8_t *dst,
                               int n, int32_t u, int32_t v, int32_t du, int32_t dv);

struct BlitKernels {
  const char *name;                // "plain", "sse2", "ssse3", "avx2"
  BlitRowFn row[BLIT_ALPHA + 1];   // by blit mode code, BLIT_RGB .. BLIT_ALPHA
  Yuv420Fn bgrx_to_yuv420;
  PairsToBytesFn pairs_to_bytes;  // for the particle generator (genlayer.h)
  AddPairRowsFn add_pair_rows;
  // Not blit modes of their own (no code): the OVER blend, `arg` the
  // layer's alpha (blit_over, blit.h); and red and blue trading places
  // from src into dst, which may be the same row (`arg` unused), for
  // plug-ins that work in RGBA byte order.
  BlitRowFn over;
  BlitRowFn swap_rb;
  TransformRowFn transform_row;  // bilinear sampling (transform_<set>.cpp)
};

static inline uint32_t blit_blend_arg(uint8_t alpha, uint8_t fourth_keep) {
  return alpha | (uint32_t)fourth_keep << 8;
}

// The set in use: the one KOLVEX_KERNELS names if the processor runs it,
// else the fastest (with a warning when the name was not usable).
const BlitKernels &blit_kernels();

// Every set this processor runs, into out[0 .. max-1]: the plain C++ one
// first, the one in use last. Returns how many there are.
constexpr int kBlitKernelSetsMax = 4;
int blit_kernel_sets(const BlitKernels *out[], int max);

// w x h pixels through one row kernel; pitches in bytes.
void blit_rows_with(BlitRowFn row, const uint8_t *src, int src_pitch, uint8_t *dst, int dst_pitch,
                    int w, int h, uint32_t arg);

// w x h pixels in `mode` with the given set; pitches in bytes.
void blit_rows(const BlitKernels &k, uint8_t mode, const uint8_t *src, int src_pitch,
               uint8_t *dst, int dst_pitch, int w, int h, uint32_t arg);

// The sets, defined by blit_plain.cpp and blit_<instruction set>.cpp.
extern const BlitKernels kBlitKernelsPlain;
#ifdef KOLVEX_X86_KERNELS
extern const BlitKernels kBlitKernelsSse2, kBlitKernelsSsse3, kBlitKernelsAvx2;
void bgrx_to_yuv420_sse2(const uint8_t *bgrx, int pitch, int w, int h, uint8_t *y, uint8_t *u,
                         uint8_t *v);
void transform_row_sse2(const uint8_t *src, int src_pitch, int sw, int sh, uint8_t *dst, int n,
                        int32_t u, int32_t v, int32_t du, int32_t dv);
void transform_row_avx2(const uint8_t *src, int src_pitch, int sw, int sh, uint8_t *dst, int n,
                        int32_t u, int32_t v, int32_t du, int32_t dv);
#endif
void transform_row_plain(const uint8_t *src, int src_pitch, int sw, int sh, uint8_t *dst, int n,
                         int32_t u, int32_t v, int32_t du, int32_t dv);

#endif
