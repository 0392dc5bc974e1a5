/*  Kolvex - the pixels of every blit mode, and the clip record
 *
 *  Layer frames are 32 bits per pixel, bytes in memory order blue, green,
 *  red, fourth byte. The arithmetic modes treat a pixel as one 32-bit word
 *  whose most significant byte is the first byte in memory, so carries run
 *  fourth byte -> red -> green -> blue and out of blue are lost. The
 *  functions below give those bytes on any host byte order, through the
 *  fastest kernels the processor runs (blit_dispatch.h).
 */
#ifndef KOLVEX_BLIT_H
#define KOLVEX_BLIT_H

#include <string>

#include <stdint.h>

// Result of a layer's crop, read by its blit.
struct BlitClip {
  int32_t x, y;     // screen position of the first visible pixel
  int32_t w, h;     // visible pixels per line, visible lines
  int32_t offset;   // byte offset of the first visible pixel in the frame
  void *dest;       // its address on the draw surface
};

enum BlitMode : uint8_t {
  BLIT_INVALID = 0,
  BLIT_RGB = 1,
  BLIT_BLU = 2,
  BLIT_GRE = 3,
  BLIT_RED = 4,
  BLIT_ADD = 5,
  BLIT_SUB = 6,
  BLIT_AND = 7,
  BLIT_OR = 8,
  BLIT_ALPHA = 9,
};

// The pixel word as the blit modes see it: first byte in memory on top.
static inline uint32_t pixel_word(uint32_t memory_word) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return __builtin_bswap32(memory_word);
#else
  return memory_word;
#endif
}

// Two neighbouring pixels as one 64-bit number, the first byte in memory
// on top (the left pixel's word high, the right one's low).
static inline uint64_t pair_word(uint64_t memory_word) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return __builtin_bswap64(memory_word);
#else
  return memory_word;
#endif
}

// Runs direct mode `mode` (BLIT_BLU .. BLIT_OR) over w x h pixels.
// src/dst point at the first pixel; the pitches are in bytes.
void blit_direct(uint8_t mode, const uint8_t *src, int src_pitch, uint8_t *dst,
                 int dst_pitch, int w, int h);

// BLIT_RGB's pixels: w x h copied, `fourth` ORed into every fourth byte
// (0xFF where the draw surface has an alpha channel: SDL makes the
// converted pixels opaque).
void blit_copy(const uint8_t *src, int src_pitch, uint8_t *dst, int dst_pitch, int w, int h,
               uint8_t fourth);

// BLIT_ALPHA's pixels: every colour byte becomes d + ((s - d) * alpha >> 8),
// the shift rounding down, as SDL blends with a per-surface alpha; the
// fourth byte is d's ANDed with `fourth_keep`. Alpha 0 leaves the colours;
// the screen copies instead of blending at 255.
void blit_blend(const uint8_t *src, int src_pitch, uint8_t *dst, int dst_pitch, int w, int h,
                uint8_t alpha, uint8_t fourth_keep);

// OVER, a blend mode beside the nine codes (it has none): every colour
// byte becomes d + ((s - d) * a >> 8), a being the pixel's fourth byte
// times `alpha` (blit_pixel.h's over_weight: 0..256, 256 when both are
// 255). The screen's fourth byte stays as it was.
void blit_over(const uint8_t *src, int src_pitch, uint8_t *dst, int dst_pitch, int w, int h,
               uint8_t alpha);

// w x h pixels with red and blue trading places (BGRA <-> RGBA), from src
// into dst; src may be dst when the pitches are the same.
void blit_swap_rb(const uint8_t *src, int src_pitch, uint8_t *dst, int dst_pitch, int w, int h);

// A mode by name (RGB, BLU, GRE, RED, ADD, SUB, AND, OR, ALPHA, any case)
// or code ("1".."9"); 0 when it is neither.
int parse_blit(const std::string &text);
// The mode's name as users see it ("ALPHA" for 9, "OR" for 8), "???" for
// a code that is none.
const char *blit_name(int code);

#endif
