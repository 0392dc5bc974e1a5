// Parameters as data, from outside: every row of every object in a show
// set through the tree at its limits and past them and read back; a layer
// kind the player has never heard of reached by the list, OSC, /get and a
// replay; every change sent to a control surface.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <map>

#include "factory.h"
#include "osc.h"
#include "player.h"
#include "player_fixture.h"
#include "replay.h"
#include "test_support.h"

namespace {

std::unique_ptr<Player> open_player(std::vector<std::string> args, PlayerOptions &opt) {
  std::unique_ptr<Player> p = pt::open_player(std::move(args), opt);
  if (p) p->context()->lockstep = true;
  return p;
}

// The values a row is tried with, and what each must read back as: worked
// out from the row's declared type and range alone.
struct Trial {
  ControlArgs given;
  std::vector<double> want;  // numbers read back
  std::string want_text;
  bool clamped;
};

std::vector<Trial> trials(const Param &p) {
  const double lo = p.min, hi = p.max, span = hi - lo;
  auto n = [](double v) { return ControlArg::number(v); };
  switch (p.type) {
    case ParamType::number:
    case ParamType::integer:
      return {{{n(lo)}, {lo}, "", false},
              {{n(hi)}, {hi}, "", false},
              {{n(lo + span / 4)},
               {p.type == ParamType::integer ? std::round(lo + span / 4) : lo + span / 4}, "", false},
              {{n(lo - 1 - span)}, {lo}, "", true},
              {{n(hi + 1 + span)}, {hi}, "", true}};
    case ParamType::boolean:
      return {{{ControlArg::string("on")}, {1}, "", false}, {{n(0)}, {0}, "", false}};
    case ParamType::choice: {
      std::vector<Trial> out;
      for (size_t i = 0; i < p.choices.size(); i++)
        out.push_back({{ControlArg::string(p.choices[i])}, {lo + (double)i}, "", false});
      return out;
    }
    case ParamType::colour:
      return {{{n(0), n(0.5), n(1)}, {0, 0.5, 1}, "", false},
              {{n(-3), n(7), n(0.25)}, {0, 1, 0.25}, "", true},
              {{ControlArg::string("#ff8000")}, {1, 128 / 255.0, 0}, "", false}};
    case ParamType::position:
      return {{{n(lo), n(hi)}, {lo, hi}, "", false},
              {{n(lo - 5), n(hi + 5)}, {lo, hi}, "", true}};
    case ParamType::text:
      return {{{ControlArg::string("tree")}, {}, "tree", false},
              {{ControlArg::string(std::string((size_t)hi + 9, 'x'))}, {},
               std::string((size_t)hi, 'x'), true}};
    case ParamType::trigger: break;
  }
  return {};
}

// Every settable row with a value under `prefix` of `obj`.
void check_rows(Controls &c, const std::string &prefix, const Parametric &obj,
                std::map<std::string, int> &clamped, int &rows) {
  const ParamTable table = obj.params();  // a copy: setting the blit changes the table
  for (const Param &p : table) {
    if (!p.get || !p.set || !p.live) continue;
    rows++;
    const std::string path = prefix + p.name;
    for (const Trial &t : trials(p)) {
      SCOPED_TRACE(path + " " + show_token(t.given[0]));
      std::string said, why;
      ASSERT_EQ(c.set(path, t.given, said, why), ControlStatus::done) << why;
      ControlArgs back;
      ASSERT_TRUE(c.get(path, back, why)) << why;
      if (t.clamped) clamped[path]++;
      if (p.type == ParamType::text) {
        ASSERT_EQ(back.size(), 1u);
        EXPECT_EQ(back[0].text, t.want_text);
        continue;
      }
      if (p.type == ParamType::choice) {
        ASSERT_EQ(back.size(), 1u);
        EXPECT_EQ(back[0].text, t.given[0].text);
        continue;
      }
      ASSERT_EQ(back.size(), t.want.size());
      // An alpha is kept in 8 bits, a colour too by some plug-ins.
      const double tolerance = p.type == ParamType::integer ? 0 : 0.5 / 255 * std::max(1.0, p.max - p.min);
      for (size_t i = 0; i < back.size(); i++) EXPECT_NEAR(back[i].num, t.want[i], tolerance) << i;
    }
  }
}

// Every object of a show with a layer of each kind (a generator, a
// picture, a clip, a frei0r source), frei0r effects and a blend: each
// row at its limits and beyond reads back as its declaration says, and a
// value clamped is told once per path.
TEST(PlayerParams, EveryRowSetAndReadBackAtItsLimitsAndBeyond) {
  kt::TempDir dir;
  const std::string clip = dir.path + "/clip.mp4";
  ASSERT_EQ(system(("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=64x48:rate=24 -t 2 " +
                    clip).c_str()), 0);
  PlayerOptions opt;
  auto player = open_player({"--size", "64x48", "layer_gen", PLAYER_DATA_DIR "/ant.png", clip,
                             "frei0r.nois0r", "--blit", "frei0r.darken", "--effect",
                             "frei0r.brightness", "--effect", "frei0r.tint0r"},
                            opt);
  ASSERT_NE(player, nullptr);
  Controls &c = *player->controls();
  std::map<std::string, int> clamped;
  int rows = 0;
  testing::internal::CaptureStderr();
  for (size_t i = 0; i < c.size(); i++) {
    Layer *l = c.layer(i);
    const std::string at = "/layer/" + std::to_string(i + 1) + "/";
    check_rows(c, at, *l, clamped, rows);
    int e = 1;
    for (Entry *f = l->filters.begin(); f; f = f->next, e++)
      check_rows(c, at + "effect/" + std::to_string(e) + "/", *static_cast<Filter *>(f), clamped, rows);
    if (l->get_blend()) check_rows(c, at + "blend/", *l->get_blend(), clamped, rows);
  }
  check_rows(c, "/osd/", player->context()->osd, clamped, rows);
  check_rows(c, "/", c, clamped, rows);
  const std::string told = testing::internal::GetCapturedStderr();
  EXPECT_GE(rows, 20) << "the base's, the kinds', the effects', the blend's, the OSD's, the player's";
  for (const auto &path : clamped) {
    size_t count = 0;
    for (size_t at = told.find(path.first + ":"); at != std::string::npos;
         at = told.find(path.first + ":", at + 1))
      count++;
    EXPECT_EQ(count, 1u) << path.first << " clamped " << path.second << " times; told:\n" << told;
  }
}

// A kind of layer no part of the player names: its row is listed, set by
// OSC, read by /get, and played from a show.
class Gauge : public kt::TestLayer {
 public:
  double level = 0;
  static const ParamTable &table() {
    static const ParamTable t = {
        row<Gauge>({"gauge/level", ParamType::number, 0, 10, 0, "", "how full"},
                   [](const Gauge &g) { return ParamValue::of(g.level); },
                   [](Gauge &g, const ParamValue &v) { g.level = v.num[0]; })};
    return t;
  }
  const ParamTable &kind_params() const override { return table(); }
};

TEST(PlayerParams, AKindRegisteredByAProgramNeedsNoPlayerChange) {
  static bool registered = false;
  if (!registered)
    register_layer_kind({"gauge", "gauge:NAME", Gauge::table,
                         [](const char *s) { return strncmp(s, "gauge:", 6) == 0; },
                         [](const char *, std::string &) { return LayerPtr(new Gauge()); }});
  registered = true;
  char *text = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&text, &size);
  Controls::list(out);
  fclose(out);
  EXPECT_NE(std::string(text).find("/layer/L/gauge/level"), std::string::npos) << text;
  free(text);

