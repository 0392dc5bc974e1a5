// orvanta-capture: the intro's programme on a virtual clock, written to
// files. Short captures of its beginning, checked for format, length of
// sound against pictures, and reproducibility.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "capture.h"
#include "intro_harness.h"
#include "test_support.h"

namespace {

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

const std::vector<std::string> kData = {"tolvek-climax.xm", "ant.png", "code.png", "dio.c"};

struct Capture {
  int status = -1;
  std::string log, dir;
};

Capture run_capture(const std::string &name, const std::vector<std::string> &args) {
  it::WorkDir wd(name);
  wd.stage(kData);
  wd.stage_plugin();
  std::vector<std::string> a = {"--out", wd.path + "/out", "--quiet", "--format", "y4m"};
  a.insert(a.end(), args.begin(), args.end());
  it::Process p(it::capture_program(), wd.path, {}, a);
  Capture c;
  c.status = p.wait(180);
  c.log = p.log();
  c.dir = wd.path + "/out";
  return c;
}

// Frames of a y4m stream of 640x480 4:2:0: hash of each frame's planes.
std::vector<uint64_t> y4m_frames(const std::string &data, std::string &header) {
  std::vector<uint64_t> hashes;
  size_t eol = data.find('\n');
  if (eol == std::string::npos) return hashes;
  header = data.substr(0, eol);
  const size_t planes = 640 * 480 * 3 / 2;
  size_t pos = eol + 1;
  while (pos < data.size()) {
    if (data.compare(pos, 6, "FRAME\n") != 0 || pos + 6 + planes > data.size()) {
      hashes.push_back(0);  // broken frame
      break;
    }
    hashes.push_back(kt::fnv1a(data.data() + pos + 6, planes));
    pos += 6 + planes;
  }
  return hashes;
}

}  // namespace

TEST(CaptureConversion, StudioRangeOfPrimaries) {
  // 2x2 pictures of one colour: BT.601 studio-range values.
  struct Case {
    uint8_t b, g, r;
    int y, u, v;
  } cases[] = {{0, 0, 0, 16, 128, 128},      {255, 255, 255, 235, 128, 128},
               {0, 0, 255, 82, 90, 240},     {0, 255, 0, 145, 54, 34},
               {255, 0, 0, 41, 240, 110}};
  for (const Case &c : cases) {
    uint8_t px[2 * 2 * 4];
    for (int i = 0; i < 4; i++) {
      px[i * 4] = c.b;
      px[i * 4 + 1] = c.g;
      px[i * 4 + 2] = c.r;
      px[i * 4 + 3] = 0x5A;  // the fourth byte plays no part
    }
    uint8_t y[4], u, v;
    capture::bgrx_to_yuv420(px, 8, 2, 2, y, &u, &v);
    for (int i = 0; i < 4; i++) EXPECT_NEAR(y[i], c.y, 1) << (int)c.r << "," << (int)c.g;
    EXPECT_NEAR(u, c.u, 1) << (int)c.r << "," << (int)c.g << "," << (int)c.b;
    EXPECT_NEAR(v, c.v, 1) << (int)c.r << "," << (int)c.g << "," << (int)c.b;
  }
}

TEST(CaptureConversion, AudioSamplesAddUpPerSecond) {
  // 44100 / 24 is not whole: the frames share the remainder so that every
  // 24 frames are exactly one second of sound.
  int64_t total = 0;
  for (int f = 0; f < 24 * 10; f++) {
    int n = capture::samples_in(f);
    EXPECT_TRUE(n == 1837 || n == 1838) << n;
    total += n;
    if ((f + 1) % 24 == 0) {
      EXPECT_EQ(total, (int64_t)(f + 1) / 24 * 44100);
    }
  }
  EXPECT_EQ(capture::usec_at(24), 1000000);
  EXPECT_EQ(capture::usec_at(1), 41666);
}

