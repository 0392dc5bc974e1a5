// A show whose stack changes as it plays: names looked up in the bank and
// nowhere else, the four changes as the programme shows them, settings
// kept across a change of source, a recorded show played again frame for
// frame, and the frame loop going on while a big clip loads.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <functional>

#include "bank.h"
#include "png_writer.h"
#include "replay.h"
#include "player_fixture.h"
#include "test_support.h"

namespace {

using Colour = std::array<uint8_t, 3>;  // r g b
const Colour kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kBlack{0, 0, 0};

// A w x h picture of one colour.
void write_png(const std::string &path, int w, int h, Colour c) {
  std::vector<uint8_t> bgrx((size_t)w * h * 4);
  for (size_t i = 0; i < bgrx.size(); i += 4) {
    bgrx[i] = c[2];
    bgrx[i + 1] = c[1];
    bgrx[i + 2] = c[0];
    bgrx[i + 3] = 255;
  }
  std::string err;
  ASSERT_TRUE(capture::save_png(path, bgrx.data(), w, h, w * 4, err)) << err;
}

// The programme's pixel at (x, y), as r g b.
Colour pixel(Player &p, int x, int y) {
  ViewPort *s = p.context()->screen.get();
  const uint8_t *px = (const uint8_t *)s->get_surface() + (size_t)y * s->pitch + (size_t)x * 4;
  return {px[2], px[1], px[0]};
}


ControlStatus set(Player &p, const std::string &path, ControlArgs args, std::string *why_out = nullptr) {
  std::string said, why;
  const ControlStatus st = p.controls()->set(path, args, said, why);
  if (why_out) *why_out = why;
  return st;
}
ControlArg text(const std::string &s) { return ControlArg::string(s); }

// blue.png fills a 64x48 screen; red.png and green.png are 16x16; a
// folder bank and a file bank beside it.
struct Pictures {
  kt::TempDir dir;
  std::string clips, blue, red, green, outside;
  Pictures() {
    clips = dir.path + "/clips";
    mkdir(clips.c_str(), 0755);
    mkdir((dir.path + "/other").c_str(), 0755);
    blue = dir.path + "/blue.png";
    red = clips + "/red.png";
    green = clips + "/green.png";
    outside = dir.path + "/other/outside.png";
    write_png(blue, 64, 48, kBlue);
    write_png(red, 16, 16, kRed);
    write_png(green, 16, 16, kGreen);
    write_png(outside, 16, 16, kGreen);
    kt::write_file(clips + "/notes.txt", {'h', 'i'});
  }
};

// ---------------------------------------------------------------------------
// The bank
// ---------------------------------------------------------------------------
TEST(Bank, HoldsItsFilesAndTheSourcesThatLoadNothingAndRefusesTheRest) {
  Pictures pics;
  Bank bank;
  std::string err;
  ASSERT_TRUE(bank.add(pics.clips, err)) << err;
  ASSERT_TRUE(bank.add(pics.blue, err)) << err;
  const struct Row {
    std::string name, source;  // "" : refused
  } rows[] = {
      {"red.png", pics.red},
      {pics.clips + "/green.png", pics.green},  // by the path as given
      {"blue.png", pics.blue},
      {pics.blue, pics.blue},
      {"layer_gen", "layer_gen"},
      {"frei0r.nois0r", "frei0r.nois0r"},
      {"notes.txt", ""},           // in the folder, not a picture
      {"outside.png", ""},         // a picture, not in the bank
      {pics.outside, ""},          // nor by its path
      {pics.clips + "/../other/outside.png", ""},
      {"clips", ""},
      {"/etc/passwd", ""},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    std::string source, why;
    const bool found = bank.find(r.name, source, why);
    EXPECT_EQ(found, !r.source.empty());
    if (found) EXPECT_EQ(source, r.source);
    else EXPECT_EQ(why, r.name + ": not in the bank (--bank names what a show may load)");
  }
  // What a bank cannot hold, refused as --bank is read.
  const std::string empty = pics.dir.path + "/empty";
  mkdir(empty.c_str(), 0755);
  for (const auto &[path, said] :
       {std::make_pair(pics.dir.path + "/none", std::string(": No such file or directory")),
        std::make_pair(empty, std::string(": no picture or clip the player loads in it")),
        std::make_pair(pics.clips + "/notes.txt", std::string(": not a picture or clip the player loads"))}) {
    Bank refusing;
    EXPECT_FALSE(refusing.add(path, err));
    EXPECT_EQ(err, "--bank " + path + said);
    EXPECT_TRUE(refusing.files().empty());
  }
}

// A name outside the bank is refused in one line and nothing is opened:
// not even a file that exists (watched for any open).
TEST(StackChanges, ANameOutsideTheBankOpensNothing) {
  Pictures pics;
  PlayerOptions opt;
  auto p = pt::open_player({"-q", "--size", "64x48", "--bank", pics.clips, pics.blue}, opt);
  ASSERT_NE(p, nullptr);
  p->context()->lockstep = true;
  const int watch = inotify_init1(IN_NONBLOCK);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, pics.outside.c_str(), IN_OPEN | IN_ACCESS), 0);
  const struct Row {
    std::string path;
    ControlArgs args;
    ControlStatus status;
  } rows[] = {
      {"/layer/add", {text("outside.png")}, ControlStatus::bad_value},
      {"/layer/add", {text(pics.outside)}, ControlStatus::bad_value},
      {"/layer/1/source", {text(pics.outside)}, ControlStatus::bad_value},
      {"/layer/add", {text("notes.txt")}, ControlStatus::bad_value},
      {"/layer/add", {ControlArg::number(3)}, ControlStatus::bad_value},
      {"/layer/2/source", {text("red.png")}, ControlStatus::unknown},
      {"/layer/2/remove", {}, ControlStatus::unknown},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.path + (r.args.empty() ? "" : " " + show_token(r.args[0])));
    std::string why;
    EXPECT_EQ(set(*p, r.path, r.args, &why), r.status);
    EXPECT_EQ(why.find('\n'), std::string::npos);
    EXPECT_FALSE(why.empty());
    ASSERT_TRUE(p->step());
    EXPECT_EQ(p->stack().size(), 1u);
    EXPECT_EQ(p->loader()->waiting(), 0u);
  }
  char events[4096];
  EXPECT_LT(read(watch, events, sizeof events), 0) << "outside.png was opened";
  close(watch);
}

