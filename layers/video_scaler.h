/*  Kolvex - a decoded frame scaled into a layer's pixels, in slices
 *
 *  libswscale turns a frame into the layer format (bytes blue, green, red,
 *  0xFF) at the output size. A 4K layer is too much for one thread, so the
 *  output is cut into bands of rows, one a piece of the worker pool, each
 *  with a context of its own (a context keeps the lines it is filtering
 *  and is not thread-safe). Each band's rows are made from the whole
 *  source, so the bytes are those of one context scaling the whole frame,
 *  on any number of threads. Bands start on rows libswscale can start an
 *  output slice at (sws_receive_slice_alignment) and on the source's
 *  chroma rows (an unscaled converter reads chroma two rows at a time).
 *
 *  A 4:2:0 clip made larger (a canvas shown at 4K) goes in two steps: its
 *  planes scaled to the output's size as 4:2:0 (whole, on the calling
 *  thread), then turned into BGRA by the unscaled converter in bands. The
 *  chroma is then what a 4:2:0 clip of that size shows, interpolated once
 *  by the filter, where one step interpolates it again across every
 *  output pixel: the eye sees the same picture (about 38 dB apart on
 *  sharp coloured test patterns), made six times as fast (1080p to 4K).
 *
 *  One thread uses an object at a time; the pool may be shared.
 */
#ifndef KOLVEX_VIDEO_SCALER_H
#define KOLVEX_VIDEO_SCALER_H

#include <cstdint>
#include <vector>

struct AVFrame;
struct SwsContext;
class WorkerPool;

class VideoScaler {
 public:
  // Bands thinner than this cost more in filter lines read twice at their
  // edges than they give back.
  static constexpr int min_band_rows = 32;
  // Output lines are cut into bands only when they are a whole number of
  // libswscale's widest writes (pixels).
  static constexpr int kWholeVector = 16;

  VideoScaler() = default;
  ~VideoScaler();

  // How the source's YUV is read: a libswscale matrix (SWS_CS_*) and the
  // range; ignored for an RGB source.
  struct Colours {
    int space;
    bool full;
  };

  // `frame` (of pixel format `format`, which may differ from the frame's
  // own: the "j" formats read as their plain ones) scaled to w x h into
  // `dst`, lines w * 4 bytes, with the libswscale `flags`. The bands share
  // out on `pool` (null or one thread: one context, the whole frame here).
  // False when libswscale refuses.
  bool scale(const AVFrame *frame, int format, Colours colours, int flags, uint8_t *dst, int w,
             int h, WorkerPool *pool);

  // The bands the last scale() cut the output into.
  int bands() const { return bands_; }

 private:
  struct Shape {
    int src_w, src_h, src_format, w, h, flags;
    bool operator==(const Shape &o) const {
      return src_w == o.src_w && src_h == o.src_h && src_format == o.src_format && w == o.w &&
             h == o.h && flags == o.flags;
    }
  };
  struct Told {
    int space = -1, range = -1;  // the colours a context was last told
  };
  struct Band {
    SwsContext *sws = nullptr;  // the source to BGRA, or to the planes
    Shape shape{};              // what sws was made for
    Told told;
    SwsContext *rgb = nullptr;  // two steps: the band's planes to BGRA
    Shape rgb_shape{};
    Told rgb_told;
  };
  static bool two_steps(int format, int src_w, int src_h, int w, int h);
  bool prepare(int count, const AVFrame *frame, int format, int flags, int w, int h, bool two);
  static bool prepare_rgb(Band &b, int w, int rows);
  static void tell_colours(SwsContext *c, Told &told, Colours colours);
  bool make_planes(int w, int h);
  int band_count(int threads, int w, int h, int format) const;
  static bool scale_band(Band &band, AVFrame *src, AVFrame *dst, int start, int rows);
  bool planes_to_rgb(Band &band, uint8_t *dst, int w, int start, int rows) const;
  bool scale_two(const AVFrame *frame, uint8_t *dst, int w, int h, int rows, int count,
                 WorkerPool *pool);

  std::vector<Band> bands_ctx_;
  AVFrame *planes_ = nullptr;  // two steps: the 4:2:0 picture at the output's size
  int bands_ = 0;

  VideoScaler(const VideoScaler &) = delete;
  VideoScaler &operator=(const VideoScaler &) = delete;
};

#endif
