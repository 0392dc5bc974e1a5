// The control surface's pictures: their sizes, their colours once decoded
// as a browser would, and a frame loop that never waits for them.
#include "thumbnails.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "ffmpeg_process.h"

namespace {

TEST(Thumbnails, FitKeepsProportionsWithinTheBox) {
  const struct {
    const char *name;
    int w, h, max_w, max_h, out_w, out_h;
  } rows[] = {
      {"vga", 640, 480, 160, 120, 160, 120},
      {"hd", 1920, 1080, 640, 360, 640, 360},
      {"tall", 100, 1000, 160, 120, 12, 120},
      {"small, not enlarged", 100, 50, 640, 360, 100, 50},
      {"odd made even", 641, 361, 640, 360, 638, 360},
      {"one column", 1, 1000, 160, 120, 1, 120},
  };
  for (const auto &r : rows) {
    int w = 0, h = 0;
    Thumbnails::fit(r.w, r.h, r.max_w, r.max_h, w, h);
    EXPECT_EQ(w, r.out_w) << r.name;
    EXPECT_EQ(h, r.out_h) << r.name;
  }
}

// Red, green, blue and yellow quadrants, and their opposites: {r, g, b}.
typedef uint8_t Colours[4][3];
const Colours kFirst = {{230, 20, 20}, {20, 230, 20}, {20, 20, 230}, {230, 230, 20}};
const Colours kSecond = {{20, 230, 230}, {230, 20, 230}, {230, 230, 230}, {20, 20, 20}};

std::vector<uint8_t> quadrants(int w, int h, int pitch, const Colours &rgb) {
  std::vector<uint8_t> f((size_t)pitch * h, 0x7F);  // the padding: grey
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const uint8_t *c = rgb[(y >= h / 2) * 2 + (x >= w / 2)];
      uint8_t *p = &f[(size_t)y * pitch + x * 4];
      p[0] = c[2], p[1] = c[1], p[2] = c[0], p[3] = 0;
    }
  return f;
}

// Decodes with FFmpeg, checks the size, then each quadrant's centre by
// full-range BT.601 within what JPEG loses.
void expect_quadrants(const std::string &jpeg, int w, int h, const Colours &rgb) {
  const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
  ffmpeg_process::Codec c(avcodec_alloc_context3(codec));
  ffmpeg_process::Frame f(av_frame_alloc());
  ffmpeg_process::Packet p(av_packet_alloc());
  ASSERT_EQ(avcodec_open2(c.get(), codec, nullptr), 0);
  ASSERT_EQ(av_new_packet(p.get(), (int)jpeg.size()), 0);
  memcpy(p->data, jpeg.data(), jpeg.size());
  ASSERT_EQ(avcodec_send_packet(c.get(), p.get()), 0);
  ASSERT_EQ(avcodec_receive_frame(c.get(), f.get()), 0);
  ASSERT_EQ(f->format, AV_PIX_FMT_YUVJ420P);
  ASSERT_EQ(f->width, w);
  ASSERT_EQ(f->height, h);
  for (int q = 0; q < 4; q++) {
    const int x = w / 4 + (q % 2) * w / 2, y = h / 4 + (q / 2) * h / 2;
    const double Y = f->data[0][y * f->linesize[0] + x];
    const double U = f->data[1][y / 2 * f->linesize[1] + x / 2] - 128.0;
    const double V = f->data[2][y / 2 * f->linesize[2] + x / 2] - 128.0;
    EXPECT_NEAR(Y + 1.402 * V, rgb[q][0], 12) << "red, quadrant " << q;
    EXPECT_NEAR(Y - 0.344136 * U - 0.714136 * V, rgb[q][1], 12) << "green, quadrant " << q;
    EXPECT_NEAR(Y + 1.772 * U, rgb[q][2], 12) << "blue, quadrant " << q;
  }
}

// What `ready` was given, by slot.
struct Received {
  std::mutex m;
  std::map<int, std::vector<std::string>> jpegs;
  void operator()(int slot, const std::string &jpeg) {
    std::lock_guard<std::mutex> l(m);
    jpegs[slot].push_back(jpeg);
  }
};

bool wait_idle(const Thumbnails &t) {
  for (int i = 0; i < 10000 && !t.idle(); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return t.idle();
}

// Slots 0 and 3, then a second batch with their colours swapped.
TEST(Thumbnails, EachSlotShowsItsFrame) {
  const struct {
    const char *name;
    int w, h, padding, max_w, max_h, out_w, out_h;
  } rows[] = {
      {"hd", 1920, 1080, 0, 640, 360, 640, 360},
      {"padded lines", 300, 200, 64, 160, 120, 160, 106},
      {"odd", 321, 241, 0, 160, 120, 160, 120},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name);
    const int pitch = r.w * 4 + r.padding;
    const std::vector<uint8_t> a = quadrants(r.w, r.h, pitch, kFirst),
                               b = quadrants(r.w, r.h, pitch, kSecond);
    Received got;
    Thumbnails t(std::ref(got));
    for (int batch = 0; batch < 2; batch++) {
      t.sample(0, (batch ? b : a).data(), r.w, r.h, pitch, r.max_w, r.max_h);
      t.sample(3, (batch ? a : b).data(), r.w, r.h, pitch, r.max_w, r.max_h);
      t.encode();
      ASSERT_TRUE(wait_idle(t));
    }
    std::lock_guard<std::mutex> l(got.m);
    ASSERT_EQ(got.jpegs.size(), 2u);
    ASSERT_EQ(got.jpegs[0].size(), 2u);
    ASSERT_EQ(got.jpegs[3].size(), 2u);
    expect_quadrants(got.jpegs[0][0], r.out_w, r.out_h, kFirst);
    expect_quadrants(got.jpegs[3][0], r.out_w, r.out_h, kSecond);
    expect_quadrants(got.jpegs[0][1], r.out_w, r.out_h, kSecond);
    expect_quadrants(got.jpegs[3][1], r.out_w, r.out_h, kFirst);
  }
}

}  // namespace