// ---------------------------------------------------------------------------
// What the programme shows
// ---------------------------------------------------------------------------
// Rendered in lockstep: each change shows in the frame it is made before.
// Red and green are 16x16 in the middle of a blue 64x48 (above the band
// the window's status line takes).
TEST(StackChanges, EachChangeShowsInTheNextFrame) {
  Pictures pics;
  PlayerOptions opt;
  auto p = pt::open_player({"-q", "--size", "64x48", "--bank", pics.clips, pics.blue}, opt);
  ASSERT_NE(p, nullptr);
  p->context()->lockstep = true;
  const struct Row {
    const char *path;
    ControlArgs args;
    size_t layers;
    Colour middle, corner;  // at (32, 20) and (2, 2)
  } rows[] = {
      {"/layer/add", {text("red.png")}, 2, kRed, kBlue},
      {"/layer/2/pos", {ControlArg::number(0), ControlArg::number(0)}, 2, kBlue, kRed},
      {"/layer/red.png/source", {text(pics.clips + "/green.png")}, 2, kBlue, kGreen},
      {"/layer/add", {text("red.png")}, 3, kRed, kGreen},
      {"/layer/1/move", {ControlArg::number(3)}, 3, kBlue, kBlue},  // blue covers all
      {"/layer/3/move", {ControlArg::number(2)}, 3, kRed, kBlue},
      {"/layer/2/remove", {}, 2, kRed, kGreen},                     // blue gone
      {"/layer/2/remove", {}, 1, kBlack, kGreen},
      {"/layer/1/move", {ControlArg::number(9)}, 1, kBlack, kGreen},  // clamped
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(std::string(r.path) + " before frame " + std::to_string(p->frame()));
    std::string why;
    ASSERT_EQ(set(*p, r.path, r.args, &why), ControlStatus::done) << why;
    ASSERT_TRUE(p->step());
    EXPECT_EQ(p->stack().size(), r.layers);
    EXPECT_EQ(p->context()->layers.length, (int)r.layers);
    EXPECT_EQ(pixel(*p, 32, 20), r.middle);
    EXPECT_EQ(pixel(*p, 2, 2), r.corner);
  }
}

