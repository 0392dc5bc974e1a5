/*  Kolvex - particle generator layer ("GEO")
 *
 *  Draws the blossom: a closed curve traced every frame by 1048 soft round
 *  dots (blobs) whose pixel values are added into the frame with wrap-around,
 *  so that where the curve crowds or crosses itself the colours pile up and
 *  roll over. The phase moves every frame; blossom_recal() draws a new shape.
 *
 *  Pixel words: the frame's pixels are 32-bit words whose first byte in
 *  memory is the most significant (blue, green, red, a colourless low byte).
 *  The masks hold whatever native values put blue in memory byte 0, green in
 *  byte 1 and red in byte 2 on the host, so the frame's bytes are the same on
 *  any byte order. Blob additions work on those words, two pixels at a time
 *  as one 64-bit number: left pixel high, carries running low byte -> red ->
 *  green -> blue and out of the right pixel into the left pixel's low byte.
 *
 *  Threads: feed() runs on the layer's thread under its feed lock;
 *  blossom_recal() takes the same lock, so a frame never mixes two shapes.
 *  init(), blob_init() and close() take no lock: call them while the
 *  layer's thread is not running.
 */
#ifndef KOLVEX_GENLAYER_H
#define KOLVEX_GENLAYER_H

#include <SDL.h>

#include <cstdint>
#include <vector>

#include "layer.h"

class GenLayer : public Layer {
 public:
  // w, h: frame size in canvas pixels; 0 takes the canvas's (the engine
  // always uses that).
  explicit GenLayer(int w = 0, int h = 0);
  ~GenLayer() override;

  bool open(const char *file) override;  // nothing to open: true
  // Seeds fastrand with the time, builds the surface, first shape and the
  // radius-8 sprite. False (with an error line) when the surface fails.
  bool init(Context *env) override;
  void close() override;                  // safe to call twice
  bool keypress(SDL_keysym *key) override;  // right / left arrow: recal
  const ParamTable &kind_params() const override { return table(); }
  static const ParamTable &table();  // gen/next, gen/previous
  void *feed() override;                  // one frame, or null

  // New curve parameters (seven fastrand draws) and mix one step up/down.
  void blossom_recal(bool up);
  void blossom();                // trace the curve once into the surface
  void point(int x, int y);      // add 0x99999999 to one pixel (clipped)
  void blob_init(int radius);    // sprite of 2*radius square
  void blob(int x, int y);       // add the sprite, top-left at (x, y), clipped

  double freq_a;     // frequency factor of the first harmonic, [1, 61)
  double freq_b;     // ... of the second harmonic
  double prime_xa;   // harmonic multipliers, picked from primes[]
  double prime_ya;
  double prime_xb;
  double prime_yb;
  float mix;         // weight of the first harmonic
  float phase;       // radians, added to every angle
  int32_t primes[11];
  float cycle;       // 2*pi in single precision: curve range and phase wrap
  double width;      // the canvas's size, from the geometry at each blossom_recal
  double height;
  uint32_t bmask;    // blue in memory byte 0 (pixel word 0xFF000000)
  uint32_t gmask;    // green in byte 1 (0x00FF0000)
  uint32_t rmask;    // red in byte 2 (0x0000FF00)
  uint32_t amask;    // no alpha
  SDL_Surface *surface;  // owned: the frame
  uint32_t *pixels;      // the surface's first pixel
  uint32_t *blob_table;  // owned: blob_size x blob_size cells, memory order
  int32_t blob_size;
  // Screen pixels per canvas pixel (Context::canvas): the frame and the
  // sprite are that much larger.
  double blob_scale;

 private:
  uint32_t map_rgb(uint8_t r, uint8_t g, uint8_t b) const;
  void enlarge_blob(int radius);  // the sprite, nearest cell, to 2*radius square
  void build_pairs();
  void advance_phase();
  // feed() adds every blob into the cleared surface as native 64-bit
  // numbers, one per pixel pair (a last odd column: one native 32-bit
  // word), and turns each pair touched into its bytes, first byte most
  // significant, once no blob is left to add to its row. Sums mod 2^64 do
  // not depend on the order of the additions, so these are exactly the
  // bytes of adding blob after blob with every carry, without turning every
  // pair round twice for each addition; blobs go top to bottom, so that
  // the rows being worked on stay in the cache.
  template <class Draw>
  void trace(Draw draw);              // draw(x, y) at each point of the curve
  void sort_spots();                  // spots, by first row, into sorted_spots
  void sum_blob(int x, int y);        // blob(), natively
  void touch(long row, long lo, long hi);
  void clear_rows(long to);           // rows cleared up to `to`
  void finish_rows(long to);          // rows done up to `to`: their pairs in bytes

  int req_w, req_h;
  // The sprite as pixel-word pairs (left cell high), ready to add.
  std::vector<uint64_t> blob_pairs;
  // The pair rows padded to `window` slots, at slot offsets 0 to 3, so that
  // a blob adds whole 32-byte groups of slots.
  std::vector<uint64_t> blob_windows;
  int window;
  std::vector<int32_t> touched_lo, touched_hi;  // per row: pair slots summed into
  struct Spot {
    int32_t x, y;
  };
  std::vector<Spot> spots, sorted_spots;  // this frame's blobs
  std::vector<int32_t> row_start;         // sort_spots' buckets
  long rows_cleared, rows_done;
  bool surface_locked;  // locked by the last feed(), released by the next
};

#endif
