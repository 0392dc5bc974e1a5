/*  kolvex_demo - the engine at work, without the intro
 *
 *  Opens the 640x480 window and runs the frame loop at 24 frames per
 *  second for a few seconds (the first argument, 10 by default) with
 *  synthetic layers in every blit mode:
 *
 *    a full-screen moving gradient (RGB copy) at the bottom,
 *    three tiles that each replace one channel (BLU, GRE, RED),
 *    bars that add (ADD), subtract (SUB), mask (AND) and light (OR),
 *    and a checkerboard fading in and out over everything (alpha blend).
 *
 *  Every layer computes its frames on its own thread in feed(); the frame
 *  loop only composites them. Run it headless with SDL_VIDEODRIVER=dummy.
 */
#include <kolvex/kolvex.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// A layer whose frames come from a drawing function of (frame, time).
class PatternLayer : public Layer {
 public:
  typedef void (*Painter)(uint8_t *px, int w, int h, int t);

  PatternLayer(const char *tag, int w, int h, Painter paint) : w_(w), h_(h), paint_(paint) {
    setname(tag);
  }
  bool open(const char *) override { return true; }
  bool init(Context *ctx) override {
    _init(ctx, w_, h_, 32);
    frames_[0].assign(geo.size, 0);
    frames_[1].assign(geo.size, 0);
    return true;
  }
  void close() override {}
  bool keypress(SDL_keysym *) override { return false; }

  // Two frames in turn: the one being drawn is never the one on screen.
  void *feed() override {
    std::vector<uint8_t> &f = frames_[t_ & 1];
    paint_(f.data(), geo.w, geo.h, t_++);
    return f.data();
  }

 private:
  int w_, h_;
  Painter paint_;
  std::vector<uint8_t> frames_[2];
  int t_ = 0;
};

inline void put(uint8_t *p, int b, int g, int r) {
  p[0] = (uint8_t)b;
  p[1] = (uint8_t)g;
  p[2] = (uint8_t)r;
  p[3] = 0xFF;
}

void gradient(uint8_t *px, int w, int h, int t) {
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      put(px + (y * w + x) * 4, (x + t * 3) & 0xFF, (y + t) & 0xFF, ((x + y) / 2 + t * 2) & 0xFF);
}

void flat(uint8_t *px, int w, int h, int t) {
  for (int i = 0; i < w * h; i++) put(px + i * 4, 0xF0, 0xF0, 0xF0);
  (void)t;
}

void bars(uint8_t *px, int w, int h, int t) {
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      int v = ((x + t * 4) / 16) & 1 ? 0x60 : 0x10;
      put(px + (y * w + x) * 4, v, v, v);
    }
}

void mask(uint8_t *px, int w, int h, int t) {
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      int on = (((x + t) / 8) ^ (y / 8)) & 1;
      put(px + (y * w + x) * 4, on ? 0xFF : 0x3F, on ? 0xFF : 0x3F, on ? 0xFF : 0x3F);
    }
}

void checker(uint8_t *px, int w, int h, int t) {
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      int on = ((x / 40) ^ (y / 40) ^ (t / 24)) & 1;
      put(px + (y * w + x) * 4, on ? 0xFF : 0x40, on ? 0x80 : 0x20, on ? 0x20 : 0x00);
    }
}

struct Placement {
  const char *tag;
  int w, h, x, y;
  BlitMode mode;
  PatternLayer::Painter paint;
};

}  // namespace

int main(int argc, char **argv) {
  int seconds = argc > 1 ? atoi(argv[1]) : 10;
  if (seconds <= 0) seconds = 10;

  Context ctx;
  if (!ctx.init(640, 480)) return 1;
  ctx.track_fps = true;

  // Listed top first: the frame loop draws from the bottom of the list up.
  const Placement placements[] = {
      {"CHK", 640, 480, 0, 0, BLIT_ALPHA, checker},
      {"ORR", 200, 60, 420, 400, BLIT_OR, bars},
      {"AND", 200, 60, 220, 400, BLIT_AND, mask},
      {"SUB", 200, 60, 20, 400, BLIT_SUB, bars},
      {"ADD", 600, 60, 20, 320, BLIT_ADD, bars},
      {"RED", 160, 120, 440, 60, BLIT_RED, flat},
      {"GRE", 160, 120, 240, 60, BLIT_GRE, flat},
      {"BLU", 160, 120, 40, 60, BLIT_BLU, flat},
      {"GRD", 640, 480, 0, 0, BLIT_RGB, gradient},
  };
  for (const Placement &p : placements) {
    Layer *l = new PatternLayer(p.tag, p.w, p.h, p.paint);
    l->init(&ctx);
    l->set_blit(p.mode);
    l->set_position(p.x, p.y);
    ctx.layers.add(l);
  }
  Layer *fading = static_cast<Layer *>(ctx.layers.begin());
  fading->set_alpha(0);

  notice("kolvex demo: %i layers for %i seconds", ctx.layers.length, seconds);
  // One second at a time: fade the top layer in and out meanwhile.
  const double start = dtime();
  for (int s = 0; s < seconds; s++) {
    if (s % 4 == 0) fading->fade_in(160, 1.5);
    if (s % 4 == 2) fading->fade_out(0, 1.5);
    ctx.cafudda(1);
  }
  // The engine's fps figure is measured from a frame's own work, before
  // the rate limiter sleeps: what the machine could do, not what was shown.
  const double took = dtime() - start;
  notice("kolvex demo: %lu frames in %.1f seconds, %.1f a second (the work alone allows %.0f)",
         ctx.frames, took, ctx.frames / took, ctx.fps);
  ctx.close();
  return 0;
}
