// The intro program as its users run it: as a process, in a scratch
// working directory, headless or in a private X server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "intro_harness.h"

namespace {

const std::vector<std::string> kAllData = {"tolvek-climax.xm", "ant.png", "code.png", "dio.c"};

std::vector<std::string> without(const std::string &file) {
  std::vector<std::string> v;
  for (const std::string &f : kAllData)
    if (f != file) v.push_back(f);
  return v;
}

// An installed data directory would be searched too and hide what these
// tests take away.
bool installed_data_present() {
  struct stat st;
  return stat("/usr/local/share/orvanta", &st) == 0;
}

void sleep_s(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

// Headless, with SDL's dummy audio: music "plays" into nothing.
std::map<std::string, std::string> headless() {
  return {{"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}};
}

// In the X server, audio into nothing.
std::map<std::string, std::string> in_window(const it::XServer &x) {
  return {{"SDL_VIDEODRIVER", "x11"}, {"DISPLAY", x.display()}, {"SDL_AUDIODRIVER", "dummy"}};
}

#define REQUIRE_NO_INSTALLED_DATA()                                        \
  if (installed_data_present())                                            \
  GTEST_SKIP() << "/usr/local/share/orvanta exists and would be searched"

}  // namespace

// ---------------------------------------------------------------------------
// Set-up failures: a clear message and a failure status, fast
// ---------------------------------------------------------------------------
TEST(IntroSetup, MissingPictureStopsAtItsAssertion) {
  REQUIRE_NO_INSTALLED_DATA();
  it::WorkDir dir("no_code_png");
  dir.stage(without("code.png"));
  it::Process p(it::intro_program(), dir.path, headless());
  int status = p.wait(60);
  std::string log = p.log();
  EXPECT_NE(status, 0);
  EXPECT_NE(status, -2000) << "still running";
  EXPECT_NE(log.find("image not found: code.png"), std::string::npos) << log;
  EXPECT_NE(log.find("vrel:209: failed assertion `numeri'"), std::string::npos) << log;
  // The other picture was found in the working directory.
  EXPECT_EQ(log.find("image not found: ant.png"), std::string::npos);
}

TEST(IntroSetup, MissingMusicStopsAtItsAssertion) {
  REQUIRE_NO_INSTALLED_DATA();
  it::WorkDir dir("no_music");
  dir.stage(without("tolvek-climax.xm"));
  it::Process p(it::intro_program(), dir.path, headless());
  int status = p.wait(60);
  std::string log = p.log();
  EXPECT_NE(status, 0);
  EXPECT_NE(status, -2000);
  EXPECT_EQ(it::first_missing_in_order(
                log, {"music file not found: tolvek-climax.xm",
                      "music file not found: /usr/local/share/orvanta/tolvek-climax.xm",
                      "music file not found: data/tolvek-climax.xm",
                      "vrel:196: failed assertion `climax'"}),
            "")
      << log;
}

TEST(IntroSetup, MusicFoundInDataFolderLogsTheBareName) {
  REQUIRE_NO_INSTALLED_DATA();
  // Data only under data/, dio.c (read from the working directory) too.
  it::WorkDir dir("data_folder");
  std::string cmd = "mkdir -p '" + dir.path + "/data' && cp '" + it::data_dir() +
                    "'/tolvek-climax.xm '" + it::data_dir() + "'/*.png '" + dir.path +
                    "/data/' && cp '" + it::data_dir() + "/dio.c' '" + dir.path + "/'";
  ASSERT_EQ(system(cmd.c_str()), 0);
  it::Process p(it::intro_program(), dir.path, headless());
  ASSERT_TRUE(p.wait_for("scene 1", 90)) << p.log();
  EXPECT_NE(p.log().find("loaded tolvek-climax.xm ch:"), std::string::npos) << p.log();
  EXPECT_TRUE(p.running());
  EXPECT_EQ(p.log().find("image not found"), std::string::npos) << p.log();
}

TEST(IntroSetup, NoSoundDeviceEndsWithMinusOne) {
  it::WorkDir dir("no_sound");
  dir.stage(kAllData);
  // No SDL audio driver forced, an ALSA configuration without devices and
  // no sound server: the library finds no output.
  std::string conf = dir.path + "/empty-asound.conf";
  FILE *f = fopen(conf.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("# no devices\n", f);
  fclose(f);
  it::Process p(it::intro_program(), dir.path,
                {{"SDL_VIDEODRIVER", "dummy"},
                 {"SDL_AUDIODRIVER", ""},
                 {"ALSA_CONFIG_PATH", conf},
                 {"PULSE_SERVER", "unix:/nonexistent"},
                 {"PIPEWIRE_REMOTE", "/nonexistent"},
                 {"AUDIODEV", "/nonexistent"}});
  int status = p.wait(60);
  std::string log = p.log();
  EXPECT_EQ(status, 255) << log;
  EXPECT_NE(log.find("aiacristo! mikmod error: "), std::string::npos) << log;
}

// ---------------------------------------------------------------------------
// Keys and signals, in a real window
// ---------------------------------------------------------------------------
// On a loaded machine the window may not be taking input yet when the first
// press is sent; a key that arrives is acted on within a few steps, so a
// press is repeated only when nothing happened for a while.
static int press_until_exit(it::XServer &x, it::Process &p, const char *key) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (!x.key(key)) return -4000;
    int status = p.wait(15);
    if (status != -2000) return status;
  }
  return -2000;
}

TEST(IntroKeys, EscapeEndsWithStatusOne) {
  it::XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  it::WorkDir dir("escape");
  dir.stage(kAllData);
  it::Process p(it::intro_program(), dir.path, in_window(x));
  ASSERT_TRUE(p.wait_for("scene 1", 90)) << p.log();
  // Acted on at the end of a step; events the window got before it are
  // read one per step first.
  int status = press_until_exit(x, p, "Escape");
  EXPECT_EQ(status, 1) << p.log();
  EXPECT_EQ(p.log().find("scene 5"), std::string::npos);
}

TEST(IntroKeys, InterruptWaitsForAKeyPress) {
  it::XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  it::WorkDir dir("sigint");
  dir.stage(kAllData);
  it::Process p(it::intro_program(), dir.path, in_window(x));
  ASSERT_TRUE(p.wait_for("scene 1", 90)) << p.log();
  p.signal(SIGINT);
  sleep_s(6);
  EXPECT_TRUE(p.running()) << "a signal alone must not stop the intro";
  int status = press_until_exit(x, p, "a");
  EXPECT_EQ(status, 1) << p.log();
}
