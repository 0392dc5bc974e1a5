#include "genlayer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <new>

#include "blit_dispatch.h"
#include "clock.h"
#include "context.h"
#include "jutils.h"
#include "viewport.h"

namespace {

// dst += v for two adjacent pixels, carries crossing from right to left.
inline void add_pair(uint8_t *dst, uint64_t v) {
  uint64_t m;
  memcpy(&m, dst, 8);
  m = pair_word(pair_word(m) + v);
  memcpy(dst, &m, 8);
}

// dst += v for one pixel word.
inline void add_word(uint8_t *dst, uint32_t v) {
  uint32_t m;
  memcpy(&m, dst, 4);
  m = pixel_word(pixel_word(m) + v);
  memcpy(dst, &m, 4);
}

// dst += v, natively, for one number of type T at any address.
template <class T>
inline void add_native(uint8_t *dst, T v) {
  T m;
  memcpy(&m, dst, sizeof m);
  m += v;
  memcpy(dst, &m, sizeof m);
}

// sin(u) and cos(v). When the multipliers of a harmonic are equal, so are
// u and v, and the compiler makes one sincos() call of the two, which the C
// library computes exactly as sin() and cos().
inline void sin_cos(double u, double v, double *s, double *c) {
  if (u == v) {
    *s = sin(u);
    *c = cos(u);
  } else {
    *s = sin(u);
    *c = cos(v);
  }
}

// A native pixel word turned into its bytes in place.
inline void word_to_bytes(uint8_t *p) {
  uint32_t v;
  memcpy(&v, p, 4);
  v = pixel_word(v);
  memcpy(p, &v, 4);
}

constexpr double kFreqStep = 30.0 / 2147483647.0;  // freq in [1, 61)
constexpr float kTwoPow31 = 4.656613e-10f;          // exactly 2^-31
constexpr double kSpread = 5.0 / 11.0;              // curve half-size
constexpr double kDegToRad = 0.017453292519943295;

// Index into primes[] for the draw u: 0 .. 2A-1, 2A only when float(u)
// rounds up to 2^32. Single precision on purpose: it decides the rare case.
inline int pick(float a, uint32_t u) { return (int)(a * (float)u * kTwoPow31); }

inline int mask_shift(uint32_t mask) { return mask ? __builtin_ctz(mask) : 0; }

}  // namespace

GenLayer::GenLayer(int w, int h)
    : freq_a(0.0),
      freq_b(0.0),
      prime_xa(0.0),
      prime_ya(0.0),
      prime_xb(0.0),
      prime_yb(0.0),
      mix(0.7f),
      phase(0.0f),
      primes{2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31},
      cycle(6.2831855f),
      width(0.0),
      height(0.0),
      // The pixel-word masks, as native values for SDL.
      bmask(pixel_word(0xFF000000u)),
      gmask(pixel_word(0x00FF0000u)),
      rmask(pixel_word(0x0000FF00u)),
      amask(0),
      surface(nullptr),
      pixels(nullptr),
      blob_table(nullptr),
      blob_size(0),
      blob_scale(1.0),
      req_w(w),
      req_h(h),
      window(0),
      rows_cleared(0),
      rows_done(0),
      surface_locked(false) {
  setname("GEO");
}

// The layer's thread reads what close() frees: it goes first.
GenLayer::~GenLayer() {
  stop();
  close();
}

bool GenLayer::open(const char *) { return true; }

bool GenLayer::init(Context *ctx) {
  close();
  // Seconds of the engine's clock, which is time(NULL) on the real one: a
  // virtual clock makes the generator's patterns reproducible.
  struct timeval now;
  clock_gettime_tv(&now);
  fastsrand((uint32_t)now.tv_sec);
  // The curve spans the frame; the blobs grow with the canvas.
  const Canvas canvas = ctx->canvas();
  blob_scale = canvas.scale;
  _init(ctx, req_w ? canvas.scaled(req_w) : 0, req_h ? canvas.scaled(req_h) : 0, 32);

  surface = SDL_CreateRGBSurface(SDL_HWSURFACE | SDL_HWACCEL, geo.w, geo.h, 32, rmask, gmask,
                                 bmask, amask);
  if (!surface) {
    error("can't create GenLayer surface: %s", SDL_GetError());
    return false;
  }
  pixels = (uint32_t *)surface->pixels;
  blossom_recal(true);
  blob_table = nullptr;
  blob_init(8);
  return true;
}

