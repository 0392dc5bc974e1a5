// The program itself: the pixel kernels it picks (KOLVEX_KERNELS obeyed,
// the plain ones making the same stream), and its captures as a user meets
// them: every frame at any rate, signals, failures, what it prints, and
// where it looks for plug-ins.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "blit_dispatch.h"
#include "frame_writer.h"
#include "intro_harness.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

using kt::Picture;
using kt::read_png;
using kt::y4m_frames;

// The player's status; `args` after --quiet --seconds 2, unless `seconds`
// is false.
int kolvex(const std::string &args, const std::string &env = "", bool seconds = true) {
  const std::string cmd = "env -u KOLVEX_KERNELS " + env + " " PLAYER_PROGRAM +
                          (seconds ? " --quiet --seconds 2 " : " ") + args;
  const int status = system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// What `kolvex --version` says of the kernels, stdout and stderr together.
std::string version_with(const std::string &env) {
  return kt::output_of("env -u KOLVEX_KERNELS " + env + " " PLAYER_PROGRAM " --version 2>&1");
}

TEST(PlayerKernels, TheEnvironmentPicksASetTheProcessorRuns) {
  const BlitKernels *sets[kBlitKernelSetsMax];
  const int n = blit_kernel_sets(sets, kBlitKernelSetsMax);
  const std::string best = sets[n - 1]->name;
  for (int i = 0; i < n; i++) {
    const std::string name = sets[i]->name;
    EXPECT_NE(version_with("KOLVEX_KERNELS=" + name).find("pixel kernels: " + name + " ("),
              std::string::npos) << name;
  }
  const struct {
    const char *env;
    bool warned;
  } fallbacks[] = {{"", false}, {"KOLVEX_KERNELS=", false}, {"KOLVEX_KERNELS=neon", true}};
  for (const auto &f : fallbacks) {
    const std::string out = version_with(f.env);
    EXPECT_NE(out.find("pixel kernels: " + best + " ("), std::string::npos) << f.env << out;
    EXPECT_EQ(out.find("[W] KOLVEX_KERNELS=neon is not a kernel set") != std::string::npos,
              f.warned) << f.env << out;
  }
}

// Every mode with a blit kernel and the effect's spans, plain against the
// set in use: the same stream, byte for byte.
TEST(PlayerKernels, PlainKernelsMakeTheSameStream) {
  char tmpl[] = "/tmp/kolvex-kernels-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  const std::string ant = PLAYER_DATA_DIR "/ant.png", code = PLAYER_DATA_DIR "/code.png";
  const std::string stack = "--format y4m --plugin-dir " PLAYER_PLUGIN_DIR " layer_gen " + code +
                            " --blit ADD --effect vertigo " + ant + " --blit SUB --pos -90,-40 " +
                            ant + " --alpha 77 --pos 330,250";
  ASSERT_EQ(kolvex("--capture " + (dir / "plain").string() + " " + stack, "KOLVEX_KERNELS=plain"), 0);
  ASSERT_EQ(kolvex("--capture " + (dir / "best").string() + " " + stack), 0);
  const std::vector<uint8_t> plain = kt::read_file(dir / "plain" / "kolvex.y4m");
  EXPECT_GT(plain.size(), 640u * 480 * 3 / 2 * 49);
  EXPECT_TRUE(plain == kt::read_file(dir / "best" / "kolvex.y4m")) << "the streams differ";
  fs::remove_all(dir);
}

// 171 fps does not divide a million (a slot is 5847.95 us): a long capture
// writes every frame it renders, frame for frame those of 25 fps (the
// generator moves one step a frame at any rate). A plan drifting 0.95 us a
// frame would take a frame as late after about 6160.
TEST(PlayerCapture, EveryFrameWrittenAtRatesThatDoNotDivideAMillion) {
  kt::TempDir dir;
  const std::string common = " --quiet --size 32x32 --format y4m --capture " + dir.path;
  ASSERT_EQ(kolvex("--fps 171 --seconds 40" + common + "/171 layer_gen", "", false), 0);
  ASSERT_EQ(kolvex("--fps 25 --seconds 274" + common + "/25 layer_gen", "", false), 0);
  const std::vector<std::string> fast = y4m_frames(dir.path + "/171/kolvex.y4m");
  const std::vector<std::string> slow = y4m_frames(dir.path + "/25/kolvex.y4m");
  EXPECT_EQ(fast.size(), 40u * 171 + 1);
  ASSERT_EQ(slow.size(), 274u * 25 + 1);
  size_t differ = 0;
  for (size_t i = 0; i < fast.size(); i++) differ += fast[i] != slow[i];
  EXPECT_EQ(differ, 0u);
}

// SIGINT and SIGTERM end a capture after the frame being made: the file
// plays, every frame told is in it, status 1.
TEST(PlayerCapture, SignalsEndTheCaptureWithAFileThatPlays) {
  const bool mp4 = capture::frame_writer_supports("mp4") &&
                   system("ffprobe -version >/dev/null 2>&1") == 0;
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    kt::TempDir dir;
    const std::string file = dir.path + "/out/kolvex." + (mp4 ? "mp4" : "y4m");
    it::Process p(PLAYER_PROGRAM, dir.path, {},
                  {"--seconds", "3600", "--size", "160x120", "--capture", "out", "--format",
                   mp4 ? "mp4" : "y4m", "layer_gen"});
    for (int i = 0; i < 200 && !exists(file + ".part"); i++) usleep(20000);
    usleep(300000);
    p.signal(sig);
    EXPECT_EQ(p.wait(60), 1);
    const std::string log = p.log();
    long long frames = -1;
    const size_t at = log.find("kolvex: interrupted after ");
    ASSERT_NE(at, std::string::npos) << log;
    sscanf(log.c_str() + at, "kolvex: interrupted after %lld frames", &frames);
    EXPECT_GT(frames, 0);
    EXPECT_FALSE(exists(file + ".part"));
    const std::string counted =
        mp4 ? kt::output_of("ffprobe -v error -count_frames -select_streams v -show_entries "
                            "stream=nb_read_frames -of csv=p=0 " + file)
            : std::to_string(y4m_frames(file).size()) + "\n";
    EXPECT_EQ(counted, std::to_string(frames) + "\n");
  }
}

