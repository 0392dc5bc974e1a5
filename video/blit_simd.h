/*  Kolvex - the blit row kernels, written once for any vector width
 *
 *  Included by each SIMD kernel file (blit_sse2.cpp, blit_ssse3.cpp,
 *  blit_avx2.cpp), which compiles it for its instruction set with a
 *  traits type T giving the vector operations:
 *    V; kPixels; load, store (unaligned); set8, set16, set32 (per lane);
 *    and_, andnot (~a & b), or_, xor_; add16, sub16,
 *    mullo16, srl16 (by 8), avg8 (rounding up); add32, sub32, add64; bswap32,
 *    bswap64 (the bytes of every 32- or 64-bit lane reversed); srl32, sll32
 *    (each 32-bit lane shifted by a constant count).
 *  Everything here has internal linkage, so that the copies built for
 *  different instruction sets never meet at link time. Keep C++ library
 *  headers out of these files for the same reason.
 *
 *  The pixel word of the arithmetic modes has the first byte in memory on
 *  top; x86 loads it the other way round, so ADD and SUB swap the bytes of
 *  every lane before and after the 32-bit sum. Rows end with the plain
 *  pixel rules of blit_pixel.h.
 */
#ifndef KOLVEX_BLIT_SIMD_H
#define KOLVEX_BLIT_SIMD_H

#include <stdint.h>
#include <string.h>
#ifdef __SSE2__
#include <immintrin.h>
#endif

#include "blit_dispatch.h"
#include "blit_pixel.h"

