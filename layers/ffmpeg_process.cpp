#include "ffmpeg_process.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
#ifdef KOLVEX_HAVE_AVDEVICE
#include <libavdevice/avdevice.h>
#endif
}

#include <cstdarg>
#include <mutex>

namespace ffmpeg_process {

namespace {

// Per thread: FFmpeg logs from the thread that made the call.
thread_local std::string last_error;

void keep_error_line(void *avcl, int level, const char *fmt, va_list args) {
  if (level > AV_LOG_ERROR) return;
  char line[512];
  int prefix = 0;  // no "[encoder @ address]"
  av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &prefix);
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  last_error = text;
}

}  // namespace

void set_up() {
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_callback(keep_error_line);
#ifdef KOLVEX_HAVE_AVDEVICE
    avdevice_register_all();
#endif
  });
}

std::string take_error_line() {
  std::string text;
  text.swap(last_error);
  return text;
}

void CodecFree::operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
void FrameFree::operator()(AVFrame *f) const { av_frame_free(&f); }
void PacketFree::operator()(AVPacket *p) const { av_packet_free(&p); }
void InputClose::operator()(AVFormatContext *f) const { avformat_close_input(&f); }
void ResamplerFree::operator()(SwrContext *s) const { swr_free(&s); }

}  // namespace ffmpeg_process
