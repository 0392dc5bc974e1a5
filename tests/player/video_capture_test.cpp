// Video layers through the player's capture: which frame is shown at a
// 25-to-24 rate, across the loop point, at --speed 2, from --start and with
// --once (the frames against FFmpeg's own decode, and the same bytes on
// every run: exact_render_test.cpp).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace
