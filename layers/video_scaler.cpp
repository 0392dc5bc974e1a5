#include "video_scaler.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <memory>

#include "worker_pool.h"

namespace {

struct FrameFree {
  void operator()(AVFrame *f) const { av_frame_free(&f); }
};
using Frame = std::unique_ptr<AVFrame, FrameFree>;

// The layer's memory is its own: libswscale only refers to it while a
// frame is being scaled.
void keep(void *, uint8_t *) {}

// `band(i, start, rows)` for each of `count` bands of `rows` rows (the
// last one shorter) of an output `h` rows high, on the pool: true when
// every band's did.
template <class Fn>
bool each_band(WorkerPool &pool, int count, int rows, int h, Fn band) {
  std::atomic<bool> ok{true};
  pool.run(count, [&](int i) {
    const int start = i * rows;
    if (!band(i, start, std::min(rows, h - start))) ok = false;
  });
  return ok;
}

}  // namespace

VideoScaler::~VideoScaler() {
  for (Band &b : bands_ctx_) {
    sws_freeContext(b.sws);
    sws_freeContext(b.rgb);
  }
  av_frame_free(&planes_);
}

bool VideoScaler::two_steps(int format, int src_w, int src_h, int w, int h) {
  // Even sizes: the planes' chroma rows and columns are whole.
  return format == AV_PIX_FMT_YUV420P && w >= src_w && h >= src_h && (w > src_w || h > src_h) &&
         w % 2 == 0 && h % 2 == 0;
}

int VideoScaler::band_count(int threads, int w, int h, int format) const {
  if (threads <= 1 || h < 2 * min_band_rows) return 1;
  // libswscale's converters write a line in whole vectors of up to 16
  // pixels: a line of another length runs on into the next line's first
  // pixels, which its own pass then writes again. Bands would race there.
  if (w % kWholeVector) return 1;
  const AVPixFmtDescriptor *d = av_pix_fmt_desc_get((AVPixelFormat)format);
  // A palette or bitstream source has no rows to start a band at cheaply.
  if (!d || (d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM))) return 1;
  return std::min(threads, h / min_band_rows);
}

bool VideoScaler::prepare(int count, const AVFrame *frame, int format, int flags, int w, int h,
                          bool two) {
  for (size_t i = count; i < bands_ctx_.size(); i++) {
    sws_freeContext(bands_ctx_[i].sws);
    sws_freeContext(bands_ctx_[i].rgb);
  }
  bands_ctx_.resize(count);
  // The first step's planes are YUV as the clip's: no matrix, no range.
  const int to = two ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_BGRA;
  if (two) flags &= ~SWS_FULL_CHR_H_INT;
  const Shape shape{frame->width, frame->height, format, w, h, flags};
  for (Band &b : bands_ctx_) {
    if (two && &b != &bands_ctx_[0]) {  // the first step is made whole
      sws_freeContext(b.sws);
      b.sws = nullptr;
      continue;
    }
    // Kept by what it was asked for, not sws_getCachedContext's test: for
    // an odd width or a 4:4:4 source libswscale adds flags of its own, so
    // that test made a context anew every frame, and every other one lost
    // the matrix set on it: the colours flickered (libswscale 6.7).
    if (b.sws && b.shape == shape) continue;
    sws_freeContext(b.sws);
    b.sws = sws_getContext(frame->width, frame->height, (AVPixelFormat)format, w, h,
                           (AVPixelFormat)to, flags, nullptr, nullptr, nullptr);
    if (!b.sws) return false;
    b.shape = shape;
    b.told = Told{};
  }
  return !two || make_planes(w, h);
}

bool VideoScaler::prepare_rgb(Band &b, int w, int rows) {
  const Shape shape{w, rows, AV_PIX_FMT_YUV420P, w, rows, SWS_POINT};
  if (b.rgb && b.rgb_shape == shape) return true;
  sws_freeContext(b.rgb);
  b.rgb = sws_getContext(w, rows, AV_PIX_FMT_YUV420P, w, rows, AV_PIX_FMT_BGRA, SWS_POINT, nullptr,
                         nullptr, nullptr);
  b.rgb_shape = shape;
  b.rgb_told = Told{};
  return b.rgb != nullptr;
}

void VideoScaler::tell_colours(SwsContext *c, Told &told, Colours colours) {
  // Every band reads the source with the same matrix, or the bands show.
  if (colours.space == told.space && (int)colours.full == told.range) return;
  int *inv_table, *table, src_range, dst_range, brightness, contrast, saturation;
  if (sws_getColorspaceDetails(c, &inv_table, &src_range, &table, &dst_range, &brightness,
                               &contrast, &saturation) < 0)
    return;  // an RGB source: nothing to set
  sws_setColorspaceDetails(c, sws_getCoefficients(colours.space), colours.full ? 1 : 0,
                           sws_getCoefficients(SWS_CS_DEFAULT), 1, brightness, contrast,
                           saturation);
  told.space = colours.space;
  told.range = colours.full;
}

