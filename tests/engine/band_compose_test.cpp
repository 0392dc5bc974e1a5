// A stack of every kind of draw composed by the frame loop gives the same
// screen on 1, 4 and 3 threads as the layers drawn one by one with
// Layer::cafudda, whole frame after whole frame; a blend in the middle
// reads the screen across bands, an invalid mode says so once a frame.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "engine_fixture.h"
#include "over_blend.h"

namespace {

// Each pixel becomes the one above it plus a quarter of the layer's.
class SmearBlend : public LayerBlend {
 public:
  const char *name() const override { return "smear"; }
  void blend(Layer &l, ViewPort &screen) override {
    const BlitClip &c = l.clip;
    for (int y = c.h - 1; y >= 0; y--) {
      uint8_t *row = (uint8_t *)c.dest + (long)y * screen.pitch;
      const uint8_t *above = c.y + y > 0 ? row - screen.pitch : row;
      const uint8_t *own = (const uint8_t *)l.blit_buffer + c.offset + (long)y * l.geo.pitch;
      for (int i = 0; i < c.w * 4; i++) row[i] = (uint8_t)(above[i] + (own[i] >> 2));
    }
  }
};

struct Placed {
  int w, h, x, y;  // size, canvas position (x < -999: centred)
  int mode, alpha;
  char blend;  // 'o' OVER, 's' smear
  double scale, degrees;
};
// Bottom to top: the nine modes' kinds off every edge, OVER, the smear,
// turned and scaled layers, an invalid code.
const Placed kStack[] = {
    {0, 0, -9999, 0, BLIT_RGB, 255, 0, 1, 0},      {120, 70, -30, -20, BLIT_ADD, 255, 0, 1, 0},
    {120, 70, 250, 200, BLIT_SUB, 255, 0, 1, 0},   {1, 200, 17, 3, BLIT_AND, 255, 0, 1, 0},
    {400, 1, -40, 97, BLIT_OR, 255, 0, 1, 0},      {90, 90, 100, 60, BLIT_BLU, 255, 0, 1, 0},
    {50, 300, 200, -30, BLIT_GRE, 255, 0, 1, 0},   {33, 33, 3, 150, BLIT_RED, 255, 0, 1, 0},
    {200, 120, 40, 40, BLIT_RGB, 160, 's', 1, 0},  {160, 100, 90, 20, BLIT_ALPHA, 77, 0, 1, 0},
    {160, 100, 130, 150, BLIT_ALPHA, 128, 0, 1, 0}, {140, 90, 10, 110, BLIT_RGB, 200, 'o', 1, 0},
    {80, 50, -9999, 0, BLIT_ADD, 255, 0, 1.5, 30}, {60, 60, 20, 20, 12, 255, 0, 1, 0},
    {70, 40, 200, 10, BLIT_RGB, 255, 0, 0.5, 90},
};

struct Screen {
  const char *what;
  int canvas_w, canvas_h;  // 0: the screen
  bool own_surface;        // lines padded, an alpha channel, guard bytes
};
const Screen kScreens[] = {{"whole screen", 0, 0, false},
                           {"letterboxed canvas", 320, 120, false},
                           {"padded surface with alpha", 0, 0, true}};

}  // namespace

TEST(BandCompose, AnyThreadCountGivesTheLayerByLayerBytes) {
  for (const Screen &sc : kScreens) {
    SCOPED_TRACE(sc.what);
    kt::Engine e(320, 240);
    ASSERT_TRUE(e.ok);
    std::optional<kt::GuardedSurface> surface;
    if (sc.own_surface) surface.emplace(*e.screen, e.screen->amask, 20);
    e.ctx.set_canvas(sc.canvas_w, sc.canvas_h, false);
    e.ctx.lockstep = e.ctx.clear_all = true;
    uint32_t seed = 5;
    for (const Placed &p : kStack) {
      auto *l = new kt::TestLayer(p.w, p.h);
      l->init(&e.ctx);
      l->frame = kt::noise(l->frame.size(), seed++);
      if (p.x > -999) l->set_position(p.x, p.y);
      l->set_blit(p.mode);
      l->set_alpha(p.alpha);
      if (p.blend == 'o') l->set_blend(std::make_unique<OverBlend>());
      if (p.blend == 's') l->set_blend(std::make_unique<SmearBlend>());
      l->set_scale(p.scale);
      l->set_rotation(p.degrees);
      e.ctx.layers.prepend(l);
    }
    const std::vector<uint8_t> before = kt::screen_bytes(*e.ctx.screen);
    std::vector<std::vector<uint8_t>> shots;
    for (int threads : {1, 1, 4, 3}) {  // the first frame starts the threads
      e.ctx.set_threads(threads);
      kt::StderrCapture log;
      e.ctx.cafudda(0);
      if (shots.size()) {
        EXPECT_EQ(kt::count_lines(log.text(), "[!] invalid algo blit"), 1);
      }
      shots.push_back(kt::screen_bytes(*e.ctx.screen));
    }
    e.ctx.screen->clear();
    e.ctx.layers.lock();
    for (Entry *x = e.ctx.layers.end(); x; x = x->prev) {
      kt::StderrCapture quiet;
      static_cast<Layer *>(x)->cafudda(false);
    }
    e.ctx.layers.unlock();
    const std::vector<uint8_t> layer_by_layer = kt::screen_bytes(*e.ctx.screen);
    EXPECT_NE(layer_by_layer, before);
    for (size_t i = 1; i < shots.size(); i++) EXPECT_TRUE(shots[i] == layer_by_layer) << i;
    if (surface) {
      EXPECT_EQ(surface->damaged(), 0);
    }
    while (Entry *x = e.ctx.layers.begin()) et::drop(static_cast<Layer *>(x));
  }
}