  PlayerOptions opt;
  auto player = open_player({"--size", "32x24", "layer_gen", "gauge:one"}, opt);
  ASSERT_NE(player, nullptr);
  Gauge *g = static_cast<Gauge *>(player->controls()->layer(1));
  OscHandler osc(true);
  std::map<std::string, ControlArgs> replies;
  osc.reply = [&](const std::string &path, const ControlArgs &v) { replies[path] = v; };
  const std::string set = osc_message("/layer/gauge:one/gauge/level", {ControlArg::number(12)});
  EXPECT_EQ(osc.handle(*player->controls(), set.data(), set.size()), 1);
  EXPECT_EQ(g->level, 10) << "clamped to its declared range";
  const std::string get = osc_message("/get", {ControlArg::string("/layer/2/gauge/level")});
  osc.handle(*player->controls(), get.data(), get.size());
  ASSERT_EQ(replies["/layer/2/gauge/level"].size(), 1u);
  EXPECT_EQ(replies["/layer/2/gauge/level"][0].num, 10);

  Show show;
  std::string err;
  ASSERT_TRUE(parse_show("size 32x24\nlayer layer_gen\nlayer gauge:one\n"
                         "2 /layer/2/gauge/level 2.5\n3 end\n",
                         "show", show, err))
      << err;
  ShowPlayer replay(show, true);
  replay.poll(*player->controls(), 2);
  EXPECT_EQ(g->level, 2.5);
}

