// VideoLayer on a headless engine: clips made here with the ffmpeg command.
// Colours after the stream's matrix and range, the sizes of --fit and
// --fill, the keys on the layer's clock, a file cut short in play, and the
// inputs refused, one line each, as make_layer gives them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "factory.h"
#include "test_support.h"
#include "video_layer.h"

namespace {

namespace fs = std::filesystem;

class VideoLayerTest : public ::testing::Test {
 protected:
  // `name` in the temp dir from a lavfi source and output options.
  std::string clip(const std::string &name, const std::string &source, const std::string &opts) {
    const std::string path = (dir / name).string();
    const std::string cmd =
        "ffmpeg -v error -nostdin -y -f lavfi -i '" + source + "' " + opts + " " + path;
    EXPECT_EQ(system(cmd.c_str()), 0) << cmd;
    return path;
  }

  // A layer made and set up as the player does; null with the reason.
  std::unique_ptr<VideoLayer> play(const std::string &path, VideoOptions o = {}) {
    std::string err;
    LayerPtr l(make_layer(path.c_str(), err));
    std::unique_ptr<VideoLayer> video(dynamic_cast<VideoLayer *>(l.get()));
    EXPECT_TRUE(video) << err;
    if (!video) return nullptr;
    l.release();
    video->set_options(o);
    EXPECT_TRUE(video->init(&engine.ctx));
    return video;
  }

  kt::TempDir temp;
  fs::path dir = temp.path;
  kt::Engine engine;
};

const uint8_t *centre(const Layer &l) {
  return (const uint8_t *)l.feed_buffer.load() + ((size_t)l.geo.h / 2 * l.geo.w + l.geo.w / 2) * 4;
}

TEST_F(VideoLayerTest, ColoursFollowTheStreamsMatrixAndRange) {
  // One colour, encoded losslessly with each matrix and range and tagged
  // so: every file must come back as the same RGB.
  const int r = 0x30, g = 0xA0, b = 0xE0;
  struct Row {
    const char *matrix, *range;
  } rows[] = {{"bt709", "tv"}, {"bt709", "pc"}, {"bt470bg", "tv"}, {"bt470bg", "pc"}};
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.matrix) + " " + row.range);
    char source[128];
    snprintf(source, sizeof source, "color=c=0x%02X%02X%02X:s=32x32:d=0.2", r, g, b);
    const std::string scale = std::string("-vf scale=out_color_matrix=") + row.matrix +
                              ":out_range=" + row.range + ",format=yuv444p -colorspace " +
                              row.matrix + " -color_range " + row.range + " -c:v ffv1";
    auto v = play(clip(std::string(row.matrix) + row.range + ".mkv", source, scale));
    ASSERT_TRUE(v);
    const uint8_t *p = centre(*v);
    EXPECT_NEAR(p[0], b, 3);
    EXPECT_NEAR(p[1], g, 3);
    EXPECT_NEAR(p[2], r, 3);
    EXPECT_EQ(p[3], 0xFF);
  }
}

TEST_F(VideoLayerTest, EveryKindOfClipAPerformerBrings) {
  // A red clip in each container and codec: the layer opens it and shows
  // the red, blue byte first (lossy codecs within a few levels).
  const char *source = "color=c=red:s=64x48:r=25:d=0.4";
  const char *const kinds[][2] = {
      {"h264.mp4", "-c:v libx264 -pix_fmt yuv420p"}, {"vp9.webm", "-c:v libvpx-vp9 -deadline realtime"},
      {"ffv1.mkv", "-c:v ffv1"}, {"h264.mov", "-c:v libx264 -pix_fmt yuv420p"},
      {"mjpeg.avi", "-c:v mjpeg -pix_fmt yuvj420p"}, {"mpeg2.mpg", "-c:v mpeg2video"},
      {"raw.y4m", "-pix_fmt yuv420p"}, {"anim.gif", ""}};
  for (const auto &kind : kinds) {
    SCOPED_TRACE(kind[0]);
    auto v = play(clip(kind[0], source, kind[1]));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->geo.w, 64);
    for (int c = 0; c < 3; c++) EXPECT_NEAR(centre(*v)[c], c == 2 ? 255 : 0, 4);
  }
}

TEST_F(VideoLayerTest, SizesOfTheClipFitAndFill) {
  const std::string wide = clip("wide.mp4", "testsrc2=s=320x120:d=0.2", "-pix_fmt yuv420p");
  struct Row {
    VideoOptions::Size size;
    int w, h, x, y;
  } rows[] = {{VideoOptions::CLIP, 320, 120, 160, 180},
              {VideoOptions::FIT, 640, 240, 0, 120},
              {VideoOptions::FILL, 640, 480, 0, 0}};
  for (const Row &row : rows) {
    VideoOptions o;
    o.size = row.size;
    auto v = play(wide, o);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->geo.w, row.w);
    EXPECT_EQ(v->geo.h, row.h);
    EXPECT_EQ(v->geo.x, row.x);
    EXPECT_EQ(v->geo.y, row.y);
  }
}