TEST(CaptureProgram, HelpAndBadOptions) {
  it::WorkDir wd("capture_help");
  {
    it::Process p(it::capture_program(), wd.path, {}, {"--help"});
    EXPECT_EQ(p.wait(30), 0);
    EXPECT_NE(p.log().find("--format"), std::string::npos) << p.log();
  }
  for (const std::vector<std::string> &bad : std::vector<std::vector<std::string>>{
           {"--format", "avi"}, {"--seconds", "0"}, {"--seed", "x"}, {"--nonsense"}, {"extra"}}) {
    it::Process p(it::capture_program(), wd.path, {}, bad);
    EXPECT_EQ(p.wait(30), 2) << bad[0] << "\n" << p.log();
  }
}

TEST(CaptureProgram, SameSeedSameFramesAndSound) {
  Capture a = run_capture("capture_a", {"--seconds", "6", "--seed", "42"});
  Capture b = run_capture("capture_b", {"--seconds", "6", "--seed", "42"});
  Capture c = run_capture("capture_c", {"--seconds", "6", "--seed", "43"});
  ASSERT_EQ(a.status, 0) << a.log;
  ASSERT_EQ(b.status, 0) << b.log;
  ASSERT_EQ(c.status, 0) << c.log;

  std::string header;
  std::vector<uint64_t> fa = y4m_frames(slurp(a.dir + "/orvanta.y4m"), header);
  EXPECT_EQ(header, "YUV4MPEG2 W640 H480 F24:1 Ip A1:1 C420jpeg");
  std::vector<uint64_t> fb = y4m_frames(slurp(b.dir + "/orvanta.y4m"), header);
  std::vector<uint64_t> fc = y4m_frames(slurp(c.dir + "/orvanta.y4m"), header);
  ASSERT_EQ(fa.size(), 6u * 24 + 1);
  ASSERT_EQ(fb.size(), fa.size());
  EXPECT_EQ(fa, fb) << "two captures with one seed differ";
  EXPECT_NE(fa, fc) << "the seed changes nothing";
  // The picture moves: not one frame repeated all along.
  EXPECT_NE(fa.front(), fa.back());

  // The sound: exactly the frames' length, the same for the same seed
  // (the music does not depend on it), and the music has begun.
  std::string wa = slurp(a.dir + "/orvanta.wav"), wb = slurp(b.dir + "/orvanta.wav");
  ASSERT_GT(wa.size(), 44u);
  EXPECT_EQ(wa.compare(0, 4, "RIFF"), 0);
  uint32_t data_len;
  memcpy(&data_len, &wa[40], 4);
  EXPECT_EQ(data_len, (6u * 24 + 1) * 44100 / 24 * 4);
  EXPECT_EQ(wa.size(), 44 + (size_t)data_len);
  EXPECT_EQ(wa, wb);
  it::AudioStats st = it::analyse_s16(a.dir + "/orvanta.wav", 44100, 2);  // header as noise: tiny
  EXPECT_GE(st.loud_seconds, 2) << "no music in the first six seconds";
}

TEST(CaptureProgram, PngSequence) {
  Capture a = run_capture("capture_png", {"--seconds", "1", "--format", "png"});
  ASSERT_EQ(a.status, 0) << a.log;
  for (int n : {1, 25}) {
    char name[64];
    snprintf(name, sizeof name, "/frame_%06d.png", n);
    std::string png = slurp(a.dir + name);
    ASSERT_GT(png.size(), 33u) << name;
    EXPECT_EQ(png.compare(1, 3, "PNG"), 0);
    // IHDR: 640 x 480, 8-bit RGB.
    const uint8_t *ihdr = (const uint8_t *)png.data() + 16;
    EXPECT_EQ((ihdr[0] << 24) | (ihdr[1] << 16) | (ihdr[2] << 8) | ihdr[3], 640);
    EXPECT_EQ((ihdr[4] << 24) | (ihdr[5] << 16) | (ihdr[6] << 8) | ihdr[7], 480);
    EXPECT_EQ(ihdr[8], 8);
    EXPECT_EQ(ihdr[9], 2);
  }
  EXPECT_TRUE(slurp(a.dir + "/frame_000026.png").empty()) << "more frames than asked for";
}
