#include "video_scaler.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
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

}  // namespace

VideoScaler::~VideoScaler() {
  for (Band &b : bands_ctx_) sws_freeContext(b.sws);
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

bool VideoScaler::prepare(int count, const AVFrame *frame, int format, Colours colours, int flags,
                          int w, int h) {
  for (size_t i = count; i < bands_ctx_.size(); i++) sws_freeContext(bands_ctx_[i].sws);
  bands_ctx_.resize(count);
  const Shape shape{frame->width, frame->height, format, w, h, flags};
  for (Band &b : bands_ctx_) {
    // Kept by what it was asked for, not sws_getCachedContext's test: for
    // an odd width or a 4:4:4 source libswscale adds flags of its own, so
    // that test made a context anew every frame, and every other one lost
    // the matrix set on it: the colours flickered (libswscale 6.7).
    if (!b.sws || !(b.shape == shape)) {
      sws_freeContext(b.sws);
      b.sws = sws_getContext(frame->width, frame->height, (AVPixelFormat)format, w, h,
                             AV_PIX_FMT_BGRA, flags, nullptr, nullptr, nullptr);
      if (!b.sws) return false;
      b.shape = shape;
      b.space = b.range = -1;
    }
    SwsContext *c = b.sws;
    // Every band reads the source with the same matrix, or the bands show.
    if (colours.space == b.space && (int)colours.full == b.range) continue;
    int *inv_table, *table, src_range, dst_range, brightness, contrast, saturation;
    if (sws_getColorspaceDetails(c, &inv_table, &src_range, &table, &dst_range, &brightness,
                                 &contrast, &saturation) < 0)
      continue;  // an RGB source: nothing to set
    sws_setColorspaceDetails(c, sws_getCoefficients(colours.space), colours.full ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, brightness, contrast,
                             saturation);
    b.space = colours.space;
    b.range = colours.full;
  }
  return true;
}

bool VideoScaler::scale_band(Band &band, AVFrame *src, AVFrame *dst, int start, int rows) {
  if (sws_frame_start(band.sws, dst, src) < 0) return false;
  bool ok = sws_send_slice(band.sws, 0, (unsigned)src->height) >= 0 &&
            sws_receive_slice(band.sws, (unsigned)start, (unsigned)rows) >= 0;
  sws_frame_end(band.sws);
  return ok;
}

bool VideoScaler::scale(const AVFrame *frame, int format, Colours colours, int flags, uint8_t *dst,
                        int w, int h, WorkerPool *pool) {
  if (!frame || !dst || w <= 0 || h <= 0) return false;
  int count = band_count(pool ? pool->threads() : 1, w, h, format);
  if (!prepare(count, frame, format, colours, flags, w, h)) return false;
  // Rows libswscale can start an output slice at, and the source's chroma
  // rows: both powers of two, so the larger is a multiple of the other.
  const AVPixFmtDescriptor *d = av_pix_fmt_desc_get((AVPixelFormat)format);
  const int align = std::max<int>(sws_receive_slice_alignment(bands_ctx_[0].sws),
                                  1 << (d ? d->log2_chroma_h : 0));
  const int rows = ((h + count - 1) / count + align - 1) / align * align;
  count = (h + rows - 1) / rows;  // no more than prepared
  bands_ = count;
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
  std::vector<char> ok(count, 0);
  pool->run(count, [&](int i) {
    const int start = i * rows;
    ok[i] = scale_band(bands_ctx_[i], in.get(), out.get(), start, std::min(rows, h - start));
  });
  return std::all_of(ok.begin(), ok.end(), [](char b) { return b != 0; });
}
