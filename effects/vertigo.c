/*  vertigo - a rotating, zooming feedback of the picture into itself
 *
 *  Every frame the previous output is turned by a small angle and scaled
 *  about the centre of the frame, and three quarters of it are laid over a
 *  quarter of the live picture. The angle and the zoom swing slowly, so the
 *  picture spirals out of (and back into) itself. Key 'x' reverses the turn
 *  and jumps the swing half a cycle on.
 *
 *  Per pixel the work is integer only: the sample position steps through
 *  the old frame in 16.16 fixed point (two adds per pixel, two per line),
 *  and the blend is done on whole words with shifts and masks, four pixels
 *  at a time with SSE2, eight with AVX2 (its gather fetches the samples)
 *  where the processor has it. Every path gives the same bytes. Sine and
 *  cosine are computed once per frame.
 */
#include <kolvex/plugin.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#if defined(__SSE2__)
#include <immintrin.h>
#if defined(__GNUC__) && defined(__x86_64__)
#define VERTIGO_AVX2 1 /* built beside the rest, run where the processor has it */
#endif
#endif

/* The swing: per-frame angle (radians) and zoom around their centres. */
#define TURN_BASE 0.030
#define TURN_SWING 0.020
#define ZOOM_BASE 0.975
#define ZOOM_SWING 0.030
#define PHASE_STEP 0.040 /* radians of swing per frame */
#define HALF_CYCLE 3.14159265358979323846

typedef void (*SpanFn)(const uint32_t *old, const uint32_t *src, uint32_t *dst, int64_t n,
                       int64_t u, int64_t v, int64_t a, int64_t b);

typedef struct {
  uint32_t w, h;
  SpanFn span; /* for the inside of each line, chosen at init */
  size_t pixels;
  uint32_t *buf[2]; /* buf[cur] is the last output, the other the next */
  int cur;
  int seeded; /* the feedback holds a picture (set on the first frame) */
  int turn;   /* +1 or -1 */
  double phase;
} Vertigo;

static Vertigo vx;

static void span_scalar(const uint32_t *old, const uint32_t *src, uint32_t *dst, int64_t n,
                        int64_t u, int64_t v, int64_t a, int64_t b);
static SpanFn wide_span(void);

const char *getname(void) { return "vertigo"; }
const char *getauthor(void) { return "Kolvex developers"; }
const char *getinfo(void) { return "rotating, zooming feedback of the picture into itself"; }
uint32_t getversion(void) { return 1; }

static void release(void) {
  free(vx.buf[0]);
  free(vx.buf[1]);
  memset(&vx, 0, sizeof vx);
}

int init(ScreenGeometry *geo) {
  release(); /* a new geometry never reuses buffers of the old one */
  if (!geo || geo->bpp != 32 || geo->w == 0 || geo->h == 0) return -1;
  size_t pixels = (size_t)geo->w * geo->h;
  uint32_t *a = (uint32_t *)calloc(pixels, 4);
  uint32_t *b = (uint32_t *)calloc(pixels, 4);
  if (!a || !b) {
    free(a);
    free(b);
    return -1;
  }
  vx.w = geo->w;
  vx.h = geo->h;
  vx.pixels = pixels;
  vx.buf[0] = a;
  vx.buf[1] = b;
  vx.turn = 1;
  /* Positions fit 32-bit lanes below 32768 pixels a side. */
  vx.span = geo->w < 32768 && geo->h < 32768 ? wide_span() : span_scalar;
  return 0;
}

int clean(void) {
  release();
  return 0;
}

int kbd_input(SDL_keysym *key) {
  if (!key || key->sym != SDLK_x) return 0;
  vx.turn = -vx.turn;
  vx.phase += HALF_CYCLE;
  return 1;
}

/* 3/4 of `back` plus 1/4 of `live`, byte by byte within the word. The masks
 * stop each shifted byte at its own boundary, so the byte order of the
 * word does not matter. */
static inline uint32_t blend(uint32_t back, uint32_t live) {
  return ((back >> 1) & 0x7F7F7F7Fu) + ((back >> 2) & 0x3F3F3F3Fu) + ((live >> 2) & 0x3F3F3F3Fu);
}

/* Floor and ceiling of n / d for d > 0, whatever the sign of n. */
static inline int64_t floor_div(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }
static inline int64_t ceil_div(int64_t n, int64_t d) { return -floor_div(-n, d); }

/* Narrows [*lo, *hi] to the x for which 0 <= f0 + x * d < limit. */
static void clip_span(int64_t f0, int64_t d, int64_t limit, int64_t *lo, int64_t *hi) {
  int64_t a, b;
  if (d > 0) {
    a = ceil_div(-f0, d);
    b = floor_div(limit - 1 - f0, d);
  } else if (d < 0) {
    a = ceil_div(f0 - (limit - 1), -d);
    b = floor_div(f0, -d);
  } else if (f0 >= 0 && f0 < limit) {
    return;
  } else {
    a = 1, b = 0;
  }
  if (a > *lo) *lo = a;
  if (b < *hi) *hi = b;
}