void GenLayer::close() {
  if (surface) {
    if (surface_locked) SDL_UnlockSurface(surface);
    SDL_FreeSurface(surface);
    surface = nullptr;
    pixels = nullptr;
    surface_locked = false;
  }
  delete[] blob_table;
  blob_table = nullptr;
  blob_pairs.clear();
  blob_windows.clear();
  // Frames live in the surface; the base's buffer is never used. Freeing it
  // here keeps a second init from leaking the first one.
  if (buffer) {
    jfree(buffer);
    buffer = nullptr;
  }
}

bool GenLayer::keypress(SDL_keysym *key) {
  if (!key) return false;
  switch (key->sym) {
    case SDLK_RIGHT:
      blossom_recal(true);
      return true;
    case SDLK_LEFT:
      blossom_recal(false);
      return true;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// Parameters
// ---------------------------------------------------------------------------
const ParamTable &GenLayer::table() {
  static const ParamTable t = {
      row<GenLayer>({"gen/next", ParamType::trigger, 0, 0, 0, "", "the next figure (key right)"},
                    nullptr, [](GenLayer &g, const ParamValue &) { g.blossom_recal(true); }),
      row<GenLayer>({"gen/previous", ParamType::trigger, 0, 0, 0, "", "another figure (key left)"},
                    nullptr, [](GenLayer &g, const ParamValue &) { g.blossom_recal(false); }),
  };
  return t;
}

void GenLayer::blossom_recal(bool up) {
  lock_feed();
  // Seven draws, in this order: the range of the prime picks, the two
  // frequencies, the four multipliers.
  uint32_t u = fastrand();
  const float range = (float)(1u + (9u * u) / 2147483647u);
  freq_a = 1.0 + fastrand() * kFreqStep;
  freq_b = 1.0 + fastrand() * kFreqStep;
  prime_xa = primes[pick(range, fastrand())];
  prime_ya = primes[pick(range, fastrand())];
  prime_xb = primes[pick(range, fastrand())];
  prime_yb = primes[pick(range, fastrand())];

  width = geo.w / blob_scale;  // the curve is traced in canvas pixels
  height = geo.h / blob_scale;

  // Double-precision steps rounded to float: the sequences this gives
  // (0.90000004, the 0.1 / 1.49e-09 alternation at the bottom) are wanted.
  const double m = mix;
  if (up)
    mix = m < 1.0 ? (float)(m + 0.1) : 1.0f;
  else
    mix = m > 0.1 ? (float)(m - 0.1) : 0.1f;
  unlock_feed();
}

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------
void GenLayer::advance_phase() {
  phase = (float)(phase + 0.01);
  if (phase > cycle) phase = phase - cycle;
}

void *GenLayer::feed() {
  if (!surface) return nullptr;  // init failed or never ran
  advance_phase();
  if (surface_locked) {  // the compositor is done with the last frame
    SDL_UnlockSurface(surface);
    surface_locked = false;
  }
  if (SDL_MUSTLOCK(surface)) {
    if (SDL_LockSurface(surface) < 0) {
      SDL_FillRect(surface, nullptr, 0);
      error("%s", SDL_GetError());
      return nullptr;
    }
    surface_locked = true;
  }
  pixels = (uint32_t *)surface->pixels;
  const long h = surface->h;
  touched_lo.resize(h);
  touched_hi.resize(h);
  rows_cleared = rows_done = 0;
  if (!blob_windows.empty()) {
    spots.clear();
    trace([this](int x, int y) { spots.push_back(Spot{x, y}); });
    sort_spots();
    for (const Spot &p : sorted_spots) {
      finish_rows(std::min<long>(std::max(p.y, 0), h));  // no blob left above this one
      clear_rows(std::min<long>((long)p.y + blob_size, h));
      sum_blob(p.x, p.y);
    }
  }
  finish_rows(h);
  return surface->pixels;
}

void GenLayer::blossom() {
  trace([this](int x, int y) { blob(x, y); });
}

template <class Draw>
void GenLayer::trace(Draw draw) {
  const double m = mix;
  const double n = 1.0 - m;
  const double phi = phase;
  for (float t = 0.0f; t < cycle; t = (float)(t + 0.006)) {
    const double a = freq_a * t;
    const double b = freq_b * t;
    double sin_a, cos_a, sin_b, cos_b;
    sin_cos(prime_xa * a + phi, prime_ya * a + phi, &sin_a, &cos_a);
    sin_cos(prime_xb * b + phi, prime_yb * b + phi, &sin_b, &cos_b);
    const int x = (int)(width * ((m * sin_a + n * sin_b) * kSpread + 0.47));
    const int y = (int)(height * ((m * cos_a + n * cos_b) * kSpread + 0.47));
    if (blob_scale == 1.0) {
      draw(x, y);
    } else {
      // Traced on the canvas; a blob lands on an even canvas column there
      // (pairs), so it lands on that column scaled here: the picture is
      // the canvas's, enlarged.
      draw((int)std::lround((x & ~1) * blob_scale), (int)std::lround(y * blob_scale));
    }
  }
}

void GenLayer::point(int x, int y) {
  if (!surface || x < 0 || y < 0 || x >= surface->w || y >= surface->h) return;
  add_word((uint8_t *)surface->pixels + (long)y * surface->pitch + (long)x * 4, 0x99999999u);
}

// ---------------------------------------------------------------------------
// The sprite
// ---------------------------------------------------------------------------
uint32_t GenLayer::map_rgb(uint8_t r, uint8_t g, uint8_t b) const {
  if (surface) return SDL_MapRGB(surface->format, r, g, b);
  return ((uint32_t)r << mask_shift(rmask)) | ((uint32_t)g << mask_shift(gmask)) |
         ((uint32_t)b << mask_shift(bmask));
}

void GenLayer::blob_init(int n) {
  blob_size = 2 * n;
  delete[] blob_table;
  blob_table = nullptr;
  blob_pairs.clear();
  if (n < 1) return;

  const int s = blob_size;
  blob_table = new (std::nothrow) uint32_t[(size_t)s * s]();
  if (!blob_table) {
    error("cannot allocate %lu bytes of memory", (unsigned long)s * s * 4);
    blob_size = 0;
    return;
  }
  // Rings from the outside in, angle outermost: later writes win.
  for (double deg = 1.0; deg <= 360.0; deg += 1.0) {
    const double theta = deg * kDegToRad;
    for (int i = n; i >= 1; i--) {
      const int col = (int)(n + i * cos(theta));
      const int row = (int)(n + i * sin(theta));
      // The outermost ring touches column 2n at 360 deg and row 2n at 90.
      if (col < 0 || col >= s || row < 0 || row >= s) continue;
      const int v = 153 / i;
      const uint8_t c1 = (uint8_t)(int)(v * 0.8);
      const uint8_t c2 = (uint8_t)(int)(c1 * 1.3);
      blob_table[(size_t)row * s + col] = map_rgb(c1, c1, c2);
    }
  }
  // On a canvas shown larger the sprite grows with it, cell by cell, so
  // that the blobs and where they pile up look the same at any size.
  if (blob_scale != 1.0) enlarge_blob(std::max(1, (int)std::lround(n * blob_scale)));
  build_pairs();
}

void GenLayer::enlarge_blob(int n) {
  const int from = blob_size, s = 2 * n;
  uint32_t *table = new (std::nothrow) uint32_t[(size_t)s * s];
  if (!table) {
    error("cannot allocate %lu bytes of memory", (unsigned long)s * s * 4);
    return;  // the sprite keeps its canvas size
  }
  for (int r = 0; r < s; r++)
    for (int c = 0; c < s; c++)
      table[(size_t)r * s + c] = blob_table[(size_t)(r * from / s) * from + c * from / s];
  delete[] blob_table;
  blob_table = table;
  blob_size = s;
}

void GenLayer::build_pairs() {
  const int s = blob_size;
  const int half = s / 2;
  blob_pairs.resize((size_t)s * half);
  for (int r = 0; r < s; r++)
    for (int p = 0; p < half; p++) {
      const uint32_t *cell = blob_table + (size_t)r * s + 2 * p;
      blob_pairs[(size_t)r * half + p] = ((uint64_t)pixel_word(cell[0]) << 32) | pixel_word(cell[1]);
    }
  window = (half + 6) & ~3;  // half + 3 slots, rounded up to whole groups
  blob_windows.assign((size_t)4 * s * window, 0);
  for (int k = 0; k < 4; k++)
    for (int r = 0; r < s; r++)
      for (int p = 0; p < half; p++)
        blob_windows[((size_t)k * s + r) * window + k + p] = blob_pairs[(size_t)r * half + p];
}

// Pairs start on even columns, so a blob at an odd x lands one pixel left.
// Rows and pairs outside the surface are skipped; a pair cut by the right
// edge (odd widths) adds only its left pixel.
void GenLayer::blob(int x, int y) {
  const long s = blob_size;
  if (s < 1 || !surface || blob_pairs.empty()) return;
  const long w = surface->w, h = surface->h, pitch = surface->pitch;
  const long half = s / 2;
  const long x0 = (long)x & ~1L;  // floor to even, negative x too
  const long r0 = std::max(0L, -(long)y);
  const long r1 = std::min(s, h - y);
  const long p0 = x0 < 0 ? -x0 / 2 : 0;
  const long room = w - x0;  // columns from x0 to the right edge
  const long p1 = std::min(half, room / 2);
  const bool split = room > 0 && (room & 1) && room / 2 < half;
  if (r0 >= r1 || (p0 >= p1 && !split)) return;

  uint8_t *const base = (uint8_t *)surface->pixels;
  for (long r = r0; r < r1; r++) {
    const uint64_t *src = blob_pairs.data() + r * half;
    uint8_t *dst = base + (y + r) * pitch + (x0 + 2 * p0) * 4;
    for (long p = p0; p < p1; p++, dst += 8) add_pair(dst, src[p]);
    if (split) add_word(base + (y + r) * pitch + (w - 1) * 4, (uint32_t)(src[p1] >> 32));
  }
}

// ---------------------------------------------------------------------------
// Frames summed natively, then turned into bytes
// ---------------------------------------------------------------------------
inline void GenLayer::touch(long row, long lo, long hi) {
  touched_lo[row] = std::min<int32_t>(touched_lo[row], (int32_t)lo);
  touched_hi[row] = std::max<int32_t>(touched_hi[row], (int32_t)hi);
}

// blob(), adding native numbers: pair slot i of a row is columns 2i, 2i+1.
void GenLayer::sum_blob(int x, int y) {
  const long s = blob_size, w = surface->w, h = surface->h, pitch = surface->pitch;
  const long half = s / 2, win = window;
  uint8_t *const base = (uint8_t *)surface->pixels;
  const long x0 = (long)x & ~1L;
  const long first = x0 / 2, group = first & ~3L;
  if (x0 >= 0 && y >= 0 && y + s <= h && group + win <= w / 2) {
    // Well inside: whole groups of slots from the slot at or left of the
    // blob's first that starts a group, padded with zeros.
    const uint64_t *src = blob_windows.data() + (size_t)(first & 3) * s * win;
    blit_kernels().add_pair_rows(base + (long)y * pitch + group * 8, pitch, src, (int)s, (int)win);
    for (long r = y; r < y + s; r++) touch(r, group, group + win);
    return;
  }
  // Near an edge: clipped exactly as blob() clips.
  const long r0 = std::max(0L, -(long)y);
  const long r1 = std::min(s, h - y);
  const long p0 = x0 < 0 ? -x0 / 2 : 0;
  const long room = w - x0;
  const long p1 = std::min(half, room / 2);
  const bool split = room > 0 && (room & 1) && room / 2 < half;
  if (r0 >= r1 || (p0 >= p1 && !split)) return;
  for (long r = r0; r < r1; r++) {
    const uint64_t *src = blob_pairs.data() + r * half;
    uint8_t *line = base + (y + r) * pitch;
    for (long p = p0; p < p1; p++) add_native<uint64_t>(line + (x0 + 2 * p) * 4, src[p]);
    if (split) add_native<uint32_t>(line + (w - 1) * 4, (uint32_t)(src[p1] >> 32));
    touch(y + r, first + p0, first + p1 + (split ? 1 : 0));
  }
}

void GenLayer::sort_spots() {
  const long h = surface->h;
  row_start.assign(h + 2, 0);
  auto row_of = [h](const Spot &p) { return std::min<long>(std::max(p.y, 0), h); };
  for (const Spot &p : spots) row_start[row_of(p) + 1]++;
  for (long r = 1; r <= h + 1; r++) row_start[r] += row_start[r - 1];
  sorted_spots.resize(spots.size());
  for (const Spot &p : spots) sorted_spots[row_start[row_of(p)]++] = p;
}

void GenLayer::clear_rows(long to) {
  uint8_t *const base = (uint8_t *)surface->pixels;
  for (; rows_cleared < to; rows_cleared++) {
    memset(base + rows_cleared * surface->pitch, 0, (size_t)surface->w * 4);
    touched_lo[rows_cleared] = INT32_MAX;
    touched_hi[rows_cleared] = 0;
  }
}

// The touched slots of each row turned into bytes; the others hold zeros,
// which read the same either way.
void GenLayer::finish_rows(long to) {
  clear_rows(to);
  const PairsToBytesFn to_bytes = blit_kernels().pairs_to_bytes;
  const long w = surface->w, pairs = w / 2;
  for (; rows_done < to; rows_done++) {
    uint8_t *line = (uint8_t *)surface->pixels + rows_done * surface->pitch;
    const long lo = std::max<long>(0, touched_lo[rows_done]);
    const long hi = std::min<long>(pairs, touched_hi[rows_done]);
    if (lo < hi) to_bytes(line + 8 * lo, (int)(hi - lo));
    if ((w & 1) && touched_hi[rows_done] > pairs) word_to_bytes(line + 8 * pairs);  // last column
  }
}