bool VideoScaler::make_planes(int w, int h) {
  if (planes_ && planes_->width == w && planes_->height == h) return true;
  av_frame_free(&planes_);
  planes_ = av_frame_alloc();
  if (!planes_) return false;
  planes_->format = AV_PIX_FMT_YUV420P;
  planes_->width = w;
  planes_->height = h;
  // Lines padded to whole vectors: libswscale's last one stays in them.
  if (av_frame_get_buffer(planes_, 64) < 0) av_frame_free(&planes_);
  return planes_ != nullptr;
}

bool VideoScaler::scale_band(Band &band, AVFrame *src, AVFrame *dst, int start, int rows) {
  if (sws_frame_start(band.sws, dst, src) < 0) return false;
  bool ok = sws_send_slice(band.sws, 0, (unsigned)src->height) >= 0 &&
            sws_receive_slice(band.sws, (unsigned)start, (unsigned)rows) >= 0;
  sws_frame_end(band.sws);
  return ok;
}

bool VideoScaler::planes_to_rgb(Band &band, uint8_t *dst, int w, int start, int rows) const {
  // The band's rows as a picture of their own: the unscaled converter
  // reads no row but the ones it makes.
  const AVFrame *p = planes_;
  const uint8_t *src[4] = {p->data[0] + (long)start * p->linesize[0],
                           p->data[1] + (long)(start / 2) * p->linesize[1],
                           p->data[2] + (long)(start / 2) * p->linesize[2], nullptr};
  uint8_t *out[4] = {dst + (long)start * w * 4, nullptr, nullptr, nullptr};
  const int lines[4] = {w * 4, 0, 0, 0};
  return sws_scale(band.rgb, src, p->linesize, 0, rows, out, lines) > 0;
}

bool VideoScaler::scale_two(const AVFrame *frame, uint8_t *dst, int w, int h, int rows, int count,
                            WorkerPool *pool) {
  // The filtering, the dearer step, whole: libswscale 6.7's slices of
  // planar output come out wrong below the first.
  if (sws_scale(bands_ctx_[0].sws, frame->data, frame->linesize, 0, frame->height, planes_->data,
                planes_->linesize) <= 0)
    return false;
  if (count == 1) return planes_to_rgb(bands_ctx_[0], dst, w, 0, h);
  return each_band(*pool, count, rows, h, [&](int i, int start, int n) {
    return planes_to_rgb(bands_ctx_[i], dst, w, start, n);
  });
}

bool VideoScaler::scale(const AVFrame *frame, int format, Colours colours, int flags, uint8_t *dst,
                        int w, int h, WorkerPool *pool) {
  if (!frame || !dst || w <= 0 || h <= 0) return false;
  const bool two = two_steps(format, frame->width, frame->height, w, h);
  int count = band_count(pool ? pool->threads() : 1, w, h, format);
  if (!prepare(count, frame, format, flags, w, h, two)) return false;
  // Rows libswscale can start an output slice at, and the source's chroma
  // rows (the planes' too, in two steps): all powers of two, so the
  // largest is a multiple of the others.
  const AVPixFmtDescriptor *d = av_pix_fmt_desc_get((AVPixelFormat)format);
  const int align = two ? 2
                        : std::max<int>(sws_receive_slice_alignment(bands_ctx_[0].sws),
                                        1 << (d ? d->log2_chroma_h : 0));
  const int rows = ((h + count - 1) / count + align - 1) / align * align;
  count = (h + rows - 1) / rows;  // no more than prepared
  bands_ = count;
  for (int i = 0; i < count; i++) {
    Band &b = bands_ctx_[i];
    if (!two) {
      tell_colours(b.sws, b.told, colours);
    } else if (prepare_rgb(b, w, std::min(rows, h - i * rows))) {
      tell_colours(b.rgb, b.rgb_told, colours);
    } else {
      return false;
    }
  }
  if (two) return scale_two(frame, dst, w, h, rows, count, pool);
  uint8_t *planes[4] = {dst, nullptr, nullptr, nullptr};
  int lines[4] = {w * 4, 0, 0, 0};
  if (count == 1)
    return sws_scale(bands_ctx_[0].sws, frame->data, frame->linesize, 0, frame->height, planes,
                     lines) > 0;

  // The slice calls take frames: the source as the band contexts read it,
  // the output around the layer's memory.
  Frame in(av_frame_clone(frame)), out(av_frame_alloc());
  if (!in || !out) return false;
  in->format = format;
  out->format = AV_PIX_FMT_BGRA;
  out->width = w;
  out->height = h;
  out->buf[0] = av_buffer_create(dst, (size_t)lines[0] * h, keep, nullptr, 0);
  if (!out->buf[0]) return false;
  out->data[0] = dst;
  out->linesize[0] = lines[0];
  return each_band(*pool, count, rows, h, [&](int i, int start, int n) {
    return scale_band(bands_ctx_[i], in.get(), out.get(), start, n);
  });
}
