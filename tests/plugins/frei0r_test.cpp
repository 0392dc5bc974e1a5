// frei0r plug-ins through our host, checked by what a viewer sees: the
// installed package's plug-ins on known frames (a negative, a channel, a
// parameter, a mixer's formula, a source's repeatable frames), names that
// keep ours apart, and bad input through fake plug-ins the tests build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kolvex.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const Frei0rPlugin *installed(const char *key) {
  std::string why;
  const Frei0rPlugin *p = Frei0rLibrary().find(key, why);
  EXPECT_NE(p, nullptr) << why << " (frei0r-plugins installed?)";
  return p;
}

// Colour bytes only: the fourth byte is the plug-ins' own business.
double mean_colour(const uint8_t *f, size_t pixels) {
  double sum = 0;
  for (size_t i = 0; i < pixels; i++) sum += f[4 * i] + f[4 * i + 1] + f[4 * i + 2];
  return sum / (3.0 * pixels);
}

// A scratch directory, gone with the object.
struct Scratch {
  std::string dir = (fs::temp_directory_path() / "kolvex-frei0r-XXXXXX").string();
  Scratch() { EXPECT_NE(mkdtemp(&dir[0]), nullptr); }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

// One instance across sizes (so it is made again each time), a start off
// the 16-byte grid and a wider pitch among them.
TEST(Frei0rFilter, InvertGivesTheNegativeAtEverySize) {
  const Frei0rPlugin *p = installed("invert0r");
  ASSERT_NE(p, nullptr);
  Frei0rInstance inst(*p, {});
  struct Row { int w, h, pitch_px, skew; } rows[] = {
      {16, 8, 16, 0}, {13, 7, 13, 0}, {640, 480, 640, 0}, {1, 1, 1, 0}, {33, 9, 40, 4}, {16, 8, 16, 4}};
  uint32_t seed = 1;
  for (const Row &r : rows) {
    const std::vector<uint8_t> in = kt::noise((size_t)r.pitch_px * r.h * 4 + 16, seed++);
    const uint8_t *frame = in.data() + r.skew;
    const uint8_t *out = inst.filter(0.0, r.w, r.h, frame, r.pitch_px * 4);
    ASSERT_NE(out, nullptr) << r.w << "x" << r.h;
    int wrong = 0;
    for (int y = 0; y < r.h; y++)
      for (int x = 0; x < r.w; x++)
        for (int c = 0; c < 3; c++)
          wrong += out[(y * r.w + x) * 4 + c] != 255 - frame[(y * r.pitch_px + x) * 4 + c];
    EXPECT_EQ(wrong, 0) << r.w << "x" << r.h << " skew " << r.skew;
  }
}

// R, G and B (RGBA8888 plug-ins) each put one of our channels into all
// three: the swap in and out has to put every byte back in its place.
TEST(Frei0rFilter, RgbaPluginsSeeTheirChannels) {
  struct Row { const char *key; int byte; } rows[] = {{"r", 2}, {"g", 1}, {"b", 0}};
  const uint8_t px[4] = {10, 100, 200, 77};  // blue, green, red, fourth
  std::vector<uint8_t> in(24 * 8 * 4);
  for (size_t i = 0; i < in.size(); i++) in[i] = px[i % 4];
  for (const Row &r : rows) {
    const Frei0rPlugin *p = installed(r.key);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->model, Frei0rModel::rgba);
    Frei0rInstance inst(*p, {});
    const uint8_t *out = inst.filter(0.0, 24, 8, in.data(), 24 * 4);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::vector<int>(out, out + 3), std::vector<int>(3, px[r.byte])) << r.key;
  }
}

