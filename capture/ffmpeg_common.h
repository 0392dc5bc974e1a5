/*  Kolvex capture - what the FFmpeg outputs share
 *
 *  The capture's files (ffmpeg_writer.h) and the live stream
 *  (live_stream.h) open their video encoder, own FFmpeg's objects and
 *  explain FFmpeg's failures the same way:
 *
 *    - FFmpeg's log is kept off the terminal (ffmpeg_process.h); the error
 *      line it logged during the failed call on the same thread, when it
 *      says more than the error code, goes into the one-line reasons;
 *    - the encoders of each container (Encoding);
 *    - every FFmpeg object is held by a unique_ptr that frees it;
 *    - the video encoder gets the size, the rate (time base 1/fps), the
 *      colours bgrx_to_yuv420 makes, and the crf and preset checked against
 *      the ranges the encoder takes, with one line when it refuses them.
 *
 *  Internal to the capture library: only its FFmpeg modules include it.
 */
#ifndef KOLVEX_CAPTURE_FFMPEG_COMMON_H
#define KOLVEX_CAPTURE_FFMPEG_COMMON_H

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <memory>
#include <string>

#include "ffmpeg_process.h"

namespace capture {
namespace ff {

// FFmpeg's process-wide setup (once a process); this thread's last error
// line forgotten.
void set_up();
// This thread's last error line forgotten: before a call whose failure
// reason() may explain.
void forget_log();
std::string av_error(int code);
// The error code's text, with the error line FFmpeg logged on this thread
// since forget_log() when it says more.
std::string reason(int code);

struct MuxerFree {
  void operator()(AVFormatContext *m) const;  // its file or connection closed too
};
typedef std::unique_ptr<AVFormatContext, MuxerFree> Muxer;
using ffmpeg_process::Codec;
using ffmpeg_process::Frame;
using ffmpeg_process::Packet;

// A picture of `format`, w x h, its buffers allocated; null without memory.
Frame new_picture(AVPixelFormat format, int w, int h);

// What a video encoder is asked for.
struct VideoSettings {
  const char *encoder;       // libx264, libvpx-vp9, rawvideo
  AVPixelFormat pix_fmt = AV_PIX_FMT_YUV420P;
  int width = 0, height = 0, fps = 0;
  int gop = 0;               // frames between keyframes; 0: the encoder's own
  // Quality, for encoders that have it (crf_max > 0): crf 0..crf_max,
  // -1 crf_default; the preset under the encoder option preset_option, ""
  // preset_default; presets lists its values for the message.
  int crf = -1, crf_max = 0, crf_default = 0;
  const char *preset_option = "";
  std::string preset;
  const char *preset_default = "", *presets = "";
  const char *options = "";  // more encoder options, "key=value:..."
};

// What each container of the capture is given; the live stream's H.264 is
// the mp4 row's.
struct Encoding {
  const char *format;         // muxer name and file extension
  const char *video_encoder;
  int crf_max, crf_default;   // crf from 0
  const char *preset_option;  // the encoder option a preset sets
  const char *preset_default;
  const char *presets;        // its values, for messages
  const char *video_options;  // more encoder options, "key=value:..."
  const char *audio_encoder;
  int audio_rate;             // 0: the input's
  int64_t audio_bit_rate;
  const char *audio_options;  // as video_options
};
// "mp4" or "webm"; null for others.
const Encoding *find_encoding(const std::string &format);
// The row's video encoder at this size and rate, crf and preset as asked.
VideoSettings video_settings(const Encoding &e, int width, int height, int fps, int crf,
                             const std::string &preset);

// Whether the encoder takes crf and preset as asked (-1 / "": its
// defaults); false with one line naming the encoder and what it takes.
// Checked before anything is created, and again where it is opened.
bool check_quality(const VideoSettings &settings, std::string &why);

// The encoder opened for `mux` and its stream added (time base 1/fps).
// False with the reason in `why` (without the output's name).
bool open_video(AVFormatContext *mux, const VideoSettings &settings, Codec &codec,
                AVStream *&stream, std::string &why);
// A stream for the opened encoder `c` added to `mux` (another output of
// the same encoder).
bool add_stream(AVFormatContext *mux, const AVCodecContext *c, AVStream *&stream,
                std::string &why);

// Sends `frame` to the encoder (null: drains it) and writes the packets it
// has ready into the stream. 0, or FFmpeg's error; `muxing` tells whether
// writing (not encoding) failed.
int encode_into(AVFormatContext *mux, AVCodecContext *c, AVStream *st, AVPacket *packet,
                const AVFrame *frame, bool &muxing);

}  // namespace ff
}  // namespace capture

#endif
