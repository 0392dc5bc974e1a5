#include "ffmpeg_common.h"

extern "C" {
#include <libavutil/opt.h>
}

#include "ffmpeg_process.h"

namespace capture {
namespace ff {

namespace {

// Whether `name` is one of the comma-separated `list`.
bool listed(const std::string &name, const std::string &list) {
  for (size_t at = 0; at < list.size();) {
    size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    if (list.compare(at, end - at, name) == 0) return true;
    at = list.find_first_not_of(' ', end + 1);
  }
  return false;
}

}  // namespace

const Encoding kEncodings[] = {
    // x264's superfast keeps a capture of the whole intro above 8x real
    // time on two cores (about 9x); veryfast takes 40% more processor time.
    // The AAC encoder's default search would cost a fifth of x264's time,
    // its fast one a quarter of that.
    {"mp4", "libx264", 51, 18, "preset", "superfast",
     "ultrafast, superfast, veryfast, faster, fast, medium, slow, slower, veryslow, placebo", "",
     "aac", 0, 192000, "aac_coder=fast"},
    // Tiles and row threads let libvpx use every core; cpu-used 8 is its
    // fastest setting, deadline chooses the mode.
    {"webm", "libvpx-vp9", 63, 32, "deadline", "realtime", "realtime, good, best",
     "row-mt=1:tile-columns=1:cpu-used=8", "libopus", 48000, 128000, ""},
};

const Encoding *find_encoding(const std::string &format) {
  for (const Encoding &e : kEncodings)
    if (format == e.format) return &e;
  return nullptr;
}

VideoSettings video_settings(const Encoding &e, int width, int height, int fps, int crf,
                             const std::string &preset) {
  VideoSettings v;
  v.encoder = e.video_encoder;
  v.width = width;
  v.height = height;
  v.fps = fps;
  v.crf = crf;
  v.crf_max = e.crf_max;
  v.crf_default = e.crf_default;
  v.preset_option = e.preset_option;
  v.preset = preset;
  v.preset_default = e.preset_default;
  v.presets = e.presets;
  v.options = e.video_options;
  return v;
}

void set_up() {
  ffmpeg_process::set_up();
  forget_log();
}

void forget_log() { ffmpeg_process::take_error_line(); }

std::string av_error(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE];
  av_strerror(code, text, sizeof text);
  return text;
}

std::string reason(int code) {
  const std::string logged = ffmpeg_process::take_error_line();
  return logged.empty() || logged == av_error(code) ? av_error(code)
                                                    : av_error(code) + " (" + logged + ")";
}

void MuxerFree::operator()(AVFormatContext *m) const {
  if (m->pb && !(m->oformat->flags & AVFMT_NOFILE)) avio_closep(&m->pb);
  avformat_free_context(m);
}

Frame new_picture(AVPixelFormat format, int w, int h) {
  Frame f(av_frame_alloc());
  if (!f) return nullptr;
  f->format = format;
  f->width = w;
  f->height = h;
  if (av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
  return f;
}

bool check_quality(const VideoSettings &s, std::string &why) {
  if (s.crf_max <= 0) return true;
  const std::string name = s.encoder;
  if (s.crf != -1 && (s.crf < 0 || s.crf > s.crf_max)) {
    why = name + " refuses crf " + std::to_string(s.crf) + " (it takes 0 to " +
          std::to_string(s.crf_max) + ")";
    return false;
  }
  // Checked here: libx264 would print its own complaint on the terminal.
  const std::string preset = s.preset.empty() ? s.preset_default : s.preset;
  if (!listed(preset, s.presets)) {
    why = name + " refuses preset " + preset + " (" + s.presets + ")";
    return false;
  }
  return true;
}

bool open_video(AVFormatContext *mux, const VideoSettings &s, Codec &codec, AVStream *&stream,
                std::string &why) {
  const std::string name = s.encoder;
  if (!check_quality(s, why)) return false;
  const AVCodec *found = avcodec_find_encoder_by_name(s.encoder);
  if (!found) {
    why = "this FFmpeg has no " + name + " encoder";
    return false;
  }
  codec.reset(avcodec_alloc_context3(found));
  AVCodecContext *c = codec.get();
  if (!c) {
    why = av_error(AVERROR(ENOMEM));
    return false;
  }
  if (mux->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  c->width = s.width;
  c->height = s.height;
  c->pix_fmt = s.pix_fmt;
  c->time_base = AVRational{1, s.fps};
  c->framerate = AVRational{s.fps, 1};
  c->sample_aspect_ratio = AVRational{1, 1};
  c->color_range = AVCOL_RANGE_MPEG;  // what bgrx_to_yuv420 makes
  c->colorspace = AVCOL_SPC_SMPTE170M;
  c->chroma_sample_location = AVCHROMA_LOC_CENTER;
  c->bit_rate = 0;      // quality, not rate: with crf, constant quality
  c->thread_count = 0;  // every core
  if (s.gop > 0) c->gop_size = s.gop;

  const std::string preset = s.preset.empty() ? s.preset_default : s.preset;
  const std::string refused = name + " refuses preset " + preset + " (" + s.presets + ")";
  if (s.crf_max > 0) {
    const int crf = s.crf >= 0 ? s.crf : s.crf_default;
    if (av_opt_set_int(c->priv_data, "crf", crf, 0) < 0) {
      why = name + " refuses crf " + std::to_string(crf);
      return false;
    }
    if (av_opt_set(c->priv_data, s.preset_option, preset.c_str(), 0) < 0) {
      why = refused;
      return false;
    }
  }
  AVDictionary *opts = nullptr;
  av_dict_parse_string(&opts, s.options, "=", ":", 0);
  forget_log();
  int r = avcodec_open2(c, c->codec, &opts);
  av_dict_free(&opts);
  if (r < 0) {
    // libx264 checks its preset only here, and says so in its log.
    const std::string err = reason(r);
    why = s.crf_max > 0 && err.find("preset") != std::string::npos ? refused
                                                                   : "can't start " + name + ": " + err;
    return false;
  }
  return add_stream(mux, c, stream, why);
}

bool add_stream(AVFormatContext *mux, const AVCodecContext *c, AVStream *&stream,
                std::string &why) {
  stream = avformat_new_stream(mux, nullptr);
  if (!stream || avcodec_parameters_from_context(stream->codecpar, c) < 0) {
    why = av_error(AVERROR(ENOMEM));
    return false;
  }
  stream->time_base = c->time_base;
  stream->avg_frame_rate = stream->r_frame_rate = c->framerate;
  return true;
}

int encode_into(AVFormatContext *mux, AVCodecContext *c, AVStream *st, AVPacket *packet,
                const AVFrame *frame, bool &muxing) {
  muxing = false;
  forget_log();
  int r = avcodec_send_frame(c, frame);
  while (r >= 0) {
    r = avcodec_receive_packet(c, packet);
    if (r < 0) break;
    av_packet_rescale_ts(packet, c->time_base, st->time_base);
    packet->stream_index = st->index;
    r = av_interleaved_write_frame(mux, packet);
    if (r < 0) {
      muxing = true;
      return r;
    }
  }
  return r == AVERROR(EAGAIN) || r == AVERROR_EOF ? 0 : r;
}

}  // namespace ff
}  // namespace capture
