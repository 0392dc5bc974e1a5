#include "video_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstring>

#include "ffmpeg_process.h"

void AVFrameFree::operator()(AVFrame *f) const { av_frame_free(&f); }

namespace {

std::string av_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// The "j" formats are their plain ones at full range; libswscale warns
// about them and takes the range from the format, not from the frame.
AVPixelFormat plain_format(int format, bool &full) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P: full = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: full = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: full = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: full = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: full = true; return AV_PIX_FMT_YUV411P;
    default: return (AVPixelFormat)format;
  }
}

// An enum field's value as the decoder left it: a damaged stream can put
// any number there, which is no value of the enum to read it as.
template <typename E>
int raw_value(const E &field) {
  static_assert(sizeof(E) == sizeof(int), "an int-sized enum");
  int v;
  memcpy(&v, &field, sizeof v);
  return v;
}

// libswscale's matrix for a stream's colour space; unnamed ones as players
// guess them, by size.
int sws_space(int space, int width, int height) {
  switch (space) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    default: return width >= 1280 || height > 576 ? SWS_CS_ITU709 : SWS_CS_ITU601;
  }
}

// What FFmpeg takes the file's first bytes for, its name aside: tells a
// damaged clip from a file that never was one.
const char *probed_format(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  uint8_t head[4096 + AVPROBE_PADDING_SIZE] = {};
  const size_t n = fread(head, 1, 4096, f);
  fclose(f);
  AVProbeData probe{};
  probe.buf = head;
  probe.buf_size = (int)n;
  probe.filename = "";
  int score = 0;
  const AVInputFormat *in = av_probe_input_format2(&probe, 1, &score);
  return in && score > AVPROBE_SCORE_EXTENSION ? in->name : nullptr;
}

}  // namespace

// FFmpeg's own log is kept quiet: the layer tells what went wrong in its
// own line.
VideoDecoder::VideoDecoder() { ffmpeg_process::set_up(); }

VideoDecoder::~VideoDecoder() { close(); }

void VideoDecoder::close() {
  av_packet_free(&packet_);
  avcodec_free_context(&codec_);
  avformat_close_input(&fmt_);
  stream_ = -1;
  draining_ = false;
}

const char *VideoDecoder::codec_name() const {
  return codec_ ? avcodec_get_name(codec_->codec_id) : "none";
}

int VideoDecoder::interrupted(void *self) {
  return static_cast<VideoDecoder *>(self)->cancelled_.load() ? 1 : 0;
}

bool VideoDecoder::open(const std::string &path, std::string &err) {
  close();
  path_ = path;
  origin_ = INT64_MIN;
  camera_ = path.compare(0, 10, "/dev/video") == 0;
  return open_input(err) && open_codec(err);
}

bool VideoDecoder::open_input(std::string &err) {
  const AVInputFormat *in = nullptr;
  if (camera_) {
#ifdef KOLVEX_HAVE_AVDEVICE
    in = av_find_input_format("video4linux2");
#endif
    if (!in) {
      err = "cameras need FFmpeg's libavdevice, not built in";
      return false;
    }
  }
  fmt_ = avformat_alloc_context();
  if (!fmt_) {
    err = "out of memory";
    return false;
  }
  fmt_->interrupt_callback.callback = &VideoDecoder::interrupted;
  fmt_->interrupt_callback.opaque = this;
  int r = avformat_open_input(&fmt_, path_.c_str(), in, nullptr);  // frees fmt_ on failure
  if (r < 0) {
    if (camera_) err = "can't open the camera: " + av_text(r);
    else if (r != AVERROR_INVALIDDATA) err = av_text(r);
    else if (const char *kind = probed_format(path_))  // "mov,mp4,...": the first name
      err = std::string(kind, strcspn(kind, ",")) + " file, damaged or truncated";
    else err = "not a video file FFmpeg can read";
    return false;
  }
  r = avformat_find_stream_info(fmt_, nullptr);
  if (r < 0) {
    err = "no stream information (damaged or truncated?): " + av_text(r);
    return false;
  }
  // The first video stream that is not a cover picture.
  for (unsigned i = 0; i < fmt_->nb_streams; i++) {
    const AVStream *s = fmt_->streams[i];
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        !(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
      stream_ = (int)i;
      break;
    }
  }
  if (stream_ < 0) {
    bool audio = false;
    for (unsigned i = 0; i < fmt_->nb_streams; i++)
      audio |= fmt_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    err = audio ? "no video stream (sound only)" : "no video stream";
    return false;
  }
  for (unsigned i = 0; i < fmt_->nb_streams; i++)
    if ((int)i != stream_) fmt_->streams[i]->discard = AVDISCARD_ALL;
  return true;
}

