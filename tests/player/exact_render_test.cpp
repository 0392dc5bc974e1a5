// One show with every kind of change, rendered again and again while the
// processor is busy: the same bytes every time, each change in the frame it
// is recorded at, a video layer's every frame the one FFmpeg's own decode
// gives for its time, and a frei0r source and filter handed frame k at
// time k / rate (clock0r paints what it is given).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

// Threads spinning while the object lives: a machine busy with others.
class Load {
 public:
  Load() {
    const unsigned n = std::max(2u, 2 * std::thread::hardware_concurrency());
    for (unsigned i = 0; i < n; i++)
      spinners_.emplace_back([this] {
        volatile uint64_t spins = 0;
        while (!stop_) spins = spins + 1;
      });
  }
  ~Load() {
    stop_ = true;
    for (std::thread &t : spinners_) t.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> spinners_;
};

struct Change {
  int frame;
  const char *path, *value;
};

// Layers bottom first: 1 clock0r over the screen, 2 the clip in the middle,
// 3 a picture under clock0r_fx, 4 a picture moved, faded and blitted.
const Change kChanges[] = {
    {3, "/layer/4/alpha", "0.5"},          {4, "/osd/top", "\"frame-exact\""},
    {5, "/layer/2/video/seek", "2"},       {6, "/layer/1/param/level", "0.2"},
    {8, "/layer/4/pos", "250 190"},        {9, "/layer/2/video/speed", "2"},
    {11, "/layer/4/blit", "add"},          {13, "/layer/2/video/pause", "true"},
    {16, "/layer/2/video/pause", "false"}, {18, "/layer/2/video/restart", ""},
    {19, "/layer/2/video/speed", "0.5"},   {22, "/layer/1/param/level", "0.6"},
};
constexpr int kFrames = 26;
constexpr int kClipRate = 24, kClipW = 160, kClipH = 120;

std::string show_text(int fps, const std::string &clip) {
  std::string s = "size 320x240\nfps " + std::to_string(fps) +
                  "\nlayer frei0r.clock0r\nlayer " + clip +
                  "\nlayer " PLAYER_PNGSUITE "/basn2c08.png --effect frei0r.clock0r_fx --pos 280,40"
                  "\nlayer " PLAYER_PNGSUITE "/basn6a08.png --pos 240,180\n";
  for (const Change &c : kChanges)
    s += std::to_string(c.frame) + " " + c.path + " " + c.value + "\n";
  return s + std::to_string(kFrames) + " end\n";
}

// The clip's frame due at each frame: a seek or a restart sets the time for
// the frame it is at; a speed or a pause shapes the step into its frame.
std::vector<int> clip_frames_due(int fps) {
  std::vector<int> due;
  double at = 0, speed = 1;  // in clip frames
  bool paused = false;
  for (int k = 0; k < kFrames; k++) {
    bool jumped = false;
    for (const Change &c : kChanges) {
      if (c.frame != k) continue;
      const std::string path = c.path;
      if (path == "/layer/2/video/seek") at = atof(c.value) * kClipRate, jumped = true;
      if (path == "/layer/2/video/restart") at = 0, jumped = true;
      if (path == "/layer/2/video/speed") speed = atof(c.value);
      if (path == "/layer/2/video/pause") paused = std::string(c.value) == "true";
    }
    if (k > 0 && !jumped && !paused) at += speed * kClipRate / fps;
    due.push_back((int)std::floor(at + 1e-6));
  }
  return due;
}

// clock0r's level in effect at frame k, as the grey it paints.
int level_grey(int k) {
  double level = 0;
  for (const Change &c : kChanges)
    if (c.frame <= k && std::string(c.path) == "/layer/1/param/level") level = atof(c.value);
  return (int)(level * 255 + 0.5);
}

long long painted_time(const kt::Picture &p, int x, int y) {
  const uint8_t *c = p.at(x, y);
  if (!(c[0] & 0x80)) return -1;  // not clock0r's time
  return ((long long)(c[0] & 0x7f) << 16) | (c[1] << 8) | c[2];
}

std::string crop_clip(const kt::Picture &p) {
  std::string out;
  for (int y = 0; y < kClipH; y++)
    out.append((const char *)p.at(80, 60 + y), (size_t)kClipW * 3);
  return out;
}

// The capture's file of frame k (from 0).
std::string frame_file(int k) {
  char name[32];
  snprintf(name, sizeof name, "/frame_%06d.png", k + 1);
  return name;
}

class ExactRender : public ::testing::TestWithParam<int> {};

TEST_P(ExactRender, EveryChangeLandsOnItsFrameInEveryRenderUnderLoad) {
  const int fps = GetParam();
  kt::TempDir dir;
  const std::string clip = dir.path + "/clip.mp4";
  ASSERT_EQ(system(("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=s=160x120:r=24:d=4 "
                    "-pix_fmt yuv420p -crf 12 -g 12 " + clip).c_str()), 0);
  const std::string show = dir.path + "/show.txt";
  std::ofstream(show) << show_text(fps, clip);
  setenv("FREI0R_PATH", PLAYER_CLOCK0R_DIR, 1);

  constexpr int kRenders = 3;
  std::vector<std::vector<std::vector<uint8_t>>> renders(kRenders);
  {
    Load load;
    for (int r = 0; r < kRenders; r++) {
      const std::string out = dir.path + "/r" + std::to_string(r);
      const std::string said = kt::output_of(PLAYER_PROGRAM " -q --replay " + show +
                                             " --capture " + out + " --format png 2>&1; echo status $?");
      ASSERT_TRUE(kt::contains(said, "status 0")) << said;
      for (int k = 0; k <= kFrames; k++) {
        std::vector<uint8_t> bytes = kt::read_file(out + frame_file(k));
        if (bytes.empty()) break;
        renders[r].push_back(std::move(bytes));
      }
    }
  }
  ASSERT_EQ(renders[0].size(), (size_t)kFrames);
  for (int r = 1; r < kRenders; r++)
    for (int k = 0; k < kFrames; k++)
      EXPECT_TRUE(renders[r][k] == renders[0][k]) << "render " << r << " frame " << k;

  std::vector<kt::Picture> frames;
  for (int k = 0; k < kFrames; k++) {
    frames.push_back(kt::read_png(dir.path + "/r0" + frame_file(k)));
    ASSERT_EQ(frames.back().w, 320);
  }

  // The frei0r source and filter: frame k at k / fps, frame 0 too (not
  // black), the level from the frame it is set at.
  for (int k = 0; k < kFrames; k++) {
    SCOPED_TRACE("frame " + std::to_string(k));
    const long long us = std::llround(k * 1e6 / fps);
    EXPECT_EQ(painted_time(frames[k], 4, 100), us) << "source";
    EXPECT_EQ(painted_time(frames[k], 290, 45), us) << "filter";
    EXPECT_EQ(frames[k].at(4, 130)[0], level_grey(k));
  }

  // The picture's alpha, position and blit: each in its frame, the frame
  // before as the one before it.
  const struct {
    int frame, x, y;
  } still[] = {{3, 241, 181}, {8, 241, 181}, {11, 255, 195}};
  for (const auto &s : still) {
    SCOPED_TRACE("frame " + std::to_string(s.frame));
    auto px = [&](int k) {
      const uint8_t *c = frames[k].at(s.x, s.y);
      return std::make_tuple(c[0], c[1], c[2]);
    };
    EXPECT_NE(px(s.frame), px(s.frame - 1));
    EXPECT_EQ(px(s.frame - 1), px(s.frame - 2));
  }

  // The clip: every frame the one due, against its neighbours in the clip.
  const std::string decoded =
      kt::output_of("ffmpeg -v error -nostdin -i " + clip + " -f rawvideo -pix_fmt rgb24 -");
  const size_t size = (size_t)kClipW * kClipH * 3;
  ASSERT_EQ(decoded.size(), 96 * size);
  auto source = [&](int n) { return decoded.substr(n * size, size); };
  const std::vector<int> due = clip_frames_due(fps);
  for (int k = 0; k < kFrames; k++) {
    SCOPED_TRACE("frame " + std::to_string(k) + ", clip frame " + std::to_string(due[k]));
    const std::string got = crop_clip(frames[k]);
    EXPECT_GT(kt::psnr(got, source(due[k])), 40);
    if (due[k] > 0) {
      EXPECT_LT(kt::psnr(got, source(due[k] - 1)), 30);
    }
    EXPECT_LT(kt::psnr(got, source(due[k] + 1)), 30);
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, ExactRender, ::testing::Values(24, 30));

}  // namespace
