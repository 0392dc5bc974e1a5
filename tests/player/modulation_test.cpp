// The modulator as a performer meets it: LFOs and the tempo on their
// formulas, maps driving every kind of parameter of a real player's
// layers through the tree, MIDI learn, a show with all of it recorded and
// rendered again to the same bytes, and bad input told in one line.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "modulator.h"
#include "player_fixture.h"
#include "replay.h"
#include "test_support.h"

namespace {

const double kE4 = std::exp(4.0) - 1;

// LFOs and the tempo
TEST(Lfo, EachShapeFollowsItsFormulaAcrossPeriods) {
  const double tau = 2 * M_PI;
  const struct {
    const char *text;
    int fps;
    int64_t frame;
    double beat, want;
  } rows[] = {
      {"s sine 1hz", 24, 0, 0, 0.5},  // starts in the middle, rising
      {"s sine 1hz", 24, 1, 0, 0.5 + 0.5 * std::sin(tau / 24)},
      {"s sine 1hz", 24, 6, 0, 1},
      {"s sine 1hz", 24, 18, 0, 0},
      {"s sine 1hz", 24, 30, 0, 1},  // the next period
      {"s sine 0.1hz", 30, 3000, 0, 0.5},  // 100 periods on: no drift
      {"t triangle 0.5hz", 24, 0, 0, 0.5},
      {"t triangle 0.5hz", 24, 6, 0, 0.75},
      {"t triangle 0.5hz", 24, 12, 0, 1},
      {"t triangle 0.5hz", 24, 36, 0, 0},
      {"t triangle 0.5hz", 24, 42, 0, 0.25},
      {"t triangle 0.5hz", 24, 60, 0, 1},
      {"w saw 2hz", 24, 3, 0, 0.25},
      {"w saw 2hz", 24, 9, 0, 0.75},
      {"w saw 2hz", 24, 12, 0, 0},
      {"q square 1hz", 25, 0, 0, 1},
      {"q square 1hz", 25, 12, 0, 1},
      {"q square 1hz", 25, 13, 0, 0},
      {"q square 1hz", 25, 25, 0, 1},
      {"b sine 2beats", 24, 99, 0.5, 1},  // the beat position, not the frame
      {"b sine 2beats", 24, 0, 1.5, 0},
      {"b saw 1beat", 24, 0, 3.25, 0.25},
      {"b square 4beats", 24, 0, 6, 0},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(std::string(r.text) + " frame " + std::to_string(r.frame));
    Lfo l;
    std::string err;
    ASSERT_TRUE(Lfo::parse(r.text, l, err)) << err;
    EXPECT_NEAR(l.at(l.cycles(r.frame, r.fps, r.beat)), r.want, 1e-9);
  }
}

TEST(Lfo, RandomHoldsEachPeriodAndIsTheSameOnEveryRun) {
  Lfo a, b;
  std::string err;
  ASSERT_TRUE(Lfo::parse("a random 1hz", a, err) && Lfo::parse("b random 1hz", b, err));
  std::set<double> seen;
  for (int period = 0; period < 8; period++) {
    EXPECT_TRUE(a.at(period) >= 0 && a.at(period) < 1 && a.at(period + 0.99) == a.at(period));
    seen.insert(a.at(period));
  }
  EXPECT_EQ(seen.size(), 8u);
  EXPECT_NE(a.at(3), b.at(3));  // each LFO its own
}

TEST(Tempo, TapsGiveTheMeanIntervalAndRestartTheBeat) {
  const struct {
    int fps;
    std::vector<int64_t> taps;
    double bpm;
  } rows[] = {
      {24, {0, 12, 24, 36}, 120},
      {24, {0, 11, 23, 36}, 120},                  // uneven: their mean
      {30, {0, 30}, 60},
      {24, {0, 12, 24, 84, 94}, 144},              // a gap over 2 s starts afresh
      {24, {0, 20, 30, 40, 50, 60, 70, 80, 90}, 144},  // the last 8 taps only
      {24, {5}, 120},                              // one tap: the beat only
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(::testing::PrintToString(r.taps));
    Tempo t(r.fps);
    t.advance(1);
    for (int64_t f : r.taps) {
      t.advance(f);
      t.tap(f);
      EXPECT_EQ(t.phase(), 0);
    }
    EXPECT_NEAR(t.bpm(), r.bpm, 0.1);
    t.advance(r.taps.back() + 1);
    EXPECT_NEAR(t.phase(), r.bpm / 60 / r.fps, 1e-9);
  }
}

// On a real player
class FakeMidi : public MidiSource {
 public:
  std::vector<MidiEvent> queued;
  void take(std::vector<MidiEvent> &out) override {
    out.insert(out.end(), queued.begin(), queued.end());
    queued.clear();
  }
};

void set(Player &p, const std::string &path, const ControlArgs &args = {}) {
  std::string said, why;
  EXPECT_EQ(p.controls()->set(path, args, said, why), ControlStatus::done) << path << ": " << why;
}
ControlArgs num(double v) { return {ControlArg::number(v)}; }
ControlArgs text(const std::string &s) { return {ControlArg::string(s)}; }

std::string read(Player &p, const std::string &path) {
  ControlArgs out;
  std::string why;
  if (!p.controls()->get(path, out, why) || out.empty()) return "? " + why;
  if (out[0].is_text) return out[0].text;
  char buf[32];
  snprintf(buf, sizeof buf, "%.4f", out[0].num);
  return buf;
}

class OnAPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    set_debug(0);
    p = pt::open_player({"-q", "--fps", "24", "--size", "64x48", "layer_gen",
                         PLAYER_DATA_DIR "/ant.png", "--alpha", "128"},
                        opt);
    ASSERT_NE(p, nullptr);
  }
  double src(const std::string &name) { return p->modulator()->source(name); }
  PlayerOptions opt;
  std::unique_ptr<Player> p;
};

