// The control surface's pictures: their sizes, their colours once decoded
// as a browser would, and a frame loop that never waits for them.
#include "thumbnails.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "ffmpeg_process.h"

namespace {

struct FitCase {
  const char *name;
  int w, h, max_w, max_h, out_w, out_h;
};
void PrintTo(const FitCase &c, std::ostream *os) { *os << c.name; }
class ThumbnailsFit : public testing::TestWithParam<FitCase> {};

TEST_P(ThumbnailsFit, KeepsProportionsWithinTheBox) {
  const FitCase &c = GetParam();
  int w = 0, h = 0;
  Thumbnails::fit(c.w, c.h, c.max_w, c.max_h, w, h);
  EXPECT_EQ(w, c.out_w);
  EXPECT_EQ(h, c.out_h);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ThumbnailsFit,
    testing::Values(FitCase{"vga", 640, 480, 160, 120, 160, 120},
                    FitCase{"hd", 1920, 1080, 640, 360, 640, 360},
                    FitCase{"tall", 100, 1000, 160, 120, 12, 120},
                    FitCase{"smaller_than_box", 100, 50, 640, 360, 100, 50},
                    FitCase{"odd_made_even", 641, 361, 640, 360, 638, 360},
                    FitCase{"odd_small", 99, 75, 640, 360, 98, 74},
                    FitCase{"one_pixel", 1, 1, 160, 120, 1, 1},
                    FitCase{"one_row", 1000, 1, 160, 120, 160, 1},
                    FitCase{"one_column", 1, 1000, 160, 120, 1, 120}),
    [](const testing::TestParamInfo<FitCase> &i) { return std::string(i.param.name); });

// Red, green, blue and yellow quadrants, and their opposites: {r, g, b}.
const uint8_t kFirst[4][3] = {{230, 20, 20}, {20, 230, 20}, {20, 20, 230}, {230, 230, 20}};
const uint8_t kSecond[4][3] = {{20, 230, 230}, {230, 20, 230}, {230, 230, 230}, {20, 20, 20}};

std::vector<uint8_t> quadrants(int w, int h, int pitch, const uint8_t (&rgb)[4][3]) {
  std::vector<uint8_t> f((size_t)pitch * h, 0x7F);  // the padding: grey
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const uint8_t *c = rgb[(y >= h / 2) * 2 + (x >= w / 2)];
      uint8_t *p = &f[(size_t)y * pitch + x * 4];
      p[0] = c[2], p[1] = c[1], p[2] = c[0], p[3] = 0;
    }
  return f;
}

// A JPEG decoded by FFmpeg, to RGB by full-range BT.601.
struct Decoded {
  int w = 0, h = 0;
  std::vector<int> rgb;
};
Decoded decode(const std::string &jpeg) {
  Decoded d;
  const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
  ffmpeg_process::Codec c(avcodec_alloc_context3(codec));
  ffmpeg_process::Frame f(av_frame_alloc());
  ffmpeg_process::Packet p(av_packet_alloc());
  if (avcodec_open2(c.get(), codec, nullptr) < 0 || av_new_packet(p.get(), (int)jpeg.size()) < 0)
    return d;
  memcpy(p->data, jpeg.data(), jpeg.size());
  if (avcodec_send_packet(c.get(), p.get()) < 0 || avcodec_receive_frame(c.get(), f.get()) < 0)
    return d;
  EXPECT_EQ(f->format, AV_PIX_FMT_YUVJ420P);
  d.w = f->width, d.h = f->height;
  for (int y = 0; y < d.h; y++)
    for (int x = 0; x < d.w; x++) {
      const double Y = f->data[0][y * f->linesize[0] + x];
      const double U = f->data[1][y / 2 * f->linesize[1] + x / 2] - 128.0;
      const double V = f->data[2][y / 2 * f->linesize[2] + x / 2] - 128.0;
      d.rgb.insert(d.rgb.end(), {(int)(Y + 1.402 * V), (int)(Y - 0.344136 * U - 0.714136 * V),
                                 (int)(Y + 1.772 * U)});
    }
  return d;
}

// What `ready` was given, by slot.
struct Received {
  std::mutex m;
  std::map<int, std::vector<std::string>> jpegs;
  Thumbnails::Ready ready() {
    return [this](int slot, const std::string &jpeg) {
      std::lock_guard<std::mutex> l(m);
      jpegs[slot].push_back(jpeg);
    };
  }
};

