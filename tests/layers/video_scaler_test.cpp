// VideoScaler: a frame scaled in bands on the worker pool is the frame one
// context scales whole, byte for byte, for clips of several sizes and pixel
// formats shown larger, smaller and at their size, on several thread counts.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"
#include "video_decoder.h"
#include "video_scaler.h"
#include "worker_pool.h"

namespace {

constexpr int kCubic = SWS_BICUBIC | SWS_FULL_CHR_H_INT;

struct Case {
  const char *pix_fmt;
  int w, h;          // the clip's
  int out_w, out_h;  // the layer's
  int flags;         // the layer's: point at its size, else bicubic
};

// Sizes odd and even, 4:2:0 against odd heights, 10-bit, full range (the
// "j" format), RGB and grey; the same size takes libswscale's unscaled
// converters, the others its filters.
const Case kCases[] = {
    {"yuv420p", 320, 240, 320, 240, SWS_POINT},
    {"yuv420p", 320, 240, 1280, 720, kCubic},
    {"yuv420p", 1280, 720, 333, 187, kCubic},
    {"yuvj420p", 640, 360, 1920, 1080, kCubic},
    {"yuv422p", 640, 480, 640, 480, SWS_POINT},
    {"yuv444p", 321, 241, 321, 241, SWS_POINT},
    {"yuv444p", 640, 360, 640, 360, SWS_POINT},
    {"yuv444p", 400, 300, 800, 601, kCubic},
    {"yuv420p10le", 640, 360, 640, 360, SWS_POINT},
    {"yuv420p10le", 640, 360, 1024, 576, kCubic},
    {"nv12", 640, 360, 640, 360, SWS_POINT},
    {"rgb24", 300, 200, 300, 200, SWS_POINT},
    {"bgra", 300, 200, 900, 130, kCubic},
    {"gray", 256, 256, 512, 512, kCubic},
    {"yuv420p", 321, 241, 321, 241, SWS_POINT},
    {"yuv420p", 200, 150, 200, 150, SWS_POINT},
    {"yuv420p", 200, 150, 360, 200, kCubic},
};

class VideoScalerTest : public ::testing::TestWithParam<Case> {
 protected:
  // The first frame of a clip of testsrc2 in `pix_fmt`, stored raw (the
  // source makes even sizes only).
  FramePtr first_frame(const Case &c, VideoDecoder &decoder) {
    const std::string path = temp.path + "/clip.nut";
    const std::string cmd = "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=s=" +
                            std::to_string(c.w) + "x" + std::to_string(c.h) +
                            ":d=0.1 -vf scale=" + std::to_string(c.w) + ":" +
                            std::to_string(c.h) + " -pix_fmt " + c.pix_fmt + " -c:v rawvideo " + path;
    EXPECT_EQ(system(cmd.c_str()), 0) << cmd;
    std::string err;
    FramePtr frame;
    double pts, dur;
    EXPECT_TRUE(decoder.open(path, err)) << err;
    EXPECT_EQ(decoder.next(frame, pts, dur, err), 1) << err;
    return frame;
  }
  kt::TempDir temp;
};

TEST_P(VideoScalerTest, BandsOnThePoolGiveTheWholeFramesBytes) {
  const Case c = GetParam();
  VideoDecoder decoder;
  FramePtr frame = first_frame(c, decoder);
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->width, c.w);
  ASSERT_EQ(frame->height, c.h);
  const int flags = c.flags;
  const int format = frame->format == AV_PIX_FMT_YUVJ420P ? AV_PIX_FMT_YUV420P : frame->format;
  const VideoScaler::Colours colours{SWS_CS_ITU709, frame->format == AV_PIX_FMT_YUVJ420P};
  const size_t bytes = (size_t)c.out_w * c.out_h * 4;
  // Room for libswscale's last vector past the frame, as a layer has.

