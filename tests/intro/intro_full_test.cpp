// The whole programme in a private X server with the audio captured: the
// exit status, the log of set-up and scenes in order, the frame rate, what
// the window shows at chosen moments, and the sound (about four minutes);
// and the programme with its optional parts missing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "intro_harness.h"

namespace {

typedef std::vector<uint8_t> Shot;  // 640 x 480 RGB

// The OSD draws in near-white, 0xFEFEFE: nothing else on screen is exactly that.
bool osd_white(const Shot &s, int x, int y) {
  const uint8_t *p = &s[(y * 640 + x) * 3];
  return p[0] == 0xFE && p[1] == 0xFE && p[2] == 0xFE;
}

int osd_pixels_in_rows(const Shot &s, int y0, int y1) {
  int n = 0;
  for (int y = y0; y <= y1; y++)
    for (int x = 0; x < 640; x++) n += osd_white(s, x, y);
  return n;
}

int lit_pixels(const Shot &s, int threshold) {
  int n = 0;
  for (size_t i = 0; i + 2 < s.size(); i += 3)
    n += (s[i] + s[i + 1] + s[i + 2]) > threshold;
  return n;
}

// Bright pixels per row: the scroller's text lines as a vertical profile.
std::vector<int> row_profile(const Shot &s) {
  std::vector<int> rows(480, 0);
  for (int y = 0; y < 480; y++)
    for (int x = 0; x < 640; x++) {
      const uint8_t *p = &s[(y * 640 + x) * 3];
      rows[y] += (p[0] + p[1] + p[2]) > 600;
    }
  return rows;
}

// The upward shift (pixels) that best maps profile a onto profile b.
int best_upward_shift(const std::vector<int> &a, const std::vector<int> &b) {
  int best = -1;
  long best_score = -1;
  for (int d = 0; d < 200; d++) {
    long score = 0;
    for (int y = d; y < 480; y++) score += (long)a[y] * b[y - d];
    if (score > best_score) {
      best_score = score;
      best = d;
    }
  }
  return best;
}

// The leaks LeakSanitizer reports whose allocation passed through our code
// (a frame in our sources or in the intro program), empty when none. Leaks
// wholly inside system libraries that were unloaded before the report (so
// that not even their names are known) cannot be suppressed by name.
std::string leaks_from_our_code(const std::string &log) {
  std::string ours;
  std::istringstream in(log);
  std::string line, leak;
  bool in_leak = false, counted = false;
  while (std::getline(in, line)) {
    if (line.find("leak of ") != std::string::npos) {
      leak = line;
      in_leak = true;
      counted = false;
      continue;
    }
    if (!in_leak) continue;
    if (line.empty()) {
      in_leak = false;
      continue;
    }
    const bool our_frame = line.find(ORVANTA_TEST_SOURCE_DIR) != std::string::npos ||
                           line.find("(orvanta+") != std::string::npos;
    if (our_frame && !counted) {
      ours += leak + "\n";
      counted = true;
    }
  }
  return ours;
}

void sleep_s(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

}  // namespace

TEST(IntroProgramme, PlaysToTheEndWithPictureAndSound) {
  it::XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  it::WorkDir dir("full_run");
  dir.stage({"tolvek-climax.xm", "ant.png", "code.png", "dio.c"});
  dir.stage_plugin();
  const std::string raw = dir.path + "/music.raw";
  std::map<std::string, std::string> env = it::audio_capture_env(raw);
  env["SDL_VIDEODRIVER"] = "x11";
  env["DISPLAY"] = x.display();
  // In a sanitizer build the leak report is read below instead of ending
  // the run with its own status (plain builds ignore the variable).
  const char *lsan = getenv("LSAN_OPTIONS");
  env["LSAN_OPTIONS"] = std::string(lsan ? lsan : "") + ":exitcode=0";
  it::Process p(it::intro_program(), dir.path, env);

  // Scene 1: the top line of the OSD is lit, the middle one is not.
  ASSERT_TRUE(p.wait_for("scene 1", 120)) << p.log();
  sleep_s(0.8);
  Shot awake = x.screenshot();
  ASSERT_FALSE(awake.empty());
  int top = osd_pixels_in_rows(awake, 122, 137), mid = osd_pixels_in_rows(awake, 182, 197);
  EXPECT_GT(top, 150) << "no OSD text in the top line";
  EXPECT_LT(mid * 3, top) << "OSD middle line lit during scene 1";

  // Scene 3: the blossom has grown over the screen.
  ASSERT_TRUE(p.wait_for("scene 3", 60)) << p.log();
  Shot blossom = x.screenshot();
  ASSERT_FALSE(blossom.empty());
  EXPECT_GT(lit_pixels(blossom, 60), 640 * 480 / 50) << "the generator shows nothing";

  // Scene 16: the closing text rises one pixel per frame.
  ASSERT_TRUE(p.wait_for("scene 16", 240)) << p.log();
  sleep_s(25);
  Shot a = x.screenshot();
  sleep_s(1.0);
  Shot b = x.screenshot();
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  int shift = best_upward_shift(row_profile(a), row_profile(b));
  EXPECT_GE(shift, 12) << "closing scroller not rising";
  EXPECT_LE(shift, 40) << "closing scroller rising too fast";

  int status = p.wait(120);
  std::string log = p.log();
  ASSERT_EQ(status, 0) << log;
  EXPECT_EQ(leaks_from_our_code(log), "") << log;

  std::vector<std::string> order = {"SDL Viewport is 640x480 32bpp",
                                    "loaded tolvek-climax.xm ch:",
                                    "music track by tolvek",
                                    "create_layer succesful"};
  for (int i = 1; i <= 16; i++) order.push_back("scene " + std::to_string(i) + "\n");
  order.push_back(" frames in ");
  EXPECT_EQ(it::first_missing_in_order(log, order), "") << log;
  EXPECT_EQ(log.find("[!] "), std::string::npos) << "an error line:\n" << log;

  unsigned long frames = 0;
  double seconds = 0;
  size_t at = log.rfind("[*] ");
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(sscanf(log.c_str() + log.find(" frames in "), " frames in %lf", &seconds), 1);
  size_t line = log.rfind('\n', log.find(" frames in "));
  ASSERT_EQ(sscanf(log.c_str() + line + 1, "[*] %lu", &frames), 1);
  // About 226 seconds of frames at 24 per second (plus the loading time).
  EXPECT_GE(seconds, 225);
  EXPECT_LE(seconds, 240);
  // A machine busy with other work drops frames (the rate limiter never
  // catches up late frames): allow some, not a different rate.
  EXPECT_GE(frames, 226u * 20) << frames << " frames";
  EXPECT_LE(frames, 226u * 24 + 240) << frames << " frames";

  // 44100 Hz stereo: the mixer settings of the intro.
  it::AudioStats st = it::analyse_s16(raw, 44100, 2);
  ASSERT_TRUE(st.ok) << "no capture at " << raw;
  EXPECT_GE(st.loud_seconds, 220) << st.seconds << " s captured";
  EXPECT_LE(st.seconds, 245) << "audio not at the pace of a real device";
  remove(raw.c_str());
}

// ---------------------------------------------------------------------------
// Optional parts missing: the programme runs on
// ---------------------------------------------------------------------------
TEST(IntroOptional, RunsOnWithoutEffectAndScrollerText) {
  struct stat st;
  if (stat("/usr/local/share/orvanta", &st) == 0)
    GTEST_SKIP() << "/usr/local/share/orvanta exists and would be searched";
  it::WorkDir dir("no_effect");
  dir.stage({"tolvek-climax.xm", "ant.png", "code.png"});  // and no plug-in staged
  it::Process p(it::intro_program(), dir.path, {{"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}});
  ASSERT_TRUE(p.wait_for("scene 1", 90)) << p.log();
  EXPECT_NE(p.log().find("ScrollLayer::open : error opening dio.c"), std::string::npos);
  // Through the scenes of the filter (8 to 10) and the scroller (12).
  EXPECT_TRUE(p.wait_for("scene 13", 200)) << p.log();
  EXPECT_TRUE(p.running());
}
