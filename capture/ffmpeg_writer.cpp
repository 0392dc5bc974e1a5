#include "ffmpeg_writer.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <memory>

#include "ffmpeg_common.h"
#include "frame_sink.h"
#include "pending_file.h"
#include "yuv_planes.h"

namespace capture {

namespace {

using ff::Encoding;
using ff::av_error;
using ff::Codec;
using ff::Frame;
using ff::reason;

struct ResamplerFree {
  void operator()(SwrContext *s) const { swr_free(&s); }
};
struct FifoFree {
  void operator()(AVAudioFifo *f) const { av_audio_fifo_free(f); }
};

// An audio frame of the encoder's format holding at least `samples`.
bool reserve(AVFrame *f, const AVCodecContext *c, int samples) {
  if (f->data[0] && f->nb_samples >= samples) return true;
  av_frame_unref(f);
  f->format = c->sample_fmt;
  f->sample_rate = c->sample_rate;
  f->nb_samples = samples;
  return av_channel_layout_copy(&f->ch_layout, &c->ch_layout) >= 0 &&
         av_frame_get_buffer(f, 0) >= 0;
}

// Conversion, encoding and muxing run on the sink's thread (frame_sink.h):
// the caller copies a frame and goes on to render the next while the
// encoders work. Every FFmpeg call after open() is made on that thread.
class FfmpegWriter : public FrameWriter {
 public:
  FfmpegWriter(const WriterOptions &o, const Encoding &e)
      : o_(o), enc_(e), file_(o.dir + "/" + o.name + "." + e.format) {}
  ~FfmpegWriter() override;

  bool open(std::string &err);
  bool write(const uint8_t *bgrx, int pitch) override;
  bool write_audio(const int16_t *stereo, int frames) override;
  bool close() override;
  std::string describe() const override { return file_.path(); }

 private:
  static constexpr int kPictures = 3;  // in the queue and being encoded

  Codec new_encoder(const char *name, std::string &err) const;
  bool open_video(std::string &err);
  bool open_audio(std::string &err);
  // The sink's thread.
  FrameSink::Outcome perform(const FrameSink::Frame &frame, std::string &why);
  bool finish(std::string &why);
  bool encode(AVCodecContext *c, AVStream *st, const AVFrame *frame);
  bool resample(const uint8_t *const *in, int frames);
  bool encode_sound(bool last);
  bool finish_streams();
  bool stop(const std::string &why);  // the thread's failure
  std::string about(const std::string &what) const { return file_.path() + ": " + what; }

