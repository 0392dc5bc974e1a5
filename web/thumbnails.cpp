#include "thumbnails.h"

#include <pthread.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "ffmpeg_process.h"
#include "jutils.h"

namespace {

// FFmpeg's qscale (1 best .. 31): a 640x360 preview of a show's usual
// frame in about 20-25 KB (frames of fine noise come out far bigger).
constexpr int kQscale = 3;

// One sampled picture: 3 bytes a pixel, blue green red.
struct Picture {
  int slot = 0;
  int w = 0, h = 0;
  std::vector<uint8_t> bgr;
};

uint8_t clamp_byte(int v) { return (uint8_t)std::min(255, std::max(0, v)); }

// Full-range BT.601 in 16-bit fixed point.
uint8_t luma(int b, int g, int r) {
  return clamp_byte((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
}
uint8_t chroma_b(int b, int g, int r) {
  return clamp_byte((-11059 * r - 21709 * g + 32768 * b + (128 << 16) + 32768) >> 16);
}
uint8_t chroma_r(int b, int g, int r) {
  return clamp_byte((32768 * r - 27439 * g - 5329 * b + (128 << 16) + 32768) >> 16);
}

void to_yuv420(const Picture &p, AVFrame *f) {
  for (int y = 0; y < p.h; y++) {
    const uint8_t *s = &p.bgr[(size_t)y * p.w * 3];
    uint8_t *d = f->data[0] + (size_t)y * f->linesize[0];
    for (int x = 0; x < p.w; x++, s += 3) d[x] = luma(s[0], s[1], s[2]);
  }
  // Chroma from the mean of each 2x2 block (a lone last row or column
  // counts twice).
  for (int y = 0; y < (p.h + 1) / 2; y++) {
    const uint8_t *r0 = &p.bgr[(size_t)(2 * y) * p.w * 3];
    const uint8_t *r1 = &p.bgr[(size_t)std::min(2 * y + 1, p.h - 1) * p.w * 3];
    uint8_t *u = f->data[1] + (size_t)y * f->linesize[1];
    uint8_t *v = f->data[2] + (size_t)y * f->linesize[2];
    for (int x = 0; x < (p.w + 1) / 2; x++) {
      const int a = 2 * x * 3, b = std::min(2 * x + 1, p.w - 1) * 3;
      int c[3];
      for (int k = 0; k < 3; k++) c[k] = (r0[a + k] + r0[b + k] + r1[a + k] + r1[b + k] + 2) >> 2;
      u[x] = chroma_b(c[0], c[1], c[2]);
      v[x] = chroma_r(c[0], c[1], c[2]);
    }
  }
}

// FFmpeg's MJPEG encoder, a context and a frame kept for each size.
// Encoder thread only.
class JpegEncoder {
 public:
  // False when FFmpeg failed; `why` says how.
  bool encode(const Picture &p, std::string &jpeg, std::string &why) {
    Sized *s = sized(p.w, p.h, why);
    if (!s) return false;
    if (av_frame_make_writable(s->frame.get()) < 0) return fail("no frame to write", why);
    to_yuv420(p, s->frame.get());
    s->frame->quality = s->codec->global_quality;
    s->frame->pts = pts_++;
    if (avcodec_send_frame(s->codec.get(), s->frame.get()) < 0 ||
        avcodec_receive_packet(s->codec.get(), packet_.get()) < 0)
      return fail("encoding failed", why);
    jpeg.assign((const char *)packet_->data, (size_t)packet_->size);
    av_packet_unref(packet_.get());
    return true;
  }

 private:
  struct Sized {
    ffmpeg_process::Codec codec;
    ffmpeg_process::Frame frame;
  };

  static bool fail(const char *what, std::string &why) {
    const std::string line = ffmpeg_process::take_error_line();
    why = line.empty() ? what : std::string(what) + ": " + line;
    return false;
  }

  static Sized *none(const char *what, std::string &why) {
    fail(what, why);
    return nullptr;
  }

  Sized *sized(int w, int h, std::string &why) {
    auto it = sizes_.find({w, h});
    if (it != sizes_.end()) return &it->second;
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!codec) return none("no MJPEG encoder", why);
    Sized s;
    s.codec.reset(avcodec_alloc_context3(codec));
    s.frame.reset(av_frame_alloc());
    if (!s.codec || !s.frame) return none("out of memory", why);
    AVCodecContext *c = s.codec.get();
    c->width = w;
    c->height = h;
    c->pix_fmt = AV_PIX_FMT_YUVJ420P;
    c->color_range = AVCOL_RANGE_JPEG;
    c->time_base = AVRational{1, 25};
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = FF_QP2LAMBDA * kQscale;
    if (avcodec_open2(c, codec, nullptr) < 0) return none("the MJPEG encoder did not open", why);
    s.frame->format = AV_PIX_FMT_YUVJ420P;
    s.frame->width = w;
    s.frame->height = h;
    if (av_frame_get_buffer(s.frame.get(), 0) < 0) return none("no frame", why);
    return &sizes_.emplace(std::make_pair(w, h), std::move(s)).first->second;
  }

  std::map<std::pair<int, int>, Sized> sizes_;
  ffmpeg_process::Packet packet_{av_packet_alloc()};
  int64_t pts_ = 0;
};

}  // namespace

// The frame loop writes the pictures only while busy is false; the encoder
// reads them only while it is true (release/acquire on busy).
struct Thumbnails::Impl {
  explicit Impl(Ready r) : ready(std::move(r)) {}