// --osc-feedback: a change from a key, from OSC and from a replay all
// reach the surface, each at its path by number with its value as applied.
TEST(PlayerParams, EveryChangeReachesTheSurfaceWhateverMadeIt) {
  int port = 0;
  const int fd = kt::bound_socket(SOCK_DGRAM, port);
  ASSERT_GE(fd, 0);
  const timeval wait = {5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  PlayerOptions opt;
  auto player = open_player({"--size", "32x24", "layer_gen", PLAYER_DATA_DIR "/ant.png"}, opt);
  ASSERT_NE(player, nullptr);
  std::string err;
  auto feedback = open_osc_feedback(*player->controls(), "127.0.0.1:" + std::to_string(port), err);
  ASSERT_NE(feedback, nullptr) << err;
  std::string said, why;
  SDL_keysym minus{};
  minus.sym = SDLK_MINUS;
  player->keys()->press(minus);  // the top layer: ant.png
  OscHandler osc(true);
  const std::string m = osc_message("/layer/ant.png/pos", {ControlArg::number(3), ControlArg::number(-4)});
  osc.handle(*player->controls(), m.data(), m.size());
  player->controls()->set("/osd/top", {ControlArg::string("hello")}, said, why);
  // Numbers as floats, texts as strings, each at its path by number.
  for (const std::string &want :
       {osc_message("/layer/2/alpha", {ControlArg::number(239 / 255.0)}),
        osc_message("/layer/2/pos", {ControlArg::number(3), ControlArg::number(-4)}),
        osc_message("/osd/top", {ControlArg::string("hello")})}) {
    std::string got(512, '\0');
    const ssize_t n = recv(fd, &got[0], got.size(), 0);
    ASSERT_GT(n, 0);
    got.resize((size_t)n);
    EXPECT_EQ(got, want) << want.c_str();
  }
  close(fd);
}

// Fades through the tree with their optional target and seconds: each
// lands on its target on the frame its duration says, at the show's rate;
// without seconds one step a frame. A layer's --set applies as it starts.
TEST(PlayerParams, FadesThroughTheTreeLandOnTheirFrames) {
  PlayerOptions opt;
  auto player = open_player({"--size", "32x24", "--fps", "20", "layer_gen", PLAYER_DATA_DIR "/ant.png",
                             "--set", "scale=0.5", "--set", "pos=3,4"}, opt);
  ASSERT_NE(player, nullptr);
  Layer *ant = player->controls()->layer(1);
  int x, y;
  ant->position(x, y);
  EXPECT_EQ(std::make_tuple(ant->get_scale(), x, y), std::make_tuple(0.5, 3, 4)) << "--set";
  const struct {
    const char *path;
    ControlArgs args;
    int frames, alpha;  // after that many frames
  } rows[] = {
      {"/layer/2/fade/out", {ControlArg::number(0), ControlArg::number(1.5)}, 30, 0},
      {"/layer/2/fade/in", {ControlArg::string(""), ControlArg::number(0.5)}, 0, 0},  // refused
      {"/layer/2/fade/in", {ControlArg::number(0.5), ControlArg::number(0.25)}, 5, 128},
      {"/layer/2/fade/out", {ControlArg::number(0.2), ControlArg::number(0)}, 1, 51},
      {"/layer/2/fade", {}, 255 - 51, 255},  // the toggle (key f): back in to the look
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.path);
    std::string said, why;
    const ControlStatus st = player->controls()->set(r.path, r.args, said, why);
    if (!r.frames) {
      EXPECT_EQ(st, ControlStatus::bad_value);
      continue;
    }
    ASSERT_EQ(st, ControlStatus::done) << why;
    for (int i = 1; i < r.frames; i++) {
      ASSERT_TRUE(player->step());
      ASSERT_NE((int)ant->alpha, r.alpha) << "early, at frame " << i;
    }
    ASSERT_TRUE(player->step());
    EXPECT_EQ((int)ant->alpha, r.alpha);
  }
  EXPECT_EQ((int)ant->blit, (int)BLIT_RGB) << "its mode back";
}

}  // namespace