namespace {

// op(src vector, dst vector) -> new dst vector over the row, four vectors
// a turn; tail(src pixel, dst pixel) for the last n % kPixels pixels.
template <class T, class Op, class Tail>
inline void each_vector(const uint8_t *s, uint8_t *d, int n, Op op, Tail tail) {
  constexpr long bytes = T::kPixels * 4;
  const uint8_t *const end = s + (long)n * 4;
  for (; end - s >= 4 * bytes; s += 4 * bytes, d += 4 * bytes) {
    const typename T::V a = op(T::load(s), T::load(d));
    const typename T::V b = op(T::load(s + bytes), T::load(d + bytes));
    const typename T::V c = op(T::load(s + 2 * bytes), T::load(d + 2 * bytes));
    const typename T::V e = op(T::load(s + 3 * bytes), T::load(d + 3 * bytes));
    T::store(d, a);
    T::store(d + bytes, b);
    T::store(d + 2 * bytes, c);
    T::store(d + 3 * bytes, e);
  }
  for (; end - s >= bytes; s += bytes, d += bytes) T::store(d, op(T::load(s), T::load(d)));
  for (; s < end; s += 4, d += 4) tail(s, d);
}

template <class T>
void copy_row(const uint8_t *s, uint8_t *d, int n, uint32_t arg) {
  const uint8_t fourth = (uint8_t)arg;
  if (!fourth) {
    memcpy(d, s, (size_t)n * 4);
    return;
  }
  const typename T::V f = T::set32((uint32_t)fourth << 24);
  each_vector<T>(
      s, d, n, [f](typename T::V a, typename T::V) { return T::or_(a, f); },
      [fourth](const uint8_t *a, uint8_t *b) { blitpx::copy(a, b, fourth); });
}

template <class T, int Byte>
void channel_row(const uint8_t *s, uint8_t *d, int n, uint32_t) {
  const typename T::V m = T::set32(0xFFu << (8 * Byte));
  each_vector<T>(
      s, d, n,
      [m](typename T::V a, typename T::V b) { return T::or_(T::and_(m, a), T::andnot(m, b)); },
      [](const uint8_t *a, uint8_t *b) { blitpx::channel(a, b, Byte); });
}

// ADD and SUB: the 32-bit sum or difference of the turned-round words.
template <class T, bool Subtract>
void arith_row(const uint8_t *s, uint8_t *d, int n, uint32_t) {
  each_vector<T>(
      s, d, n,
      [](typename T::V a, typename T::V b) {
        const typename T::V x = T::bswap32(b), y = T::bswap32(a);
        return T::bswap32(Subtract ? T::sub32(x, y) : T::add32(x, y));
      },
      Subtract ? blitpx::sub : blitpx::add);
}

template <class T>
void and_row(const uint8_t *s, uint8_t *d, int n, uint32_t) {
  each_vector<T>(
      s, d, n, [](typename T::V a, typename T::V b) { return T::and_(a, b); }, blitpx::bit_and);
}

template <class T>
void or_row(const uint8_t *s, uint8_t *d, int n, uint32_t) {
  each_vector<T>(
      s, d, n, [](typename T::V a, typename T::V b) { return T::or_(a, b); }, blitpx::bit_or);
}

// d + ((s - d) * alpha >> 8) per colour byte, in 16-bit lanes: bytes 0 and
// 2 in the low halves ("even"), bytes 1 and 3 shifted down ("odd"). The
// product wraps at 16 bits and is shifted logically: its low byte after the
// shift still equals the arithmetic shift's, and only that byte is kept.
// The odd lanes of byte 3 are multiplied by 0, leaving it as it was.
// At alpha 128 the formula is the mean rounded down; avg8 rounds up, so it
// averages the complements.
template <class T>
void blend_row(const uint8_t *s, uint8_t *d, int n, uint32_t arg) {
  typedef typename T::V V;
  const int alpha = (int)(arg & 0xFF);
  const uint8_t keep = (uint8_t)(arg >> 8);
  auto tail = [alpha, keep](const uint8_t *a, uint8_t *b) { blitpx::blend(a, b, alpha, keep); };
  if (alpha == 128) {
    const V ones = T::set8(0xFF), colour = T::set32(0x00FFFFFFu);
    const V fourth = T::set32((uint32_t)keep << 24);
    each_vector<T>(
        s, d, n,
        [=](V a, V b) {
          // ~avg(~a, ~b) = 255 - ceil((510 - a - b) / 2) = floor((a + b) / 2)
          const V inverse_mean = T::avg8(T::xor_(a, ones), T::xor_(b, ones));
          return T::or_(T::andnot(inverse_mean, colour), T::and_(fourth, b));
        },
        tail);
    return;
  }
  const V low = T::set16(0x00FF), keep_mask = T::set32(0x00FFFFFFu | (uint32_t)keep << 24);
  const V a_even = T::set16((uint16_t)alpha), a_odd = T::set32((uint32_t)alpha);
  each_vector<T>(
      s, d, n,
      [=](V a, V b) {
        const V be = T::and_(low, b);
        const V te = T::mullo16(T::sub16(T::and_(low, a), be), a_even);
        const V even = T::and_(low, T::add16(be, T::srl16(te)));
        const V to = T::mullo16(T::sub16(T::srl16(a), T::srl16(b)), a_odd);
        const V odd = T::add16(T::andnot(low, b), T::andnot(low, to));
        return T::and_(T::or_(even, odd), keep_mask);
      },
      tail);
}

// OVER: blend_row's lanes with a weight per pixel (blit_pixel.h's
// over_weight), worked out in the low 16 bits of each pixel's 32-bit lane:
// the pixel's fourth byte times the widened layer alpha stays within 16
// bits unsigned. The even lanes take the weight in both halves, the odd
// ones in the low half only, so the fourth byte is multiplied by 0 and
// stays.
template <class T>
void over_row(const uint8_t *s, uint8_t *d, int n, uint32_t arg) {
  typedef typename T::V V;
  const int alpha = (int)(arg & 0xFF);
  const V low = T::set16(0x00FF), layer = T::set32((uint32_t)(alpha + (alpha >> 7)));
  const V half = T::set32(128);
  each_vector<T>(
      s, d, n,
      [=](V a, V b) {
        const V w = T::srl16(T::mullo16(T::srl32(a, 24), layer));  // 0..255
        const V w_odd = T::add16(w, T::srl16(T::add16(w, half)));  // 0..256
        const V w_even = T::or_(w_odd, T::sll32(w_odd, 16));
        const V be = T::and_(low, b);
        const V te = T::mullo16(T::sub16(T::and_(low, a), be), w_even);
        const V even = T::and_(low, T::add16(be, T::srl16(te)));
        const V to = T::mullo16(T::sub16(T::srl16(a), T::srl16(b)), w_odd);
        const V odd = T::add16(T::andnot(low, b), T::andnot(low, to));
        return T::or_(even, odd);
      },
      [alpha](const uint8_t *x, uint8_t *y) { blitpx::over(x, y, alpha); });
}

// Bytes 0 and 2 of every pixel trade places; 1 and 3 stay.
template <class T>
void swap_rb_row(const uint8_t *s, uint8_t *d, int n, uint32_t) {
  typedef typename T::V V;
  const V keep = T::set32(0xFF00FF00u), b0 = T::set32(0x000000FFu), b2 = T::set32(0x00FF0000u);
  each_vector<T>(
      s, d, n,
      [=](V a, V) {
        return T::or_(T::and_(keep, a),
                      T::or_(T::and_(b0, T::srl32(a, 16)), T::and_(b2, T::sll32(a, 16))));
      },
      blitpx::swap_rb);
}

template <class T>
void pairs_to_bytes(uint8_t *p, int n) {
  constexpr int step = T::kPixels / 2;
  int i = 0;
  for (; i + step <= n; i += step) T::store(p + 8 * i, T::bswap64(T::load(p + 8 * i)));
  for (; i < n; i++) blitpx::pair_to_bytes(p + 8 * i);
}

template <class T>
void add_pair_rows(uint8_t *dst, long pitch, const uint64_t *src, int rows, int width) {
  constexpr int step = T::kPixels / 2;
  for (int r = 0; r < rows; r++, dst += pitch, src += width) {
    int j = 0;
    for (; j + step <= width; j += step)
      T::store(dst + 8 * j, T::add64(T::load(dst + 8 * j), T::load((const uint8_t *)(src + j))));
    for (; j < width; j++) blitpx::add_pair(dst + 8 * j, src[j]);
  }
}

template <class T>
constexpr BlitKernels make_kernels(const char *name, Yuv420Fn yuv, TransformRowFn transform) {
  return BlitKernels{name,
                     {nullptr, copy_row<T>, channel_row<T, 0>, channel_row<T, 1>,
                      channel_row<T, 2>, arith_row<T, false>, arith_row<T, true>, and_row<T>,
                      or_row<T>, blend_row<T>},
                     yuv, pairs_to_bytes<T>, add_pair_rows<T>, over_row<T>, swap_rb_row<T>,
                     transform};
}

#ifdef __SSE2__
// The 128-bit operations every x86-64 processor has; bswap32 is left to
// the instruction set.
struct Vec128 {
  typedef __m128i V;
  static constexpr int kPixels = 4;
  static V load(const uint8_t *p) { return _mm_loadu_si128((const __m128i *)p); }
  static void store(uint8_t *p, V v) { _mm_storeu_si128((__m128i *)p, v); }
  static V set8(uint8_t x) { return _mm_set1_epi8((char)x); }
  static V set16(uint16_t x) { return _mm_set1_epi16((short)x); }
  static V set32(uint32_t x) { return _mm_set1_epi32((int)x); }
  static V and_(V a, V b) { return _mm_and_si128(a, b); }
  static V andnot(V a, V b) { return _mm_andnot_si128(a, b); }
  static V or_(V a, V b) { return _mm_or_si128(a, b); }
  static V xor_(V a, V b) { return _mm_xor_si128(a, b); }
  static V add16(V a, V b) { return _mm_add_epi16(a, b); }
  static V sub16(V a, V b) { return _mm_sub_epi16(a, b); }
  static V mullo16(V a, V b) { return _mm_mullo_epi16(a, b); }
  static V srl16(V a) { return _mm_srli_epi16(a, 8); }
  static V avg8(V a, V b) { return _mm_avg_epu8(a, b); }
  static V add32(V a, V b) { return _mm_add_epi32(a, b); }
  static V sub32(V a, V b) { return _mm_sub_epi32(a, b); }
  static V add64(V a, V b) { return _mm_add_epi64(a, b); }
  static V srl32(V a, int n) { return _mm_srli_epi32(a, n); }
  static V sll32(V a, int n) { return _mm_slli_epi32(a, n); }
};
#endif

}  // namespace

#endif