/* n pixels of a line whose samples all lie inside the old frame, the
 * first sampled at (u, v). */
static void span_scalar(const uint32_t *old, const uint32_t *src, uint32_t *dst, int64_t n,
                        int64_t u, int64_t v, int64_t a, int64_t b) {
  const int64_t w = vx.w;
  for (int64_t x = 0; x < n; x++) {
    dst[x] = blend(old[(v >> 16) * w + (u >> 16)], src[x]);
    u += a;
    v += b;
  }
}

#if defined(__SSE2__)
/* The same, four pixels at a time; needs w and h below 32768, so that
 * positions fit 32-bit lanes and whole pixel coordinates 16-bit halves.
 * The sample's index (v >> 16) * w + (u >> 16) comes from one multiply-add
 * of the halves (u >> 16, v >> 16) with (1, w); the four fetches stay
 * scalar. */
static void span_sse2(const uint32_t *old, const uint32_t *src, uint32_t *dst, int64_t n,
                      int64_t u, int64_t v, int64_t a, int64_t b) {
  const __m128i step_u = _mm_set1_epi32((int32_t)(4 * a));
  const __m128i step_v = _mm_set1_epi32((int32_t)(4 * b));
  const __m128i whole = _mm_set1_epi32((int32_t)0xFFFF0000u);
  const __m128i weights = _mm_set1_epi32((int32_t)(0x10000u | vx.w));
  const __m128i m7f = _mm_set1_epi32(0x7F7F7F7F), m3f = _mm_set1_epi32(0x3F3F3F3F);
  __m128i pu = _mm_add_epi32(_mm_set1_epi32((int32_t)u),
                             _mm_set_epi32((int32_t)(3 * a), (int32_t)(2 * a), (int32_t)a, 0));
  __m128i pv = _mm_add_epi32(_mm_set1_epi32((int32_t)v),
                             _mm_set_epi32((int32_t)(3 * b), (int32_t)(2 * b), (int32_t)b, 0));
  int64_t x = 0;
  for (; x + 4 <= n; x += 4) {
    __m128i halves = _mm_or_si128(_mm_and_si128(pu, whole), _mm_srli_epi32(pv, 16));
    uint32_t at[4];
    _mm_storeu_si128((__m128i *)at, _mm_madd_epi16(halves, weights));
    __m128i back = _mm_set_epi32((int32_t)old[at[3]], (int32_t)old[at[2]], (int32_t)old[at[1]],
                                 (int32_t)old[at[0]]);
    __m128i live = _mm_loadu_si128((const __m128i *)(src + x));
    __m128i mix = _mm_add_epi32(_mm_and_si128(_mm_srli_epi32(back, 1), m7f),
                                _mm_and_si128(_mm_srli_epi32(back, 2), m3f));
    mix = _mm_add_epi32(mix, _mm_and_si128(_mm_srli_epi32(live, 2), m3f));
    _mm_storeu_si128((__m128i *)(dst + x), mix);
    pu = _mm_add_epi32(pu, step_u);
    pv = _mm_add_epi32(pv, step_v);
  }
  span_scalar(old, src + x, dst + x, n - x, u + x * a, v + x * b, a, b);
}
#endif

#ifdef VERTIGO_AVX2
/* The SSE2 span eight pixels at a time, the samples fetched by one gather. */
__attribute__((target("avx2"))) static void span_avx2(const uint32_t *old, const uint32_t *src,
                                                      uint32_t *dst, int64_t n, int64_t u,
                                                      int64_t v, int64_t a, int64_t b) {
  const __m256i step_u = _mm256_set1_epi32((int32_t)(8 * a));
  const __m256i step_v = _mm256_set1_epi32((int32_t)(8 * b));
  const __m256i whole = _mm256_set1_epi32((int32_t)0xFFFF0000u);
  const __m256i weights = _mm256_set1_epi32((int32_t)(0x10000u | vx.w));
  const __m256i m7f = _mm256_set1_epi32(0x7F7F7F7F), m3f = _mm256_set1_epi32(0x3F3F3F3F);
  const __m256i steps = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i pu = _mm256_add_epi32(_mm256_set1_epi32((int32_t)u),
                                _mm256_mullo_epi32(steps, _mm256_set1_epi32((int32_t)a)));
  __m256i pv = _mm256_add_epi32(_mm256_set1_epi32((int32_t)v),
                                _mm256_mullo_epi32(steps, _mm256_set1_epi32((int32_t)b)));
  int64_t x = 0;
  for (; x + 8 <= n; x += 8) {
    __m256i halves = _mm256_or_si256(_mm256_and_si256(pu, whole), _mm256_srli_epi32(pv, 16));
    __m256i at = _mm256_madd_epi16(halves, weights);
    __m256i back = _mm256_i32gather_epi32((const int *)old, at, 4);
    __m256i live = _mm256_loadu_si256((const __m256i *)(src + x));
    __m256i mix = _mm256_add_epi32(_mm256_and_si256(_mm256_srli_epi32(back, 1), m7f),
                                   _mm256_and_si256(_mm256_srli_epi32(back, 2), m3f));
    mix = _mm256_add_epi32(mix, _mm256_and_si256(_mm256_srli_epi32(live, 2), m3f));
    _mm256_storeu_si256((__m256i *)(dst + x), mix);
    pu = _mm256_add_epi32(pu, step_u);
    pv = _mm256_add_epi32(pv, step_v);
  }
  span_sse2(old, src + x, dst + x, n - x, u + x * a, v + x * b, a, b);
}
#endif

