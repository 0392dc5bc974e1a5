#include "live_stream.h"

#include <cstring>

namespace capture {

LiveStream::~LiveStream() {}

namespace {

// The protocols whose muxer the URL tells.
const struct Route {
  const char *prefix, *format;
} kRoutes[] = {{"udp://", "mpegts"}, {"srt://", "mpegts"}, {"tcp://", "mpegts"},
               {"rtmp://", "flv"},   {"rtmps://", "flv"},  {"/dev/video", "v4l2"}};

}  // namespace

std::string stream_format_for(const std::string &url) {
  for (const Route &r : kRoutes)
    if (url.compare(0, strlen(r.prefix), r.prefix) == 0) return r.format;
  return "";
}

}  // namespace capture

#ifndef KOLVEX_HAVE_FFMPEG

namespace capture {
std::unique_ptr<LiveStream> open_live_stream(const StreamOptions &o, std::string &err) {
  err = o.url + ": built without FFmpeg's libraries: nothing can be streamed";
  return nullptr;
}
}  // namespace capture

#else

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

#include "ffmpeg_common.h"
#include "frame_sink.h"
#include "yuv_planes.h"

namespace capture {

namespace {

typedef std::chrono::steady_clock Clock;

constexpr int kBuffers = 3;  // frames queued or being sent
constexpr std::chrono::seconds kRetry(2);         // between attempts to send again
constexpr std::chrono::seconds kCloseGrace(2);    // for a stuck receiver at the end
constexpr int64_t kNetworkTimeout = 5000000;      // us: a write that long means gone

bool raw_frames(const std::string &format) { return format == "v4l2"; }

class Stream : public LiveStream {
 public:
  Stream(const StreamOptions &o, const std::string &format) : o_(o), format_(format) {}
  ~Stream() override { close(); }

  bool open(std::string &err);
  bool offer(const uint8_t *bgrx, int pitch) override;
  int64_t offered() const override { return sink_ ? sink_->offered() : 0; }
  int64_t dropped() const override { return sink_ ? sink_->dropped() : 0; }
  void close() override;
  std::string describe() const override {
    return o_.url + " (" + format_ + ", " + (raw_frames(format_) ? "raw yuv420p" : "H.264") + ")";
  }

 private:
  // The muxer, the encoder (the one from before, when there is one) and
  // the header.
  bool connect(std::string &why);
  bool open_encoder(std::string &why);
  // On the sink's thread.
  FrameSink::Outcome send(const FrameSink::Frame &frame);
  void finish();  // the encoder drained, the trailer
  void lose(const std::string &why);
  void tell(const std::string &what, bool detail) const {
    if (o_.tell && !abort_) o_.tell(o_.url + ": " + what, detail);
  }
  static int interrupt(void *self) { return static_cast<Stream *>(self)->abort_.load(); }

  const StreamOptions o_;
  const std::string format_;
  // The output: made by open(), then only by the sink's thread.
  ff::Muxer mux_;
  ff::Codec video_;
  AVStream *st_ = nullptr;
  ff::Frame picture_;
  bool key_next_ = false;  // the next frame a keyframe: a receiver joined
  ff::Packet packet_{av_packet_alloc()};
  Clock::time_point retry_at_;
  std::vector<std::string> told_;  // why attempts failed since the receiver went