TEST_F(OnAPlayer, MapsDriveEachKindOfParameterByRangeAndCurve) {
  const struct {
    const char *map, *path;
    double cc;
    std::string want;
  } rows[] = {
      {"/layer/1/alpha", "/layer/1/alpha", 0.25, "0.2510"},
      {"/layer/1/alpha 1 0", "/layer/1/alpha", 0.25, "0.7490"},  // reversed: inverted
      {"/layer/1/rotation 90 180", "/layer/1/rotation", 0.5, "135.0000"},
      {"/layer/1/rotation 0 100 exp", "/layer/1/rotation", 0.5,
       std::to_string(100 * (std::exp(2.0) - 1) / kE4)},
      {"/layer/1/rotation 0 100 log", "/layer/1/rotation", 0.5,
       std::to_string(100 * std::log(1 + 0.5 * kE4) / 4)},
      {"/layer/1/rotation 0 100 step", "/layer/1/rotation", 0.49, "0.0000"},
      {"/layer/1/rotation 0 100 step", "/layer/1/rotation", 0.5, "100.0000"},
      {"/magnify", "/magnify", 0.74, "2.0000"},  // integer 1..3, rounded
      {"/magnify", "/magnify", 0.76, "3.0000"},
      {"/layer/1/shown", "/layer/1/shown", 0.4, "0.0000"},
      {"/layer/1/shown", "/layer/1/shown", 0.6, "1.0000"},
      {"/layer/1/shown 1 0", "/layer/1/shown", 0.6, "0.0000"},
      {"/layer/1/blit", "/layer/1/blit", 0, "RGB"},  // a choice by index
      {"/layer/1/blit 3 1", "/layer/1/blit", 0, "GRE"},
      {"/layer/1/blit 3 1", "/layer/1/blit", 0.5, "BLU"},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(std::string(r.map) + " at " + std::to_string(r.cc));
    const std::string map = std::string("midi/cc/1/1 ") + r.map;
    set(*p, "/map/add", text(map));
    set(*p, "/midi/cc/1/1", num(r.cc));
    ASSERT_TRUE(p->step());
    const std::string got = read(*p, r.path);
    if (isdigit((unsigned char)r.want[0]))
      EXPECT_NEAR(atof(got.c_str()), atof(r.want.c_str()), 1e-3) << got;
    else
      EXPECT_EQ(got, r.want);
    set(*p, "/map/remove", text(map));
  }
  EXPECT_EQ(p->modulator()->maps(), 0u);

  // A trigger fires on the rising edge through 0.5, once.
  set(*p, "/map/add", text("midi/cc/1/2 /layer/1/select"));
  const struct {
    double cc;
    const char *also;
    size_t selected;
  } edges[] = {{1, "", 0}, {0.9, "/layer/2/select", 1}, {0.2, "", 1}, {0.5, "", 0}};
  for (const auto &e : edges) {
    set(*p, "/midi/cc/1/2", num(e.cc));
    if (*e.also) set(*p, e.also);
    ASSERT_TRUE(p->step());
    EXPECT_EQ(p->controls()->selected(), e.selected) << "cc " << e.cc;
  }
}