/* The span for frames whose positions fit 32-bit lanes: the widest the
 * processor runs, or the one KOLVEX_KERNELS asks for, as the engine's own
 * kernels do ("plain" is the scalar span, "sse2" and "ssse3" the SSE2 one). */
static SpanFn wide_span(void) {
  const char *asked = getenv("KOLVEX_KERNELS");
  if (asked && strcmp(asked, "plain") == 0) return span_scalar;
#ifdef VERTIGO_AVX2
  const int sse_asked = asked && (strcmp(asked, "sse2") == 0 || strcmp(asked, "ssse3") == 0);
  if (!sse_asked && __builtin_cpu_supports("avx2")) return span_avx2;
#endif
#if defined(__SSE2__)
  return span_sse2;
#else
  return span_scalar;
#endif
}

/* One frame: out(x, y) = blend(old(R * (p - c) + c), live(x, y)), where p
 * is the pixel's centre, c the frame's centre and R = zoom * rotation.
 * Samples that fall outside the old frame take the live pixel. Each line
 * is cut, once, into the span whose samples lie inside the old frame and
 * the parts either side, so the inner loop has no bounds test. */
static void render(const uint32_t *old, const uint32_t *live, uint32_t *out, double angle,
                   double zoom) {
  const int64_t w = vx.w, h = vx.h;
  const int64_t a = (int64_t)llround(zoom * cos(angle) * 65536.0);
  const int64_t b = (int64_t)llround(zoom * sin(angle) * 65536.0);
  /* Offsets of the first pixel's centre from the frame's centre, in half
   * pixels: (2 * 0 + 1 - w) / 2 and the same for y. */
  const int64_t dx2 = 1 - w, dy2 = 1 - h;
  int64_t row_u = (w << 15) + ((dx2 * a - dy2 * b) >> 1);
  int64_t row_v = (h << 15) + ((dx2 * b + dy2 * a) >> 1);
  const SpanFn span = vx.span;

  for (int64_t y = 0; y < h; y++) {
    const uint32_t *src = live + y * w;
    uint32_t *dst = out + y * w;
    int64_t lo = 0, hi = w - 1;
    clip_span(row_u, a, w << 16, &lo, &hi);
    clip_span(row_v, b, h << 16, &lo, &hi);
    if (lo > hi) lo = hi = w; /* no sample inside: all live */
    else hi++;                /* [lo, hi) from here on */

    for (int64_t x = 0; x < lo; x++) dst[x] = blend(src[x], src[x]);
    int64_t u = row_u + lo * a, v = row_v + lo * b;
    span(old, src + lo, dst + lo, hi - lo, u, v, a, b);
    for (int64_t x = hi; x < w; x++) dst[x] = blend(src[x], src[x]);
    row_u -= b;
    row_v += a;
  }
}

void *process(void *frame) {
  if (!frame) return NULL;
  if (!vx.buf[0]) return frame; /* not set up: pass the picture through */
  const uint32_t *live = (const uint32_t *)frame;
  uint32_t *old = vx.buf[vx.cur];
  uint32_t *out = vx.buf[vx.cur ^ 1];
  if (!vx.seeded) {
    /* Start from the picture itself rather than fading in from black. */
    memcpy(old, live, vx.pixels * 4);
    vx.seeded = 1;
  }
  double angle = vx.turn * (TURN_BASE + TURN_SWING * sin(vx.phase));
  double zoom = ZOOM_BASE + ZOOM_SWING * sin(vx.phase * 0.5);
  render(old, live, out, angle, zoom);
  vx.phase = fmod(vx.phase + PHASE_STEP, 4 * HALF_CYCLE); /* both swings repeat */
  vx.cur ^= 1;
  return out;
}