  Ready ready;
  std::vector<Picture> pictures;  // kept between batches: no allocation
  size_t sampled = 0;             // pictures of the batch being sampled
  std::vector<int> columns;       // sample(): byte offsets of each column pair
  std::atomic<bool> busy{false};

  std::mutex mutex;
  std::condition_variable wake;
  size_t batch = 0;  // pictures handed over, 0 when none
  bool quit = false;
  std::thread thread;

  void run();
};

void Thumbnails::Impl::run() {
  pthread_setname_np(pthread_self(), "kolvex-jpeg");  // told apart in top and /proc
  ffmpeg_process::set_up();
  JpegEncoder encoder;
  bool warned = false;
  std::string jpeg, why;
  for (;;) {
    size_t count;
    {
      std::unique_lock<std::mutex> lock(mutex);
      wake.wait(lock, [this] { return quit || batch > 0; });
      if (quit) return;
      count = batch;
      batch = 0;
    }
    for (size_t i = 0; i < count; i++) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (quit) return;
      }
      const Picture &p = pictures[i];
      if (encoder.encode(p, jpeg, why)) {
        if (ready) ready(p.slot, jpeg);
      } else if (!warned) {
        warned = true;
        warning("Thumbnails: %s", why.c_str());
      }
    }
    busy.store(false, std::memory_order_release);
  }
}

Thumbnails::Thumbnails(Ready ready) : impl_(new Impl(std::move(ready))) {
  impl_->thread = std::thread([this] { impl_->run(); });
}

Thumbnails::~Thumbnails() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->quit = true;
  }
  impl_->wake.notify_one();
  impl_->thread.join();
}

bool Thumbnails::idle() const { return !impl_->busy.load(std::memory_order_acquire); }

void Thumbnails::sample(int slot, const uint8_t *pixels, int w, int h, int pitch, int max_w,
                        int max_h) {
  Impl &m = *impl_;
  if (!idle() || !pixels || w < 1 || h < 1 || pitch < w * 4 || max_w < 1 || max_h < 1) return;
  // The same slot twice in a batch: the later frame wins.
  size_t i = 0;
  while (i < m.sampled && m.pictures[i].slot != slot) i++;
  if (i == m.sampled) {
    if (m.sampled == m.pictures.size()) m.pictures.emplace_back();
    m.sampled++;
  }
  Picture &p = m.pictures[i];
  p.slot = slot;
  fit(w, h, max_w, max_h, p.w, p.h);
  p.bgr.resize((size_t)p.w * p.h * 3);

  // Each picture pixel is the mean of the 2x2 block at the centre of its
  // place in the frame: cheap, and no worse than one pixel on edges.
  auto first = [](int at, int out, int in) {
    const int64_t left = ((2 * (int64_t)at + 1) * in - out) / (2 * out);
    return (int)std::max<int64_t>(0, std::min<int64_t>(left, in - 2));
  };
  m.columns.resize((size_t)p.w * 2);
  for (int x = 0; x < p.w; x++) {
    const int x0 = first(x, p.w, w);
    m.columns[2 * x] = x0 * 4;
    m.columns[2 * x + 1] = std::min(x0 + 1, w - 1) * 4;
  }
  uint8_t *d = p.bgr.data();
  for (int y = 0; y < p.h; y++) {
    const int y0 = first(y, p.h, h);
    const uint8_t *r0 = pixels + (size_t)y0 * pitch;
    const uint8_t *r1 = pixels + (size_t)std::min(y0 + 1, h - 1) * pitch;
    for (int x = 0; x < p.w; x++, d += 3) {
      const uint8_t *a = r0 + m.columns[2 * x], *b = r0 + m.columns[2 * x + 1];
      const uint8_t *c = r1 + m.columns[2 * x], *e = r1 + m.columns[2 * x + 1];
      for (int k = 0; k < 3; k++) d[k] = (uint8_t)((a[k] + b[k] + c[k] + e[k] + 2) >> 2);
    }
  }
}

void Thumbnails::encode() {
  Impl &m = *impl_;
  if (!idle() || m.sampled == 0) return;
  m.busy.store(true, std::memory_order_release);
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    m.batch = m.sampled;
  }
  m.sampled = 0;
  m.wake.notify_one();
}

void Thumbnails::fit(int w, int h, int max_w, int max_h, int &out_w, int &out_h) {
  w = std::max(w, 1);
  h = std::max(h, 1);
  max_w = std::max(max_w, 1);
  max_h = std::max(max_h, 1);
  // Whichever side meets its bound first sets the scale; never enlarged.
  if ((int64_t)w * max_h >= (int64_t)h * max_w) {
    out_w = std::min(w, max_w);
    out_h = (int)(((int64_t)h * out_w + w / 2) / w);
  } else {
    out_h = std::min(h, max_h);
    out_w = (int)(((int64_t)w * out_h + h / 2) / h);
  }
  // Even for 4:2:0, rounding down so the bound holds; 1 stays 1.
  auto even = [](int v) { return std::max(1, v & ~1); };
  out_w = even(out_w);
  out_h = even(out_h);
}