// A new source keeps what the layer was set to.
TEST(StackChanges, ANewSourceKeepsTheLayersSettings) {
  Pictures pics;
  const struct Row {
    const char *setting;
    const char *path;
    ControlArgs args;
    std::function<bool(Layer &)> kept;
  } rows[] = {
      {"alpha", "/layer/2/alpha", {ControlArg::number(0.5)},
       [](Layer &l) { return l.alpha == 128 && l.blit == 9; }},
      {"blit", "/layer/2/blit", {text("ADD")}, [](Layer &l) { return l.blit == 5; }},
      {"blend", "/layer/2/blit", {text("OVER")},
       [](Layer &l) { return l.get_blend() && std::string(l.get_blend()->name()) == "OVER"; }},
      {"position", "/layer/2/pos", {ControlArg::number(3), ControlArg::number(5)},
       [](Layer &l) { return l.geo.x == 3 && l.geo.y == 5; }},
      {"transform", "/layer/2/scale", {ControlArg::number(2)},
       [](Layer &l) { return l.get_scale() == 2; }},
      {"shown", "/layer/2/shown", {ControlArg::number(0)}, [](Layer &l) { return !l.active; }},
      {"fade", "/layer/2/fade/out", {},
       [](Layer &l) { return l.fading_out() && l.fading() && l.alpha < 255 && l.blit == 9; }},
      {"parked blend", "/layer/2/blit", {text("OVER")}, nullptr},  // then ADD: OVER parked
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.setting);
    PlayerOptions opt;
    auto p = pt::open_player({"-q", "--size", "64x48", "--bank", pics.clips, pics.blue, pics.red,
                              "--effect", "frei0r.invert0r"},
                             opt);
    ASSERT_NE(p, nullptr);
    p->context()->lockstep = true;
    ASSERT_TRUE(p->step());  // its thread started: nothing it is set to is undone
    ASSERT_EQ(set(*p, r.path, r.args), ControlStatus::done);
    if (!r.kept) {
      ASSERT_EQ(set(*p, "/layer/2/blit", {text("ADD")}), ControlStatus::done);
    }
    ASSERT_TRUE(p->step());
    Layer *was = p->stack()[1];
    ASSERT_EQ(set(*p, "/layer/2/source", {text("green.png")}), ControlStatus::done);
    ASSERT_TRUE(p->step());
    ASSERT_EQ(p->stack().size(), 2u);
    Layer *now = p->stack()[1];
    ASSERT_NE(now, was);
    EXPECT_STREQ(now->filename, "green.png");
    if (r.kept) {
      EXPECT_TRUE(r.kept(*now));
    } else {
      EXPECT_TRUE(now->blit == 5 && now->own_blend() == "OVER") << now->own_blend();
    }
    EXPECT_EQ(now->filters.length, 1);  // the effect came along
    ASSERT_TRUE(p->step());
  }
}