bool VideoDecoder::open_codec(std::string &err) {
  AVStream *s = fmt_->streams[stream_];
  const AVCodecParameters *par = s->codecpar;
  const AVCodec *dec = avcodec_find_decoder(par->codec_id);
  if (!dec) {
    err = std::string("no decoder for ") + avcodec_get_name(par->codec_id) + " in this FFmpeg";
    return false;
  }
  width_ = par->width;
  height_ = par->height;
  if (width_ <= 0 || height_ <= 0) {
    err = "the video stream has no picture size";
    return false;
  }
  if (width_ > max_width || height_ > max_height || (uint64_t)width_ * height_ > max_pixels) {
    err = std::to_string(width_) + "x" + std::to_string(height_) +
          " is too large for a layer (at most " + std::to_string(max_width) + " wide, " +
          std::to_string(max_pixels) + " pixels)";
    return false;
  }
  codec_ = avcodec_alloc_context3(dec);
  packet_ = av_packet_alloc();
  if (!codec_ || !packet_ || avcodec_parameters_to_context(codec_, par) < 0) {
    err = "out of memory";
    return false;
  }
  // The budget holds for frames whose size changes midstream too.
  codec_->max_pixels = (int64_t)max_pixels;
  codec_->thread_count = 0;  // as many as the codec likes
  // Frame threads where the codec has them (H.264), else slices: frames
  // still come out in order with their times, only later.
  codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  codec_->pkt_timebase = s->time_base;
  int r = avcodec_open2(codec_, dec, nullptr);
  if (r < 0) {
    err = std::string("can't open the ") + dec->name + " decoder: " + av_text(r);
    return false;
  }
  time_base_ = av_q2d(s->time_base);
  const AVRational rate = av_guess_frame_rate(fmt_, s, nullptr);
  if (rate.num > 0 && rate.den > 0 && av_q2d(rate) < 1000) frame_dur_ = 1.0 / av_q2d(rate);
  const AVRational sar = av_guess_sample_aspect_ratio(fmt_, s, nullptr);
  pixel_aspect_ = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1;
  if (pixel_aspect_ < 0.1 || pixel_aspect_ > 10) pixel_aspect_ = 1;
  duration_ = fmt_->duration > 0 ? fmt_->duration / (double)AV_TIME_BASE : 0;
  return true;
}

int VideoDecoder::next(FramePtr &frame, double &pts, double &dur, std::string &err) {
  if (!codec_) {
    err = "not open";
    return -1;
  }
  for (;;) {
    const int got = receive(frame, pts, dur, err);
    if (got != 0 || draining_) return got == 2 ? 0 : got;
    // The codec wants more: the next packet of our stream.
    int r = av_read_frame(fmt_, packet_);
    if (r == AVERROR_EOF || (r < 0 && avio_feof(fmt_->pb))) {
      draining_ = true;
      avcodec_send_packet(codec_, nullptr);
      continue;
    }
    if (r < 0) {
      err = "read error: " + av_text(r);
      return -1;
    }
    if (packet_->stream_index == stream_) {
      r = avcodec_send_packet(codec_, packet_);
      // A damaged packet is skipped, as players do; the next key frame
      // brings the picture back.
      if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_INVALIDDATA) {
        av_packet_unref(packet_);
        err = "decoding error: " + av_text(r);
        return -1;
      }
    }
    av_packet_unref(packet_);
  }
}