// A brighter setting gives a brighter picture; stepping it up does too.
TEST(Frei0rFilter, ParameterChangesThePicture) {
  const Frei0rPlugin *p = installed("brightness");
  ASSERT_NE(p, nullptr);
  const std::vector<uint8_t> grey(32 * 16 * 4, 128);
  double mean[3];
  const char *settings[] = {"brightness=0.2", "brightness=0.8"};
  for (int i = 0; i < 2; i++) {
    std::vector<Frei0rSetting> s;
    std::string why;
    ASSERT_TRUE(parse_frei0r_settings(*p, settings[i], s, why)) << why;
    Frei0rInstance inst(*p, s);
    mean[i] = mean_colour(inst.filter(0.0, 32, 16, grey.data(), 32 * 4), 32 * 16);
    if (i == 0) {
      EXPECT_EQ(inst.step(0, 4), "brightness 0.4");
      mean[2] = mean_colour(inst.filter(0.0, 32, 16, grey.data(), 32 * 4), 32 * 16);
    }
  }
  EXPECT_LT(mean[0] + 20, mean[1]);
  EXPECT_LT(mean[0] + 5, mean[2]);
}

// Each parameter type as settings write it, read back through a plug-in
// that has one, whichever of the installed ones that is.
TEST(Frei0rSettings, EveryTypeReadsAndWritesBack) {
  struct Row { int type; const char *given, *written; } rows[] = {
      {0, "yes", "true"}, {0, "off", "false"}, {1, "0.25", "0.25"}, {2, "#ff8000", "#ff8000"},
      {2, "0/1/0.5", "#00ff80"}, {3, "0.25/0.75", "0.25/0.75"}, {4, "a\\,b", "a,b"}};
  const std::vector<const Frei0rPlugin *> all = Frei0rLibrary().all();
  for (const Row &r : rows) {
    const Frei0rPlugin *with = nullptr;
    int index = -1;
    for (const Frei0rPlugin *p : all)
      for (size_t i = 0; i < p->params.size() && !with; i++)
        if (p->params[i].type == r.type) with = p, index = (int)i;
    ASSERT_NE(with, nullptr) << frei0r_type_name(r.type);
    std::vector<Frei0rSetting> s;
    std::string why;
    ASSERT_TRUE(parse_frei0r_settings(*with, with->params[index].key + "=" + r.given, s, why)) << why;
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(format_frei0r_value(s[0].value), r.written) << with->use_name();
  }
}

// A mixer blends the layer (second input) with the screen under it (first
// input), only where the layer is: documented formulas on noise.
TEST(Frei0rMixer, BlendsTheLayerWithWhatIsUnder) {
  kt::Engine e(64, 48);
  ASSERT_TRUE(e.ok);
  struct Row {
    const char *name;
    int (*formula)(int under, int layer);
    int slack;
  } rows[] = {
      {"frei0r.darken", [](int a, int b) { return std::min(a, b); }, 0},
      {"frei0r.lighten", [](int a, int b) { return std::max(a, b); }, 0},
      {"frei0r.difference", [](int a, int b) { return abs(a - b); }, 0},
      {"frei0r.screen", [](int a, int b) { return 255 - (255 - a) * (255 - b) / 255; }, 1},
  };
  kt::TestLayer l(37, 21);
  {
    kt::StderrCapture quiet;
    l.init(&e.ctx);
  }
  l.frame = kt::noise(l.geo.size, 5);
  l.blit_buffer = l.frame.data();
  l.set_position(40, -3);  // 24 x 18 of it on the screen
  for (const Row &r : rows) {
    std::string err;
    l.set_blend(make_blend(r.name, err));
    ASSERT_NE(l.get_blend(), nullptr) << err;
    const std::vector<uint8_t> back = kt::noise(64 * 48 * 4, 6);
    uint8_t *screen = (uint8_t *)e.screen->get_surface();
    std::copy(back.begin(), back.end(), screen);
    l.get_blend()->blend(l, *e.screen);
    int wrong = 0, changed = 0;
    for (int y = 0; y < 48; y++)
      for (int x = 0; x < 64; x++)
        for (int c = 0; c < 3; c++) {
          const int i = (y * 64 + x) * 4 + c;
          const bool inside = x >= 40 && y < 18;
          const int want = inside ? r.formula(back[i], l.frame[((y + 3) * 37 + x - 40) * 4 + c]) : back[i];
          wrong += abs(screen[i] - want) > r.slack;
          changed += screen[i] != back[i];
        }
    EXPECT_EQ(wrong, 0) << r.name;
    EXPECT_GT(changed, 24 * 18) << r.name;
  }
}

