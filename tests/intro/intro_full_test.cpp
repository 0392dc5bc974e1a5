// The whole programme in a private X server, in real time, with the music
// captured: what only a real window and a real clock show. The programme's
// content, frame by frame, is checked on a virtual clock elsewhere.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "intro_harness.h"

TEST(IntroProgramme, PlaysToTheEndWithPictureAndSound) {
  it::XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  it::WorkDir dir("full_run");
  dir.stage({"tolvek-climax.xm", "ant.png", "code.png", "dio.c"});
  dir.stage_plugin();
  // SDL's disk audio driver, which libmikmod's SDL output uses, writes the
  // mix into a file at the pace of a real device.
  const std::string raw = dir.path + "/music.raw";
  std::map<std::string, std::string> env = {{"SDL_AUDIODRIVER", "disk"},
                                            {"SDL_DISKAUDIOFILE", raw},
                                            {"SDL_VIDEODRIVER", "x11"},
                                            {"DISPLAY", x.display()}};
  // A sanitizer build's leak report (inside the X libraries) must not
  // change the exit status; plain builds ignore the variable.
  const char *lsan = getenv("LSAN_OPTIONS");
  env["LSAN_OPTIONS"] = std::string(lsan ? lsan : "") + ":exitcode=0";
  it::Process p(it::intro_program(), dir.path, env);

  // The window, named after the event, the size of the screen it fills.
  ASSERT_TRUE(p.wait_for("scene 1", 120)) << p.log();
  it::WorkDir info_dir("full_run_windows");
  it::Process info("/usr/bin/xwininfo", info_dir.path, {},
                   {"-display", x.display(), "-root", "-tree"});
  ASSERT_EQ(info.wait(60), 0) << info.log();
  const std::string tree = info.log();
  const size_t win = tree.find("\"Orvanta 2004\"");
  ASSERT_NE(win, std::string::npos) << tree;
  EXPECT_NE(tree.substr(win, tree.find('\n', win) - win).find(" 640x480+"), std::string::npos)
      << tree;

  // The watchdog: the programme lasts about four minutes.
  const int status = p.wait(400);
  const std::string log = p.log();
  ASSERT_EQ(status, 0) << log;

  // "[*] <frames> frames in <seconds> seconds": 24 frames a second at most.
  // A busy machine drops frames (the rate limiter never catches up late
  // ones): some, not half of them.
  unsigned long frames = 0;
  double seconds = 0;
  const size_t at = log.find(" frames in ");
  ASSERT_NE(at, std::string::npos) << log;
  ASSERT_EQ(sscanf(log.c_str() + log.rfind('\n', at) + 1, "[*] %lu frames in %lf", &frames,
                   &seconds), 2) << log;
  ASSERT_GT(seconds, 0);
  EXPECT_GE(frames / seconds, 12.0) << frames << " frames in " << seconds << " s";
  EXPECT_LE(frames / seconds, 24.5) << frames << " frames in " << seconds << " s";

  // 44100 Hz stereo, the intro's mixer settings: music all through (the
  // device's pace slips on a busy machine too).
  it::AudioStats st = it::analyse_s16(raw, 44100, 2);
  ASSERT_TRUE(st.ok) << "no capture at " << raw;
  EXPECT_GE(st.seconds, 120);
  EXPECT_GE(st.loud_seconds, st.seconds - 10) << st.seconds << " s captured";
  remove(raw.c_str());
}