  std::atomic<bool> abort_{false};  // FFmpeg's calls return at once
  std::unique_ptr<FrameSink> sink_;  // last: its thread ends before the rest goes
};

bool Stream::open(std::string &err) {
  std::string why;
  if (!packet_) why = ff::av_error(AVERROR(ENOMEM));
  if (why.empty() && connect(why)) {
    FrameSink::Writer writer;
    writer.write = [this](const FrameSink::Frame &f, std::string &) { return send(f); };
    writer.finish = [this](std::string &) {
      finish();
      return true;
    };
    sink_.reset(new FrameSink(FrameSink::Policy::drop, o_.width, o_.height, kBuffers, writer));
    return true;
  }
  err = o_.url + ": " + why;
  return false;
}

bool Stream::connect(std::string &why) {
  mux_.reset();
  AVFormatContext *m = nullptr;
  if (avformat_alloc_output_context2(&m, nullptr, format_.c_str(), o_.url.c_str()) < 0 || !m) {
    why = "this FFmpeg has no " + format_ + " muxer";
    return false;
  }
  mux_.reset(m);
  m->interrupt_callback = AVIOInterruptCB{interrupt, this};
  if (!(video_ ? ff::add_stream(m, video_.get(), st_, why) : open_encoder(why))) return false;
  AVDictionary *opts = nullptr;
  int r = 0;
  if (!(m->oformat->flags & AVFMT_NOFILE)) {
    av_dict_set_int(&opts, "rw_timeout", kNetworkTimeout, 0);
    av_dict_set_int(&opts, "pkt_size", 1316, 0);  // seven TS packets a datagram (udp)
    ff::forget_log();
    r = avio_open2(&m->pb, o_.url.c_str(), AVIO_FLAG_WRITE, &m->interrupt_callback, &opts);
    av_dict_free(&opts);
  }
  av_dict_set(&opts, "flush_packets", "1", 0);  // each frame out as it is made
  if (r >= 0) r = avformat_write_header(m, &opts);
  av_dict_free(&opts);
  if (r < 0) {
    why = "can't send there: " + ff::reason(r);
    return false;
  }
  key_next_ = true;  // a receiver starts at a keyframe
  return true;
}

bool Stream::open_encoder(std::string &why) {
  ff::VideoSettings v;
  if (raw_frames(format_)) {
    v.encoder = "rawvideo";
  } else {
    v = ff::video_settings(*ff::find_encoding("mp4"), o_.width, o_.height, o_.fps, o_.crf,
                           o_.preset);
    v.options = "tune=zerolatency";
  }
  v.width = o_.width;
  v.height = o_.height;
  v.fps = o_.fps;
  v.gop = o_.fps;  // a keyframe a second
  if (ff::open_video(mux_.get(), v, video_, st_, why)) {
    picture_ = ff::new_picture(video_->pix_fmt, o_.width, o_.height);
    if (picture_) return true;
    why = ff::av_error(AVERROR(ENOMEM));
  }
  video_.reset();  // the next attempt starts it again
  return false;
}

bool Stream::offer(const uint8_t *bgrx, int pitch) { return sink_->offer(bgrx, pitch); }

FrameSink::Outcome Stream::send(const FrameSink::Frame &frame) {
  if (!mux_ && !abort_ && Clock::now() >= retry_at_) {
    std::string why;
    if (connect(why)) {
      told_.clear();
      tell("sending again", false);
    } else {
      if (std::find(told_.begin(), told_.end(), why) == told_.end()) {
        told_.push_back(why);
        tell(why, true);
      }
      mux_.reset();
      retry_at_ = Clock::now() + kRetry;
    }
  }
  if (!mux_) return FrameSink::Outcome::dropped;
  AVFrame *f = picture_.get();
  if (av_frame_make_writable(f) < 0) return FrameSink::Outcome::dropped;
  bgrx_to_yuv420(frame.pixels.data(), o_.width * 4, o_.width, o_.height, f->data, f->linesize,
                 o_.pool);
  f->pts = frame.number;
  f->pict_type = key_next_ ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  key_next_ = false;
  bool muxing = false;
  const int r = ff::encode_into(mux_.get(), video_.get(), st_, packet_.get(), f, muxing);
  if (r >= 0) return FrameSink::Outcome::written;
  if (muxing) {
    lose("the receiver is gone (" + ff::reason(r) + ")");
  } else {
    lose(std::string(video_->codec->name) + " failed: " + ff::reason(r));
    video_.reset();  // made anew with the next connection
  }
  return FrameSink::Outcome::dropped;
}

void Stream::lose(const std::string &why) {
  tell(why + "; trying again every 2 s, the show goes on", false);
  mux_.reset();
  retry_at_ = Clock::now() + kRetry;
}

void Stream::finish() {
  if (!mux_) return;
  bool muxing = false;
  if (ff::encode_into(mux_.get(), video_.get(), st_, packet_.get(), nullptr, muxing) >= 0)
    av_write_trailer(mux_.get());
  video_.reset();
  mux_.reset();
}

void Stream::close() {
  if (!sink_) return;
  sink_->end();
  // A receiver that takes nothing more is given up on: FFmpeg's calls
  // return at once from here on.
  if (!sink_->ended_within(kCloseGrace)) abort_ = true;
  sink_->close();
}

}  // namespace

std::unique_ptr<LiveStream> open_live_stream(const StreamOptions &o, std::string &err) {
  ff::set_up();  // the v4l2 muxer registered too
  std::string format = !o.format.empty() ? o.format : stream_format_for(o.url);
  const size_t scheme = o.url.find("://");
  if (scheme != std::string::npos && !avio_find_protocol_name(o.url.c_str())) {
    err = o.url + ": this FFmpeg has no protocol " + o.url.substr(0, scheme);
    return nullptr;
  }
  if (format.empty()) {
    const AVOutputFormat *guessed = av_guess_format(nullptr, o.url.c_str(), nullptr);
    if (!guessed) {
      err = o.url + ": no format follows from it; --stream-format names one (mpegts, flv, v4l2)";
      return nullptr;
    }
    format = guessed->name;
  }
  if (raw_frames(format) && (o.crf >= 0 || !o.preset.empty())) {
    err = o.url + ": raw frames for a V4L2 device take no --crf or --preset";
    return nullptr;
  }
  std::unique_ptr<Stream> s(new Stream(o, format));
  if (!s->open(err)) return nullptr;
  return s;
}

}  // namespace capture

#endif