// The same times give the same frames, in two instances and two layers;
// other times give others (nois0r's noise follows the time it is given).
// A BGRA source's colour lands where it belongs.
TEST(Frei0rSource, SameTimesGiveTheSameFrames) {
  const Frei0rPlugin *p = installed("nois0r");
  ASSERT_NE(p, nullptr);
  Frei0rInstance a(*p, {}), b(*p, {});
  const uint8_t *fa = a.generate(1.5, 40, 30);
  const std::vector<uint8_t> first(fa, fa + 40 * 30 * 4);
  const uint8_t *fb = b.generate(1.5, 40, 30);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), fb));
  fb = b.generate(3.0, 40, 30);
  EXPECT_FALSE(std::equal(first.begin(), first.end(), fb));

  kt::Engine e(48, 32);
  ASSERT_TRUE(e.ok);
  std::string err;
  std::vector<uint64_t> hashes;
  for (int run = 0; run < 2; run++) {
    LayerPtr l(make_layer("frei0r.nois0r", err));
    ASSERT_NE(l, nullptr) << err;
    EXPECT_STREQ(l->get_name(), "F0R");
    ASSERT_TRUE(l->init(&e.ctx));
    for (int i = 0; i < 3; i++) {
      l->frame_asked = i;  // the frame number sets the time
      hashes.push_back(kt::fnv1a(l->feed(), l->geo.size));
    }
  }
  EXPECT_EQ(std::vector<uint64_t>(hashes.begin(), hashes.begin() + 3),
            std::vector<uint64_t>(hashes.begin() + 3, hashes.end()));
  EXPECT_NE(hashes[0], hashes[1]);

  LayerPtr one(make_layer("frei0r.onecol0r:color=#ff8000", err));
  ASSERT_NE(one, nullptr) << err;
  ASSERT_TRUE(one->init(&e.ctx));
  const uint8_t *px = (const uint8_t *)one->feed();
  EXPECT_EQ(std::vector<int>(px, px + 3), std::vector<int>({0x00, 0x80, 0xff}));
}

// A frei0r filter among a layer's filters: the screen shows the negative,
// the layer's own frame stays as it was.
TEST(Frei0rFilter, RunsInALayersChain) {
  kt::Engine e(32, 24);
  ASSERT_TRUE(e.ok);
  kt::TestLayer l;
  {
    kt::StderrCapture quiet;
    l.init(&e.ctx);
  }
  l.frame = kt::noise(l.geo.size, 9);
  const std::vector<uint8_t> own = l.frame;
  std::string err;
  Filter *f = e.ctx.plugger.pick("frei0r.invert0r", err);
  ASSERT_NE(f, nullptr) << err;
  l.filters.add(f);
  l.feed_buffer = l.frame.data();
  l.active = true;
  ASSERT_TRUE(l.cafudda());
  EXPECT_EQ(l.frame, own);
  const uint8_t *shown = kt::screen_pixel(e.ctx, 5, 7);
  const uint8_t *was = &own[(7 * 32 + 5) * 4];
  EXPECT_EQ(std::vector<int>(shown, shown + 3), std::vector<int>({255 - was[0], 255 - was[1], 255 - was[2]}));
  f->rem();
}