TEST_F(VideoLayerTest, KeysMoveTheLayersClockAlone) {
  VideoOptions o;
  o.start = 1;
  auto v = play(clip("k.mp4", "testsrc2=s=64x48:r=25:d=8", "-pix_fmt yuv420p"), o);
  ASSERT_TRUE(v);
  auto press = [&](SDLKey k) {
    SDL_keysym key{};
    key.sym = k;
    return v->keypress(&key);
  };
  Context &ctx = engine.ctx;
  const unsigned long f0 = ctx.frames;
  ctx.frames = f0 + 24;  // one second later
  EXPECT_NEAR(v->time_now(), 2.0, 1e-9);
  // Paused: time stands from this frame on, at the frame before's time.
  EXPECT_TRUE(press(SDLK_k));
  const double held = 2.0 - 1 / 24.0;
  EXPECT_NEAR(v->time_now(), held, 1e-9);
  ctx.frames += 48;
  EXPECT_NEAR(v->time_now(), held, 1e-9);
  EXPECT_TRUE(press(SDLK_k));
  EXPECT_TRUE(press(SDLK_u));  // 1.25 times as fast, this frame already a step on
  EXPECT_EQ(v->key_status(), "speed 1.25x");
  EXPECT_NEAR(v->time_now(), held + 1.25 / 24, 1e-9);
  ctx.frames += 24;
  EXPECT_NEAR(v->time_now(), held + 25 * 1.25 / 24, 1e-9);
  EXPECT_TRUE(press(SDLK_l));  // 5 s on
  EXPECT_NEAR(v->time_now(), 8.25 - 8, 0.05);  // round the 8 s clip
  EXPECT_TRUE(press(SDLK_r));
  EXPECT_NEAR(v->time_now(), 1.0, 1e-9);
  for (SDLKey other : {SDLK_RIGHT, SDLK_x, SDLK_LEFTBRACKET, SDLK_COMMA})  // others' keys
    EXPECT_FALSE(press(other));
}

// Restarts while the decoder rounds a short clip again and again (and
// learns its length meanwhile): each takes the layer back to its start.
TEST_F(VideoLayerTest, RestartsWhileTheClipLoops) {
  auto v = play(clip("loop.mp4", "testsrc2=s=32x24:r=25:d=0.12", "-pix_fmt yuv420p"));
  ASSERT_TRUE(v);
  for (int i = 0; i < 20; i++) {
    v->restart();
    usleep(3000);  // the decoder reaches the end and rounds meanwhile
  }
  EXPECT_EQ(v->time_now(), 0.0);
}

TEST_F(VideoLayerTest, AFileCutShortInPlayKeepsItsLastFrameAndSaysSoOnce) {
  const std::string path = clip("cut.y4m", "testsrc2=s=64x48:r=25:d=2", "-pix_fmt yuv420p");
  VideoOptions o;
  o.once = true;
  auto v = play(path, o);
  ASSERT_TRUE(v);
  engine.ctx.lockstep = true;
  engine.ctx.layers.add(v.get());
  kt::StderrCapture cap;
  ASSERT_EQ(truncate(path.c_str(), 20000), 0);  // gone after a few frames
  for (int i = 0; i < 48; i++) engine.ctx.cafudda(0);
  EXPECT_NE(v->feed_buffer.load(), nullptr);
  engine.ctx.close();  // stops the layer's thread and deletes it
  v.release();
  const std::string log = cap.text();
  size_t lines = 0;
  for (size_t at = 0; (at = log.find(path, at)) != std::string::npos; at++) lines++;
  EXPECT_LE(lines, 1u) << log;
}

TEST_F(VideoLayerTest, BadInputsAreRefusedInOneLineNamingTheFile) {
  const std::string sound = clip("sound.mkv", "sine=d=0.5", "-c:a flac");
  const std::string good = clip("good.mp4", "testsrc2=s=64x48:d=1", "-pix_fmt yuv420p");
  std::vector<uint8_t> bytes = kt::read_file(good);
  std::ofstream((dir / "text.mp4").string()) << "not a video at all\n";
  std::ofstream((dir / "cut.mp4").string(), std::ios::binary)
      .write((const char *)bytes.data(), (std::streamsize)bytes.size() / 3);
  std::ofstream((dir / "huge.y4m").string()) << "YUV4MPEG2 W5000 H5000 F25:1 C420jpeg\nFRAME\n";
  std::ofstream((dir / "wide.y4m").string()) << "YUV4MPEG2 W20000 H16 F25:1 C420jpeg\nFRAME\n";
  struct Row {
    std::string name, reason;
  } rows[] = {
      {(dir / "missing.mp4").string(), "No such file or directory"},
      {(dir / "text.mp4").string(), "not a video file"},
      {sound, "no video stream (sound only)"},
      {(dir / "cut.mp4").string(), "damaged or truncated"},
      {(dir / "huge.y4m").string(), "too large for a layer"},
      {(dir / "wide.y4m").string(), "too large for a layer"},
      {"/dev/video9", "can't open the camera"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::string err;
    kt::StderrCapture cap;
    LayerPtr l(make_layer(row.name.c_str(), err));
    EXPECT_EQ(l, nullptr);
    EXPECT_EQ(err.rfind(row.name + ": ", 0), 0u) << err;
    EXPECT_TRUE(kt::contains(err, row.reason)) << err;
    EXPECT_EQ(err.find('\n'), std::string::npos);
    EXPECT_EQ(cap.text(), "");
  }
}

}  // namespace