// 1: a frame; 0: the codec needs a packet; 2: the codec has ended; -1: error.
int VideoDecoder::receive(FramePtr &frame, double &pts, double &dur, std::string &err) {
  if (!frame) frame.reset(av_frame_alloc());
  if (!frame) {
    err = "out of memory";
    return -1;
  }
  av_frame_unref(frame.get());
  const int r = avcodec_receive_frame(codec_, frame.get());
  if (r == AVERROR(EAGAIN)) return 0;
  if (r == AVERROR_EOF) return 2;
  if (r < 0) {
    err = "decoding error: " + av_text(r);
    return -1;
  }
  int64_t ts = frame->best_effort_timestamp;
  if (ts != AV_NOPTS_VALUE && origin_ == INT64_MIN) origin_ = ts;
  if (ts == AV_NOPTS_VALUE || origin_ == INT64_MIN) {
    pts = last_pts_ < 0 ? 0 : last_pts_ + frame_dur_;
  } else {
    pts = (double)(ts - origin_) * time_base_;
  }
  dur = frame->pkt_duration > 0 ? (double)frame->pkt_duration * time_base_ : frame_dur_;
  last_pts_ = pts;
  return 1;
}

bool VideoDecoder::seek(double seconds, std::string &err) {
  if (!fmt_) {
    err = "not open";
    return false;
  }
  if (!camera_) {
    const int64_t origin = origin_ == INT64_MIN ? 0 : origin_;
    const int64_t ts = origin + (int64_t)llround(seconds / time_base_);
    if (av_seek_frame(fmt_, stream_, ts, AVSEEK_FLAG_BACKWARD) >= 0 ||
        (seconds <= 0 && av_seek_frame(fmt_, stream_, origin, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) >= 0)) {
      avcodec_flush_buffers(codec_);
      draining_ = false;
      last_pts_ = -1;
      return true;
    }
  }
  // Open again; the first frame keeps its time as the origin.
  const int64_t origin = origin_;
  const int out_w = out_w_, out_h = out_h_;
  const bool crop = out_crop_;
  if (!open(path_, err)) return false;
  origin_ = origin;
  set_output(out_w, out_h, crop);
  if (seconds <= 0) return true;
  // Then forward as far as the demuxer lets us.
  const int64_t ts = (origin == INT64_MIN ? 0 : origin) + (int64_t)llround(seconds / time_base_);
  if (av_seek_frame(fmt_, stream_, ts, AVSEEK_FLAG_BACKWARD) >= 0) avcodec_flush_buffers(codec_);
  return true;
}

void VideoDecoder::set_output(int w, int h, bool crop) {
  out_w_ = w;
  out_h_ = h;
  out_crop_ = crop;
}

bool VideoDecoder::convert(AVFrame *frame, uint8_t *dst) {
  if (!frame || out_w_ <= 0 || out_h_ <= 0) return false;
  if (out_crop_ && frame->width > 0 && frame->height > 0) {
    // The middle of the frame with the output's aspect.
    const int64_t fw = frame->width, fh = frame->height;
    if (fw * out_h_ > fh * out_w_) {
      const int64_t keep = fh * out_w_ / out_h_;
      frame->crop_left = (size_t)((fw - keep) / 2);
      frame->crop_right = (size_t)(fw - keep - (fw - keep) / 2);
    } else {
      const int64_t keep = fw * out_h_ / out_w_;
      frame->crop_top = (size_t)((fh - keep) / 2);
      frame->crop_bottom = (size_t)(fh - keep - (fh - keep) / 2);
    }
    av_frame_apply_cropping(frame, 0);
  }
  bool full = raw_value(frame->color_range) == AVCOL_RANGE_JPEG;
  const AVPixelFormat src = plain_format(frame->format, full);
  const VideoScaler::Colours colours{
      sws_space(raw_value(frame->colorspace), frame->width, frame->height), full};
  // Bicubic, the chroma interpolated across the line, when the size changes
  // (a canvas shown larger): close to the clip shown at its size; otherwise
  // the fast path, which only scales the chroma.
  const bool same = frame->width == out_w_ && frame->height == out_h_;
  const int flags = same ? SWS_POINT : SWS_BICUBIC | SWS_FULL_CHR_H_INT;
  return scaler_.scale(frame, src, colours, flags, dst, out_w_, out_h_, pool_);
}