bool wait_idle(const Thumbnails &t) {
  for (int i = 0; i < 10000 && !t.idle(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return t.idle();
}

void expect_quadrants(const std::string &jpeg, int w, int h, const uint8_t (&rgb)[4][3]) {
  const Decoded d = decode(jpeg);
  ASSERT_EQ(d.w, w);
  ASSERT_EQ(d.h, h);
  for (int q = 0; q < 4; q++) {
    const int x = w / 4 + (q % 2) * w / 2, y = h / 4 + (q / 2) * h / 2;
    for (int k = 0; k < 3; k++)
      EXPECT_NEAR(d.rgb[(size_t)(y * w + x) * 3 + k], rgb[q][k], 12) << "quadrant " << q;
  }
}

struct PictureCase {
  const char *name;
  int w, h, padding, max_w, max_h, out_w, out_h;
};
void PrintTo(const PictureCase &c, std::ostream *os) { *os << c.name; }
class ThumbnailsPictures : public testing::TestWithParam<PictureCase> {};

// Slots 0 and 3, then a second batch with their colours swapped.
TEST_P(ThumbnailsPictures, EachSlotShowsItsFrame) {
  const PictureCase &c = GetParam();
  const int pitch = c.w * 4 + c.padding;
  const std::vector<uint8_t> a = quadrants(c.w, c.h, pitch, kFirst);
  const std::vector<uint8_t> b = quadrants(c.w, c.h, pitch, kSecond);
  Received got;
  Thumbnails t(got.ready());
  for (int batch = 0; batch < 2; batch++) {
    t.sample(0, (batch ? b : a).data(), c.w, c.h, pitch, c.max_w, c.max_h);
    t.sample(3, (batch ? a : b).data(), c.w, c.h, pitch, c.max_w, c.max_h);
    t.encode();
    ASSERT_TRUE(wait_idle(t));
  }
  std::lock_guard<std::mutex> l(got.m);
  ASSERT_EQ(got.jpegs.size(), 2u);
  ASSERT_EQ(got.jpegs[0].size(), 2u);
  ASSERT_EQ(got.jpegs[3].size(), 2u);
  expect_quadrants(got.jpegs[0][0], c.out_w, c.out_h, kFirst);
  expect_quadrants(got.jpegs[3][0], c.out_w, c.out_h, kSecond);
  expect_quadrants(got.jpegs[0][1], c.out_w, c.out_h, kSecond);
  expect_quadrants(got.jpegs[3][1], c.out_w, c.out_h, kFirst);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ThumbnailsPictures,
    testing::Values(PictureCase{"hd", 1920, 1080, 0, 640, 360, 640, 360},
                    PictureCase{"padded_lines", 300, 200, 64, 160, 120, 160, 106},
                    PictureCase{"odd", 321, 241, 0, 160, 120, 160, 120}),
    [](const testing::TestParamInfo<PictureCase> &i) { return std::string(i.param.name); });

// A slow page: the frame loop goes on, sampling nothing, until it is done.
TEST(ThumbnailsWaiting, ASlowReadyOnlyKeepsTheEncoderBusy) {
  const std::vector<uint8_t> a = quadrants(64, 64, 256, kFirst), b = quadrants(64, 64, 256, kSecond);
  std::promise<void> latch;
  std::shared_future<void> open = latch.get_future().share();
  Received got;
  Thumbnails t([&](int slot, const std::string &jpeg) {
    got.ready()(slot, jpeg);
    open.wait();
  });
  t.sample(0, a.data(), 64, 64, 256, 32, 32);
  t.encode();
  EXPECT_FALSE(t.idle());
  t.sample(0, b.data(), 64, 64, 256, 32, 32);  // ignored: the encoder is busy
  t.encode();
  latch.set_value();
  ASSERT_TRUE(wait_idle(t));
  t.sample(1, a.data(), 64, 64, 256, 32, 32);
  t.encode();
  ASSERT_TRUE(wait_idle(t));
  std::lock_guard<std::mutex> l(got.m);
  ASSERT_EQ(got.jpegs[0].size(), 1u);
  ASSERT_EQ(got.jpegs[1].size(), 1u);
  expect_quadrants(got.jpegs[0][0], 32, 32, kFirst);
}

TEST(ThumbnailsWaiting, EndingWithABatchPendingReturns) {
  const std::vector<uint8_t> a = quadrants(1920, 1080, 1920 * 4, kFirst);
  std::atomic<int> calls{0};
  {
    Thumbnails t([&](int, const std::string &) { calls++; });
    for (int slot = 0; slot < 4; slot++) t.sample(slot, a.data(), 1920, 1080, 1920 * 4, 640, 360);
    t.encode();
  }  // whatever was not encoded yet is dropped
  EXPECT_LE(calls.load(), 4);
}

}  // namespace