TEST_F(OnAPlayer, SmoothingGoesOneMinusOneOverEOfTheWayInItsTime) {
  set(*p, "/map/add", text("midi/cc/3/9 /layer/2/alpha smooth 0.5"));
  ASSERT_TRUE(p->step());  // settles at the source's value, 0
  EXPECT_EQ(read(*p, "/layer/2/alpha"), "0.0000");
  set(*p, "/midi/cc/3/9", num(1));
  for (int i = 0; i < 12; i++) ASSERT_TRUE(p->step());  // 0.5 s at 24 fps
  const double step = std::exp(-1.0) * (1 - std::exp(-1.0 / 12));  // the last frame's
  EXPECT_NEAR(atof(read(*p, "/layer/2/alpha").c_str()), 1 - std::exp(-1.0), step);
}

TEST_F(OnAPlayer, TheAudiosTempoUntilATapTakesItOverAndBpmZeroGivesItBack) {
  p->modulator()->set_audio([](int64_t frame) {
    AudioFrame a;
    a.bpm = frame < 40 ? 100 : 90;
    a.beat = frame == 10 || frame == 50 ? 1 : 0;
    return a;
  });
  auto bpm = [&] { return src("tempo/bpm") * 240; };
  for (int i = 0; i < 10; i++) ASSERT_TRUE(p->step());
  EXPECT_NEAR(bpm(), 100, 1e-9);
  ASSERT_TRUE(p->step());  // frame 10, on the audio's beat
  EXPECT_EQ(src("tempo/phase"), 0);
  for (int64_t f : {20, 32, 44}) {  // taps 0.5 s apart
    while (p->frame() < f) ASSERT_TRUE(p->step());
    set(*p, "/tempo/tap");
    ASSERT_TRUE(p->step());
    EXPECT_EQ(src("tempo/phase"), 0);
  }
  EXPECT_NEAR(bpm(), 120, 0.1);  // the audio's 90 no more
  EXPECT_EQ(read(*p, "/tempo/bpm"), "120.0000");
  set(*p, "/tempo/bpm", num(0));
  ASSERT_TRUE(p->step());
  EXPECT_NEAR(bpm(), 90, 1e-9);
  EXPECT_EQ(read(*p, "/tempo/bpm"), "0.0000");
}

TEST_F(OnAPlayer, LearnMapsTheNextControlMovedAndKeysAskForIt) {
  FakeMidi midi;
  p->modulator()->set_midi(&midi);
  SDL_keysym k{};
  k.sym = SDLK_l;
  k.mod = KMOD_LSHIFT;
  EXPECT_EQ(p->keys()->press(k), "learn /layer/2/alpha: move a control");
  ASSERT_TRUE(p->step());
  midi.queued = {{"midi/cc/1/7", 0.5}, {"midi/cc/1/8", 0.9}};  // the first one learns
  ASSERT_TRUE(p->step());
  EXPECT_EQ(p->status(), "learned midi/cc/1/7 -> /layer/2/alpha");
  EXPECT_EQ(read(*p, "/layer/2/alpha"), "0.5020");  // 128 of 255
  midi.queued = {{"midi/cc/1/7", 0.2}};
  ASSERT_TRUE(p->step());
  EXPECT_EQ(read(*p, "/layer/2/alpha"), "0.2000");
  EXPECT_EQ(p->modulator()->maps(), 1u);
  k = SDL_keysym{};
  k.sym = SDLK_t;
  EXPECT_EQ(p->keys()->press(k), "tempo 120.0 bpm");
}