// The first failure ends a capture, naming its frame, with status 1;
// nothing is left under the name of what failed. Without a display a show
// would be invisible: it is not played.
TEST(PlayerCapture, FailuresNameTheFrameAndLeaveNothing) {
  const struct Row {
    const char *name, *env, *args, *part, *message, *absent;
  } rows[] = {
      {"no screen", "SDL_VIDEODRIVER=no-such-driver", "--capture OUT --format y4m", nullptr,
       "kolvex: can't open the screen", "kolvex.y4m"},
      {"disk full at the third picture", "", "--capture OUT --format png",
       "frame_000003.png.part", "/frame_000003.png: No space left on device (frame 3)",
       "frame_000003.png"},
      {"disk full under the stream", "", "--capture OUT --format y4m", "kolvex.y4m.part",
       "/kolvex.y4m: No space left on device", "kolvex.y4m"},
      // SDL falls back to its offscreen driver, whose graphics libraries
      // leak where the leak checker cannot name them: not ours to check.
      {"no display",
       "-u SDL_VIDEODRIVER -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR=/tmp "
       "LSAN_OPTIONS=detect_leaks=0", "", nullptr,
       "kolvex: no display to show the window on", "kolvex-0001.png"},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    kt::TempDir dir;
    const std::string out = dir.path + "/out";
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    if (r.part) {
      ASSERT_EQ(symlink("/dev/full", (out + "/" + r.part).c_str()), 0);
    }
    std::string args = r.args;
    if (args.find("OUT") != std::string::npos) args.replace(args.find("OUT"), 3, out);
    const std::string log = kt::without_sanitizer_notes(
        kt::output_of("cd " + out + " && env " + r.env + " " PLAYER_PROGRAM
                      " --seconds 10 --size 64x48 " + args + " layer_gen 2>&1; echo $?"));
    EXPECT_NE(log.find(r.message), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 2), "1\n") << log;
    // One line, then the status.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_FALSE(exists(out + "/" + r.absent));
    EXPECT_FALSE(exists(out + "/frame_000004.png")) << "went on after the failure";
  }
}

