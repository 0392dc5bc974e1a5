// The program itself, captured: two seconds of the ant at alpha 128 over
// the particle generator, written as PNG files, and the same generator
// alone to see what lies under the ant. Then the pixel kernels it picks:
// KOLVEX_KERNELS obeyed, and the plain ones making the same stream.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <filesystem>

#include "blit_dispatch.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// Bytes r, g, b a pixel; empty when the file does not decode.
struct Picture {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  const uint8_t *at(int x, int y) const { return &rgb[((size_t)y * w + x) * 3]; }
};

Picture read_png(const std::string &path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture p;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
  image.format = PNG_FORMAT_RGB;
  p.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr)) return Picture();
  p.w = (int)image.width;
  p.h = (int)image.height;
  return p;
}

int kolvex(const std::string &args, const std::string &env = "") {
  const std::string cmd = env + " " PLAYER_PROGRAM " --quiet --seconds 2 " + args;
  const int status = system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PlayerCapture, TwoSecondsOfTheAntHalfOverTheGenerator) {
  char tmpl[] = "/tmp/kolvex-capture-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  const std::string ant_png = PLAYER_DATA_DIR "/ant.png";
  ASSERT_EQ(kolvex("--capture " + (dir / "mix").string() + " --format png layer_gen " +
                   ant_png + " --blit alpha --alpha 128"), 0);
  ASSERT_EQ(kolvex("--capture " + (dir / "gen").string() + " --format png layer_gen"), 0);

  // 2 s at 24 frames a second: frames 0 to 48.
  int frames = 0;
  for (const auto &f : fs::directory_iterator(dir / "mix")) frames += f.path().extension() == ".png";
  EXPECT_EQ(frames, 49);

  const Picture mix = read_png((dir / "mix" / "frame_000025.png").string());
  const Picture gen = read_png((dir / "gen" / "frame_000025.png").string());
  const Picture ant = read_png(ant_png);
  ASSERT_TRUE(mix.w == 640 && gen.w == 640 && ant.w > 0);
  const int x0 = (640 - ant.w) / 2, y0 = (480 - ant.h) / 2;  // centred
  int off = 0;
  for (int y = 0; y < 480; y++) {
    for (int x = 0; x < 640; x++) {
      const bool under = x >= x0 && x < x0 + ant.w && y >= y0 && y < y0 + ant.h;
      for (int c = 0; c < 3; c++) {
        const int g = gen.at(x, y)[c];
        const int want = under ? (ant.at(x - x0, y - y0)[c] * 128 + g * 127) / 255 : g;
        off += abs(mix.at(x, y)[c] - want) > 2;
      }
    }
  }
  EXPECT_EQ(off, 0) << "channels off the blend by more than 2";
  fs::remove_all(dir);
}

// What `kolvex --version` says of the kernels, stdout and stderr together.
std::string version_with(const std::string &env) {
  return kt::output_of(env + " " PLAYER_PROGRAM " --version 2>&1");
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

}  // namespace