// Recorded and rendered again
// A live capture recording its show, with LFOs (one on the beat), maps from
// the command line, MIDI values and taps; the show rendered again by the
// program is the same file, byte for byte, and the record holds the inputs,
// not what the maps set.
TEST(ModulatedShow, RendersAgainToTheSameBytes) {
  kt::TempDir dir;
  const std::string show = dir.path + "/show.txt", live = dir.path + "/live";
  {
    PlayerOptions opt;
    auto p = pt::open_player(
        {"-q", "--size", "64x48", "--fps", "24", "--seed", "2004", "--record", show, "--capture",
         live, "--format", "y4m", "--seconds", "2", "--lfo", "w sine 0.5hz", "--lfo",
         "b saw 2beats", "--map", "lfo/w /layer/2/alpha", "--map",
         "lfo/b /layer/2/rotation 0 90 exp smooth 0.1", "layer_gen", PLAYER_DATA_DIR "/ant.png",
         "--alpha", "128"},
        opt);
    ASSERT_NE(p, nullptr);
    FakeMidi midi;
    p->modulator()->set_midi(&midi);
    ShowRecorder recorder;
    std::string err;
    ASSERT_TRUE(attach_controls(*p, opt, Show(), recorder, err)) << err;
    while (true) {
      const int64_t f = p->frame();
      if (f == 5) set(*p, "/map/add", text("midi/cc/2/1 /layer/1/shown"));
      if (f % 7 == 3) midi.queued.push_back({"midi/cc/2/1", (double)(f % 2)});
      if (f == 10 || f == 19 || f == 28) set(*p, "/tempo/tap");
      if (!p->step()) break;
    }
    EXPECT_EQ(p->session()->finish(), 0);
    recorder.end(p->frame());
  }
  const std::vector<uint8_t> bytes = kt::read_file(show);
  const std::string s(bytes.begin(), bytes.end());
  EXPECT_TRUE(kt::contains(s, "\nlfo w sine 0.5hz\nlfo b saw 2beats\n")) << s;
  EXPECT_TRUE(kt::contains(s, "0 /map/add \"lfo/w /layer/2/alpha\"\n")) << s;
  EXPECT_TRUE(kt::contains(s, " /midi/cc/2/1 1\n")) << s;
  EXPECT_EQ(kt::count_lines(s, "28 /tempo/tap"), 1) << s;
  EXPECT_FALSE(kt::contains(s, "/layer/2/alpha ") || kt::contains(s, "/layer/1/shown ")) << s;

  const std::vector<std::string> played = kt::y4m_frames(live + "/kolvex.y4m");
  ASSERT_EQ(played.size(), 49u);
  EXPECT_NE(played[0], played[12]);  // the LFOs move the picture
  for (int r = 0; r < 2; r++) {
    const std::string out = dir.path + "/r" + std::to_string(r);
    const std::string said = kt::without_sanitizer_notes(kt::output_of(
        PLAYER_PROGRAM " -q --replay " + show + " --capture " + out + " --format y4m 2>&1"));
    EXPECT_EQ(said, "");
    const std::vector<std::string> again = kt::y4m_frames(out + "/kolvex.y4m");
    ASSERT_EQ(again.size(), played.size());
    for (size_t k = 0; k < played.size(); k++) EXPECT_TRUE(again[k] == played[k]) << "frame " << k;
  }
}

// Bad input
TEST(ModulationInput, EachMistakeIsOneLineAndStatusTwo) {
  const struct {
    const char *args, *line;
  } rows[] = {
      {"--map 'lfo/x /layer/1/alpha'", "--map 'lfo/x /layer/1/alpha': no source lfo/x"},
      {"--map 'midi/cc/17/1 /layer/1/alpha'", "no source midi/cc/17/1"},
      {"--map 'audio/level /layer/1/alpha'", "no source audio/level"},  // no sound given
      {"--map 'lfo/w /layer/3/alpha'", "--map 'lfo/w /layer/3/alpha': no layer 3"},
      {"--map 'lfo/w /layer/1/nothing'", "no control nothing on layer 1"},
      {"--map 'lfo/w /layer/1/pos'",
       "/layer/1/pos is a position: a map drives a number, an integer, a boolean, a choice or a "
       "trigger"},
      {"--map 'lfo/w /layer/1/alpha 0 1 wobbly'", "no curve wobbly (linear, exp, log, step)"},
      {"--map 'lfo/w /layer/1/alpha smooth -1'", "smooth wants SECONDS from 0 to 3600"},
      {"--lfo 'v zigzag 1hz'", "--lfo v: no shape zigzag (sine, triangle, saw, square, random)"},
      {"--lfo 'v sine 0hz'", "--lfo v: a rate is NNhz or NNbeats above 0, not 0hz"},
      {"--lfo 'v/1 sine 1hz'", "--lfo v/1: a name is letters, digits, _ and -"},
      {"--lfo 'w saw 1hz'", "--lfo w: declared twice"},
      // The show's sound and MIDI; no JACK server runs under that name.
      {"--audio /nonexistent/set.wav", "/nonexistent/set.wav: No such file or directory"},
      {"--audio " PLAYER_DATA_DIR "/ant.png", PLAYER_DATA_DIR "/ant.png: no sound in it"},
      {"--audio-in pulse", "--audio-in wants jack or jack:PORT"},
      {"--audio-in jack", "no JACK server running"},
      {"--audio set.wav --audio-in jack", "do not go together: the show has one sound"},
      {"--audio-in jack --seconds 1 --capture /nonexistent", "--audio-in is live"},
      {"--midi knobs", "no MIDI port named like \"knobs\""},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.args);
    const std::string said = kt::without_sanitizer_notes(kt::output_of(
        std::string("JACK_DEFAULT_SERVER=kolvex-test-none JACK_NO_START_SERVER=1 " PLAYER_PROGRAM
                    " --lfo 'w sine 1hz' ") +
        r.args + " layer_gen 2>&1 >/dev/null; echo status $?"));
    EXPECT_TRUE(kt::contains(said, r.line)) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
    EXPECT_TRUE(kt::contains(said, "status 2")) << said;
  }
}

}  // namespace