// "vertigo" stays ours; frei0r's is reached by its prefix, in any case.
TEST(Frei0rNames, OursKeepTheirNames) {
  Scratch s;
  fs::copy_file(KOLVEX_VERTIGO_PATH, s.dir + "/vertigo-darwin.so");
  Plugger plugger({s.dir.c_str()});
  {
    kt::StderrCapture quiet;
    ASSERT_EQ(plugger.refresh(), 0);
  }
  std::string err;
  Filter *ours = plugger.pick("vertigo", err);
  ASSERT_NE(ours, nullptr) << err;
  EXPECT_EQ(dynamic_cast<Frei0rFilter *>(ours), nullptr);
  Filter *theirs = plugger.pick("FREI0R.Vertigo:zoomrate=0.3", err);
  ASSERT_NE(theirs, nullptr) << err;
  EXPECT_NE(dynamic_cast<Frei0rFilter *>(theirs), nullptr);
  EXPECT_STREQ(theirs->getname(), "frei0r.vertigo");
}

// Bad names, settings and plug-ins: one line naming what is wrong, no
// filter, layer or blend.
TEST(Frei0rBadInput, OneLineNamingIt) {
  Scratch s;
  for (const char *v : {"initfails", "noinstance", "noupdate", "newer", "model9"})
    fs::copy_file(std::string(KOLVEX_TEST_FAKE0R_DIR) + "/fake0r_" + v + ".so", s.dir + "/" + v + ".so");
  std::ofstream(s.dir + "/junk.so") << "not a plug-in\n";
  std::vector<std::string> dirs = Frei0rLibrary().dirs();
  dirs.insert(dirs.begin(), s.dir);
  Frei0rLibrary lib(dirs);
  struct Row { const char *asked; Frei0rKind kind; const char *said; } rows[] = {
      {"frei0r.nosuch", Frei0rKind::filter, "frei0r.nosuch: no such frei0r plug-in"},
      {"frei0r.invert0r:size=1", Frei0rKind::filter, "frei0r.invert0r has no parameter size"},
      {"frei0r.brightness:brightness=lots", Frei0rKind::filter, "brightness wants a number, not \"lots\""},
      {"frei0r.brightness:brightness", Frei0rKind::filter, "\"brightness\" is not PARAM=VALUE"},
      {"frei0r.darken", Frei0rKind::filter, "frei0r.darken is a frei0r mixer, not a filter"},
      {"frei0r.invert0r", Frei0rKind::source, "frei0r.invert0r is a frei0r filter, not a source"},
      {"frei0r.initfails", Frei0rKind::filter, "initfails.so: its f0r_init failed"},
      {"frei0r.noinstance", Frei0rKind::filter, "frei0r.noinstance: its f0r_construct gives no instance"},
      {"frei0r.noupdate", Frei0rKind::filter, "noupdate.so: not a frei0r plug-in, it lacks f0r_update"},
      {"frei0r.newer", Frei0rKind::filter, "newer.so: made for frei0r 2, this host knows 1"},
      {"frei0r.model9", Frei0rKind::filter, "model9.so: unknown colour model 9"},
      {"frei0r.junk", Frei0rKind::filter, "junk.so: not loadable"},
  };
  for (const Row &r : rows) {
    std::vector<Frei0rSetting> settings;
    std::string why;
    EXPECT_EQ(lib.resolve(r.asked, r.kind, settings, why), nullptr) << r.asked;
    EXPECT_TRUE(kt::contains(why, r.said)) << r.asked << ": " << why;
    EXPECT_EQ(why.find('\n'), std::string::npos);
  }
  std::string err;
  Plugger plugger({s.dir.c_str()});
  EXPECT_EQ(plugger.pick("nosuch:x=1", err), nullptr);
  EXPECT_EQ(err, "nosuch:x=1: only frei0r effects take settings");
  EXPECT_EQ(make_layer("frei0r.darken", err), nullptr);
  EXPECT_EQ(err, "frei0r.darken is a frei0r mixer, not a source");
  for (const char *bad : {"frei0r.invert0r", "MULTIPLY", ""}) {
    EXPECT_EQ(make_blend(bad, err), nullptr) << bad;
    EXPECT_FALSE(err.empty()) << bad;
  }
}

}  // namespace