  WriterOptions o_;
  const Encoding &enc_;
  PendingFile file_;  // before the muxer: the file is closed before it is removed
  ff::Muxer mux_;
  Codec video_, audio_;
  AVStream *video_st_ = nullptr, *audio_st_ = nullptr;
  Frame picture_, sound_{av_frame_alloc()}, resampled_{av_frame_alloc()};
  ff::Packet packet_{av_packet_alloc()};
  std::unique_ptr<SwrContext, ResamplerFree> resampler_;
  std::unique_ptr<AVAudioFifo, FifoFree> fifo_;
  int frame_size_ = 0;  // the audio encoder's
  int64_t audio_pts_ = 0;
  bool closed_ = false;
  std::string thread_error_;  // the sink's thread's, handed back by the sink
  std::unique_ptr<FrameSink> sink_;  // last: its thread ends before the rest goes
};

bool FfmpegWriter::open(std::string &err) {
  ff::set_up();
  if (!sound_ || !resampled_ || !packet_) {
    err = about(av_error(AVERROR(ENOMEM)));
    return false;
  }
  // "file:" keeps a colon in the directory's name from naming a protocol.
  const std::string url = "file:" + file_.temp_path();
  AVFormatContext *m = nullptr;
  if (avformat_alloc_output_context2(&m, nullptr, enc_.format, url.c_str()) < 0 || !m) {
    err = about(std::string("this FFmpeg has no ") + enc_.format + " muxer");
    return false;
  }
  mux_.reset(m);
  // The encoders first: a refused setting creates no file.
  if (!open_video(err) || (o_.audio_rate > 0 && !open_audio(err))) return false;
  picture_ = ff::new_picture(video_->pix_fmt, o_.width, o_.height);
  if (!picture_) {
    err = about(av_error(AVERROR(ENOMEM)));
    return false;
  }
  int r = avio_open(&mux_->pb, url.c_str(), AVIO_FLAG_WRITE);
  AVDictionary *opts = nullptr;
  if (r >= 0 && std::string(enc_.format) == "mp4") {
    av_dict_set(&opts, "movflags", "+faststart", 0);
    av_dict_set_int(&opts, "video_track_timescale", o_.fps, 0);  // time base 1/fps
  }
  if (r >= 0) r = avformat_write_header(mux_.get(), &opts);
  av_dict_free(&opts);
  if (r < 0) {
    err = "can't write " + file_.path() + ": " + reason(r);
    return false;
  }
  FrameSink::Writer writer;
  writer.write = [this](const FrameSink::Frame &f, std::string &why) { return perform(f, why); };
  writer.finish = [this](std::string &why) { return finish(why); };
  sink_.reset(new FrameSink(FrameSink::Policy::wait, o_.width, o_.height, kPictures, writer));
  return true;
}

FfmpegWriter::~FfmpegWriter() { sink_.reset(); }  // unclosed: the queue dropped

// The encoder `name`, not yet opened; null with the reason in `err`.
Codec FfmpegWriter::new_encoder(const char *name, std::string &err) const {
  const AVCodec *codec = avcodec_find_encoder_by_name(name);
  if (!codec) {
    err = about(std::string("this FFmpeg has no ") + name + " encoder");
    return nullptr;
  }
  Codec c(avcodec_alloc_context3(codec));
  if (!c)
    err = about(av_error(AVERROR(ENOMEM)));
  else if (mux_->oformat->flags & AVFMT_GLOBALHEADER)
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  return c;
}

bool FfmpegWriter::open_video(std::string &err) {
  const ff::VideoSettings v =
      ff::video_settings(enc_, o_.width, o_.height, o_.fps, o_.crf, o_.preset);
  std::string why;
  if (ff::open_video(mux_.get(), v, video_, video_st_, why)) return true;
  err = about(why);
  return false;
}

bool FfmpegWriter::open_audio(std::string &err) {
  const std::string name = enc_.audio_encoder;
  audio_ = new_encoder(enc_.audio_encoder, err);
  AVCodecContext *c = audio_.get();
  if (!c) return false;
  const AVCodec *codec = c->codec;
  AVChannelLayout stereo;
  av_channel_layout_default(&stereo, 2);
  c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  c->sample_rate = enc_.audio_rate ? enc_.audio_rate : o_.audio_rate;
  c->bit_rate = enc_.audio_bit_rate;
  c->time_base = AVRational{1, c->sample_rate};
  AVDictionary *opts = nullptr;
  av_dict_parse_string(&opts, enc_.audio_options, "=", ":", 0);
  int r = av_channel_layout_copy(&c->ch_layout, &stereo);
  if (r >= 0) r = avcodec_open2(c, codec, &opts);
  av_dict_free(&opts);
  if (r < 0) {
    err = about("can't start " + name + ": " + reason(r));
    return false;
  }
  frame_size_ = c->frame_size > 0 ? c->frame_size : 1024;
  SwrContext *s = nullptr;
  r = swr_alloc_set_opts2(&s, &c->ch_layout, c->sample_fmt, c->sample_rate, &stereo,
                          AV_SAMPLE_FMT_S16, o_.audio_rate, 0, nullptr);
  resampler_.reset(s);
  if (r >= 0) r = swr_init(s);
  if (r < 0) {
    err = about("can't convert the sound for " + name + ": " + reason(r));
    return false;
  }
  audio_st_ = avformat_new_stream(mux_.get(), nullptr);
  fifo_.reset(av_audio_fifo_alloc(c->sample_fmt, 2, 4 * frame_size_));
  if (!audio_st_ || !fifo_ || avcodec_parameters_from_context(audio_st_->codecpar, c) < 0 ||
      !reserve(sound_.get(), c, frame_size_)) {
    err = about(av_error(AVERROR(ENOMEM)));
    return false;
  }
  audio_st_->time_base = c->time_base;
  return true;
}

// --- the caller's side --------------------------------------------------------
bool FfmpegWriter::write(const uint8_t *bgrx, int pitch) {
  if (closed_) return fail(about("closed"));
  return sink_->offer(bgrx, pitch) || fail(sink_->error());
}

bool FfmpegWriter::write_audio(const int16_t *stereo, int frames) {
  if (closed_) return fail(about("closed"));
  if (!audio_ || frames <= 0) return true;
  return sink_->offer_sound(stereo, frames) || fail(sink_->error());
}

bool FfmpegWriter::close() {
  if (closed_) return fail(about("closed"));
  closed_ = true;
  const bool written = sink_->close();
  // The encoders' own threads end here, and the file is closed, even when
  // the process ends at once afterwards.
  video_.reset();
  audio_.reset();
  mux_.reset();
  if (!written) return fail(sink_->error());
  std::string err;
  return file_.commit(err) || fail(err);
}

// --- the encoding thread -------------------------------------------------------
FrameSink::Outcome FfmpegWriter::perform(const FrameSink::Frame &frame, std::string &why) {
  bool ok;
  if (frame.number >= 0) {
    AVFrame *f = picture_.get();
    ok = av_frame_make_writable(f) >= 0 || stop(about(av_error(AVERROR(ENOMEM))));
    if (ok) {
      bgrx_to_yuv420(frame.pixels.data(), o_.width * 4, o_.width, o_.height, f->data,
                     f->linesize, o_.pool);
      f->pts = frame.number;
      ok = encode(video_.get(), video_st_, f);
    }
  } else {
    const uint8_t *in[1] = {(const uint8_t *)frame.sound.data()};
    ok = resample(in, (int)(frame.sound.size() / 2)) && encode_sound(false);
  }
  if (ok) return FrameSink::Outcome::written;
  why = thread_error_;
  return FrameSink::Outcome::failed;
}

bool FfmpegWriter::finish(std::string &why) {
  if (finish_streams()) return true;
  why = thread_error_;
  return false;
}

bool FfmpegWriter::stop(const std::string &why) {
  thread_error_ = why;
  return false;
}

// Sends one frame (null: the end) and writes what the encoder has ready.
bool FfmpegWriter::encode(AVCodecContext *c, AVStream *st, const AVFrame *frame) {
  bool muxing = false;
  const int r = ff::encode_into(mux_.get(), c, st, packet_.get(), frame, muxing);
  if (r >= 0) return true;
  if (muxing) return stop("can't write " + file_.path() + ": " + reason(r));
  return stop(about(std::string(c->codec->name) + " failed: " + reason(r)));
}

// Converts `frames` input samples (none: what the resampler still holds)
// into the queue of the encoder's frames.
bool FfmpegWriter::resample(const uint8_t *const *in, int frames) {
  const int room = swr_get_out_samples(resampler_.get(), frames);
  if (room < 0 || !reserve(resampled_.get(), audio_.get(), std::max(room, 1)))
    return stop(about(av_error(AVERROR(ENOMEM))));
  const int n = swr_convert(resampler_.get(), resampled_->data, room, (const uint8_t **)in, frames);
  if (n < 0) return stop(about("can't convert the sound: " + reason(n)));
  if (n > 0 && av_audio_fifo_write(fifo_.get(), (void **)resampled_->data, n) < n)
    return stop(about(av_error(AVERROR(ENOMEM))));
  return true;
}

// Encodes every whole frame in the queue; at the last, the rest too.
bool FfmpegWriter::encode_sound(bool last) {
  const bool short_ok = audio_->codec->capabilities &
                        (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  AVFrame *f = sound_.get();
  for (int queued; (queued = av_audio_fifo_size(fifo_.get())) >= frame_size_ || (last && queued);) {
    const int n = std::min(queued, frame_size_);
    f->nb_samples = frame_size_;
    if (av_frame_make_writable(f) < 0) return stop(about(av_error(AVERROR(ENOMEM))));
    if (av_audio_fifo_read(fifo_.get(), (void **)f->data, n) < n)
      return stop(about(av_error(AVERROR(ENOMEM))));
    if (n < frame_size_ && !short_ok) {
      av_samples_set_silence(f->data, n, frame_size_ - n, 2, audio_->sample_fmt);
    } else {
      f->nb_samples = n;
    }
    f->pts = audio_pts_;
    audio_pts_ += f->nb_samples;
    if (!encode(audio_.get(), audio_st_, f)) return false;
  }
  return true;
}

// The end: what the resampler holds back, the last short sound frame, the
// encoders' delay, the trailer.
bool FfmpegWriter::finish_streams() {
  if (audio_ &&
      (!resample(nullptr, 0) || !encode_sound(true) || !encode(audio_.get(), audio_st_, nullptr)))
    return false;
  if (!encode(video_.get(), video_st_, nullptr)) return false;
  int r = av_write_trailer(mux_.get());
  if (r >= 0) r = avio_closep(&mux_->pb);
  return r >= 0 || stop("can't write " + file_.path() + ": " + reason(r));
}

}  // namespace

std::unique_ptr<FrameWriter> open_ffmpeg_writer(const WriterOptions &o, std::string &err) {
  const Encoding *e = ff::find_encoding(o.format);
  if (!e) {
    err = "unknown format " + o.format;
    return nullptr;
  }
  std::unique_ptr<FfmpegWriter> w(new FfmpegWriter(o, *e));
  if (!w->open(err)) return nullptr;
  return w;
}

}  // namespace capture