// A layer removed while its new source loads: the load comes to nothing
// and the rest of the stack plays on.
TEST(StackChanges, ALayerRemovedWhileItsSourceLoadsStaysGone) {
  Pictures pics;
  PlayerOptions opt;
  auto p = pt::open_player({"-q", "--size", "64x48", "--bank", pics.clips, pics.blue, pics.red}, opt);
  ASSERT_NE(p, nullptr);
  ASSERT_TRUE(p->step());
  p->loader()->hold(true);
  ASSERT_EQ(set(*p, "/layer/2/source", {text("green.png")}), ControlStatus::done);
  ASSERT_EQ(set(*p, "/layer/2/remove", {}), ControlStatus::done);
  p->loader()->hold(false);
  for (int i = 0; i < 500 && p->editor()->loading(); i++) ASSERT_TRUE(p->step());
  EXPECT_EQ(p->editor()->loading(), 0u);
  ASSERT_EQ(p->stack().size(), 1u);
  EXPECT_STREQ(p->stack()[0]->filename, "blue.png");
  p->context()->lockstep = true;
  ASSERT_TRUE(p->step());
  EXPECT_EQ(pixel(*p, 32, 20), kBlue);
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------
// The luma a y4m frame has at (x, y).
int luma(const std::string &frame, int w, int x, int y) { return (uint8_t)frame[(size_t)y * w + x]; }
// BT.601 studio range, as the capture writes it.
int luma_of(Colour c) { return (int)(16 + (65.481 * c[0] + 128.553 * c[1] + 24.966 * c[2]) / 255 + 0.5); }

// A live show records each load at the frame it joined, held back meanwhile;
// played again it renders what the show showed, frame for frame, the same
// bytes every time.
TEST(StackChanges, ARecordedShowPlaysAgainFrameForFrame) {
  Pictures pics;
  const std::string show = pics.dir.path + "/show.txt";
  std::vector<Colour> seen;  // the middle of each live frame
  {
    PlayerOptions opt;
    auto p = pt::open_player({"-q", "--size", "64x48", "--fps", "50", "--record", show, "--bank",
                              pics.clips, pics.blue},
                             opt);
    ASSERT_NE(p, nullptr);
    ShowRecorder recorder;
    std::string err;
    ASSERT_TRUE(attach_controls(*p, opt, Show(), recorder, err)) << err;
    auto frame = [&] {
      ASSERT_TRUE(p->step());
      seen.push_back(pixel(*p, 32, 20));
    };
    auto join = [&](size_t layers) {
      for (int i = 0; i < 500 && p->stack().size() != layers; i++) frame();
      ASSERT_EQ(p->stack().size(), layers);
    };
    for (int i = 0; i < 3; i++) frame();
    p->loader()->hold(true);
    ASSERT_EQ(set(*p, "/layer/add", {text("red.png")}), ControlStatus::done);
    for (int i = 0; i < 4; i++) frame();
    p->loader()->hold(false);
    join(2);
    for (int i = 0; i < 3; i++) frame();
    p->loader()->hold(true);
    ASSERT_EQ(set(*p, "/layer/2/source", {text("green.png")}), ControlStatus::done);
    for (int i = 0; i < 4; i++) frame();
    p->loader()->hold(false);
    while (seen.back() == kRed && seen.size() < 600) frame();
    for (int i = 0; i < 3; i++) frame();
    ASSERT_EQ(set(*p, "/layer/1/remove", {}), ControlStatus::done);
    for (int i = 0; i < 3; i++) frame();
    recorder.end(p->frame());
  }
  std::vector<std::string> renders[2];
  for (auto &frames : renders) {
    kt::TempDir out;
    const std::string said = kt::without_sanitizer_notes(kt::output_of(
        PLAYER_PROGRAM " -q --replay " + show + " --capture " + out.path + " --format y4m 2>&1"));
    EXPECT_EQ(said, "");
    frames = kt::y4m_frames(out.path + "/kolvex.y4m");
  }
  ASSERT_EQ(renders[0].size(), seen.size());
  EXPECT_TRUE(renders[0] == renders[1]);
  for (size_t k = 0; k < seen.size(); k++) {
    SCOPED_TRACE("frame " + std::to_string(k));
    EXPECT_NEAR(luma(renders[0][k], 64, 32, 20), luma_of(seen[k]), 3);
  }
}

// ---------------------------------------------------------------------------
// The frame loop while a clip loads
// ---------------------------------------------------------------------------
// A 1080p clip held back in the loader: the show goes on frame after frame
// without it and without waiting for it, and it joins once let go.
TEST(StackChanges, FramesGoOnWhileABigClipLoads) {
  if (system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
  Pictures pics;
  const std::string clip = pics.dir.path + "/big.mp4";
  ASSERT_EQ(system(("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=1920x1080:rate=24 "
                    "-t 1 -c:v libx264 -preset ultrafast -pix_fmt yuv420p " + clip).c_str()),
            0);
  PlayerOptions opt;
  auto p = pt::open_player({"-q", "--size", "64x48", "--fps", "50", "--bank", clip, pics.blue}, opt);
  ASSERT_NE(p, nullptr);
  ASSERT_FALSE(p->context()->lockstep);  // a live show
  // A frame loop that waited for the load would hang here: the test's
  // time limit fails it.
  Loader *loader = p->loader();
  loader->hold(true);
  ASSERT_EQ(set(*p, "/layer/add", {text("big.mp4")}), ControlStatus::done);
  const int64_t asked = p->frame();
  for (int i = 0; i < 12; i++) {
    ASSERT_TRUE(p->step());
    EXPECT_EQ(p->stack().size(), 1u);
  }
  EXPECT_EQ(p->frame() - asked, 12);
  loader->hold(false);
  for (int i = 0; i < 3000 && p->stack().size() == 1; i++) ASSERT_TRUE(p->step());
  ASSERT_EQ(p->stack().size(), 2u);
  EXPECT_GE(p->frame() - asked, 13);
  EXPECT_EQ(loader->waits(), 0u);  // never waited for
  EXPECT_STREQ(p->stack()[1]->filename, "big.mp4");
  for (int i = 0; i < 2; i++) ASSERT_TRUE(p->step());
}

}  // namespace