// Rendering again into the folder of an older, longer PNG capture: the
// folder holds the new frames only, and what is not a frame stays.
TEST(PlayerCapture, PngFolderHoldsOnlyTheNewCapture) {
  kt::TempDir dir;
  for (int i = 1; i <= 9; i++) kt::write_file(dir.path + "/frame_00000" + std::to_string(i) + ".png", {});
  for (const char *keep : {"/frame_notes.png", "/frame_0000001.png", "/notes.txt"})
    kt::write_file(dir.path + keep, {1});
  ASSERT_EQ(kolvex("--quiet --seconds 1 --fps 2 --size 64x48 --capture " + dir.path +
                       " --format png layer_gen", "", false), 0);  // 3 frames
  for (int i = 1; i <= 9; i++) {
    const std::string frame = dir.path + "/frame_00000" + std::to_string(i) + ".png";
    EXPECT_EQ(exists(frame), i <= 3) << frame;
    if (i <= 3) {
      EXPECT_EQ(read_png(frame).w, 64) << frame;
    }
  }
  for (const char *keep : {"/frame_notes.png", "/frame_0000001.png", "/notes.txt"})
    EXPECT_TRUE(exists(dir.path + keep)) << keep;
}

// What is printed: the closing line by default, nothing with --quiet, the
// engine's notices and warnings with --verbose (plug-ins that fail to load
// among those scanned).
TEST(PlayerCapture, QuietVerboseAndTheDefault) {
  const struct Row {
    const char *option;
    bool summary, notices;
  } rows[] = {{"", true, false}, {"--quiet", false, false}, {"--verbose", true, true}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.option);
    kt::TempDir dir;
    const std::string cmd = std::string(PLAYER_PROGRAM " ") + r.option +
                            " --seconds 1 --size 64x48 --plugin-dir " PLAYER_FX_DIR
                            " --capture " + dir.path + " --format y4m layer_gen";
    const std::string out = kt::output_of(cmd + " 2>/dev/null");
    const std::string err = kt::without_sanitizer_notes(kt::output_of(cmd + " 2>&1 >/dev/null"));
    EXPECT_EQ(out, r.summary ? "kolvex: 25 frames in " + dir.path + "/kolvex.y4m\n" : "");
    EXPECT_EQ(kt::contains(err, "[*] morvash the Orvanta 1.0 engine"), r.notices) << err;
    EXPECT_EQ(kt::contains(err, "[W] invalid plugin"), r.notices) << err;
    if (!r.notices) {
      EXPECT_EQ(err, "");
    }
  }
}

// A plug-in in the working directory is not loaded unless that directory
// is named: its constructor would run.
TEST(PlayerPlugins, NothingLoadsFromTheWorkingDirectoryUnlessNamed) {
  kt::TempDir dir;
  ASSERT_TRUE(kt::write_file(dir.path + "/notes-darwin.so.bak", kt::read_file(PLAYER_TRAP)));
  const std::string in_dir = "cd " + dir.path + " && " PLAYER_PROGRAM " --quiet ";
  const struct Row {
    std::string args;
    bool fires;
  } rows[] = {{"--list-effects", false},
              {"--seconds 1 --size 64x48 --capture out --format y4m layer_gen", false},
              {"--plugin-dir . --list-effects", true}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.args);
    unlink((dir.path + "/trap-fired").c_str());
    kt::output_of(in_dir + r.args + " 2>&1");
    EXPECT_EQ(exists(dir.path + "/trap-fired"), r.fires);
  }
}

}  // namespace
