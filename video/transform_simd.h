/*  Kolvex - the transform sampler's arithmetic on 16-bit lanes
 *
 *  Shared by transform_sse2.cpp and transform_avx2.cpp, each compiling it
 *  for its vector type V with its own operations (traits T: add16, mullo16,
 *  srl16 by 8, set16). The four pixels around each point are widened to
 *  16-bit lanes, two pixels a 128 bits; weights come one per lane. The
 *  sums stay within 16 bits unsigned: 255 * 256 + 128 at most. Internal
 *  linkage, as in blit_simd.h.
 */
#ifndef KOLVEX_TRANSFORM_SIMD_H
#define KOLVEX_TRANSFORM_SIMD_H

namespace {

// transform_pixel.h's mix on every lane.
template <class T>
inline typename T::V mix16(typename T::V a, typename T::V b, typename T::V w) {
  const typename T::V full = T::set16(256), round = T::set16(128);
  return T::srl16(T::add16(T::add16(T::mullo16(a, T::sub16(full, w)), T::mullo16(b, w)), round));
}

// The sampled pixels of a..d (top-left, top-right, bottom-left,
// bottom-right neighbours, widened), wx and wy their weights per lane.
template <class T>
inline typename T::V bilinear16(typename T::V a, typename T::V b, typename T::V c, typename T::V d,
                                typename T::V wx, typename T::V wy) {
  return mix16<T>(mix16<T>(a, b, wx), mix16<T>(c, d, wx), wy);
}

}  // namespace

#endif