  VideoScaler whole;
  std::vector<uint8_t> expected(bytes + 64, 0);
  ASSERT_TRUE(whole.scale(frame.get(), format, colours, flags, expected.data(), c.out_w, c.out_h,
                          nullptr));
  EXPECT_EQ(whole.bands(), 1);
  for (int threads : {2, 3, 7}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    WorkerPool pool(threads);
    VideoScaler sliced;
    // Twice: the second frame reuses the contexts.
    for (int round = 0; round < 2; round++) {
      std::vector<uint8_t> got(bytes + 64, 0x55);
      ASSERT_TRUE(sliced.scale(frame.get(), format, colours, flags, got.data(), c.out_w, c.out_h,
                               &pool));
      // Lines of another length are scaled whole (video_scaler.h).
      if (c.out_w % VideoScaler::kWholeVector == 0) {
        EXPECT_GT(sliced.bands(), 1);
      }
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + bytes, expected.begin()))
          << "first differing byte "
          << std::mismatch(got.begin(), got.begin() + bytes, expected.begin())
                                              .first - got.begin();
    }
  }
}

// A 4:2:0 clip made larger takes two steps (video_scaler.h): what a viewer
// sees is what one context filtering every output pixel's chroma makes,
// in the clip's own matrix and range.
class LargerTest : public VideoScalerTest {};

TEST_P(LargerTest, LooksAsOneFullChromaFilterMakesIt) {
  const Case c = GetParam();
  VideoDecoder decoder;
  FramePtr frame = first_frame(c, decoder);
  ASSERT_TRUE(frame);
  const int format = frame->format;
  const size_t bytes = (size_t)c.out_w * c.out_h * 4;
  std::vector<uint8_t> want(bytes + 64), got(bytes + 64);
  WorkerPool pool(3);
  VideoScaler scaler;
  // Read as either range, the clip's bytes what they are.
  for (bool full : {false, true}) {
    SCOPED_TRACE(full ? "full range" : "video range");
    SwsContext *one = sws_getContext(c.w, c.h, (AVPixelFormat)format, c.out_w, c.out_h,
                                     AV_PIX_FMT_BGRA, c.flags, nullptr, nullptr, nullptr);
    ASSERT_TRUE(one);
    int *inv, *table, src_range, dst_range, brightness, contrast, saturation;
    if (sws_getColorspaceDetails(one, &inv, &src_range, &table, &dst_range, &brightness,
                                 &contrast, &saturation) >= 0)
      sws_setColorspaceDetails(one, sws_getCoefficients(SWS_CS_ITU709), full,
                               sws_getCoefficients(SWS_CS_DEFAULT), 1, brightness, contrast,
                               saturation);
    uint8_t *planes[4] = {want.data(), nullptr, nullptr, nullptr};
    const int lines[4] = {c.out_w * 4, 0, 0, 0};
    ASSERT_GT(sws_scale(one, frame->data, frame->linesize, 0, c.h, planes, lines), 0);
    sws_freeContext(one);
    ASSERT_TRUE(scaler.scale(frame.get(), format, {SWS_CS_ITU709, full}, c.flags, got.data(),
                             c.out_w, c.out_h, &pool));
    // Sharp coloured edges differ a little; a matrix, a range, a row or a
    // chroma plane off is tens of dB lower.
    double se = 0;
    for (size_t i = 0; i < bytes; i++) {
      if (i % 4 == 3) continue;
      const double d = (double)got[i] - want[i];
      se += d * d;
    }
    EXPECT_GT(10 * std::log10(255.0 * 255.0 * (bytes / 4 * 3) / std::max(se, 1e-9)), 28.0);
  }
}

std::string name(const ::testing::TestParamInfo<Case> &info) {
  const Case &c = info.param;
  return std::string(c.pix_fmt) + "_" + std::to_string(c.w) + "x" + std::to_string(c.h) + "_to_" +
         std::to_string(c.out_w) + "x" + std::to_string(c.out_h);
}

INSTANTIATE_TEST_SUITE_P(Clips, VideoScalerTest, ::testing::ValuesIn(kCases), name);

std::vector<Case> larger() {
  std::vector<Case> cases;
  for (const Case &c : kCases)
    if (c.out_w >= c.w && c.out_h >= c.h && c.flags != SWS_POINT) cases.push_back(c);
  return cases;
}
INSTANTIATE_TEST_SUITE_P(Clips, LargerTest, ::testing::ValuesIn(larger()), name);

}  // namespace
