// Video layers through the player's capture: which frame is shown at a
// 25-to-24 rate, across the loop point, at --speed 2, from --start and with
// --once (the frames against FFmpeg's own decode, and the same bytes on
// every run: exact_render_test.cpp); a show with one among other layers
// writes the same files on one thread as on four.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class VideoCapture : public ::testing::Test {
 protected:
  std::string clip(const std::string &name, const std::string &source, const std::string &opts) {
    const std::string path = (dir / name).string();
    const std::string cmd = "ffmpeg -v error -nostdin -y -f lavfi -i '" + source + "' " + opts + " " + path;
    EXPECT_EQ(system(cmd.c_str()), 0) << cmd;
    return path;
  }
  // Captures `seconds` of the layers as PNG files into `out`.
  int capture(const std::string &out, int seconds, const std::string &layers,
              const std::string &format = "png") {
    const std::string cmd = PLAYER_PROGRAM " --quiet --seconds " + std::to_string(seconds) +
                            " --capture " + (dir / out).string() + " --format " + format + " " +
                            layers;
    const int status = system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // RGB bytes of every frame of a capture (or any input), through `filter`.
  std::string frames(const std::string &input, const std::string &filter) {
    return kt::output_of("ffmpeg -v error -nostdin " + input + " -vf " + filter +
                         " -f rawvideo -pix_fmt rgb24 -");
  }

  kt::TempDir temp;
  fs::path dir = temp.path;
};

TEST_F(VideoCapture, FrameChosenAtEachRateAcrossTheLoopPointAndOnce) {
  // Frame N of this clip is grey 16 + 8N (limited range): its number shows.
  const std::string path = clip("grey.mkv", "color=c=black:s=16x16:r=25:d=0.4,geq=lum=16+8*N:cb=128:cr=128",
                                "-c:v ffv1");
  struct Row {
    std::string options;
    int speed, start;  // start in clip frames
    bool once;
  } rows[] = {{"", 1, 0, false}, {"--speed 2", 2, 0, false}, {"--once", 1, 0, true},
              {"--start 0.2", 1, 5, false}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.options);
    const std::string out = "cap" + std::to_string(&row - rows);
    ASSERT_EQ(capture(out, 1, path + " " + row.options), 0);
    const std::string got = frames("-i " + (dir / out / "frame_%06d.png").string(), "crop=1:1:320:240");
    ASSERT_EQ(got.size(), 25u * 3);
    for (int k = 0; k < 25; k++) {
      const int source = row.start + k * 25 * row.speed / 24;  // frames of the clip gone by
      const int want = row.once ? std::min(source, 9) : source % 10;
      const int grey = (uint8_t)got[k * 3];
      EXPECT_EQ((int)std::lround(grey * 219.0 / 255 / 8), want) << "frame " << k << " grey " << grey;
    }
  }
}

// A picture turned and scaled, the generator added, a clip half through
// over both, a picture subtracted: y4m and PNG captures with --threads 1
// and --threads 4 are the same files, byte for byte.
TEST_F(VideoCapture, OneThreadOrFourWriteTheSameFiles) {
  // 119 pairs of lines: pieces of the conversion that differ in size.
  const std::string stack =
      "--size 320x238 " PLAYER_DATA_DIR "/code.png --set rotation=30 --set scale=1.5 layer_gen "
      "--blit ADD " + clip("c.mp4", "testsrc2=s=160x120:r=25:d=2", "-pix_fmt yuv420p") +
      " --alpha 128 --pos 60,40 " PLAYER_DATA_DIR "/ant.png --blit SUB --pos 200,150";
  for (const std::string format : {"y4m", "png"}) {
    SCOPED_TRACE(format);
    std::vector<std::string> files[2];
    for (int threads : {1, 4}) {
      const std::string out = format + std::to_string(threads);
      ASSERT_EQ(capture(out, 1, "--threads " + std::to_string(threads) + " " + stack, format), 0);
      std::vector<std::string> &got = files[threads == 4];
      for (const auto &e : fs::directory_iterator(dir / out)) got.push_back(e.path().filename());
      std::sort(got.begin(), got.end());
      for (std::string &name : got) {
        const std::vector<uint8_t> bytes = kt::read_file((dir / out / name).string());
        name += " " + std::to_string(kt::fnv1a(bytes.data(), bytes.size()));
      }
    }
    EXPECT_EQ(files[0].size(), format == "png" ? 25u : 1u);
    EXPECT_EQ(files[0], files[1]);
  }
}

}  // namespace
