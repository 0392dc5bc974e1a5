/*  Kolvex - FFmpeg's process-wide state, in one place
 *
 *  What FFmpeg keeps for the whole process is set here, once, by the first
 *  user on any thread (a video layer, a capture's encoder, a live stream):
 *
 *    - its log kept off the terminal: each thread's last error line is
 *      kept for that thread, so that a failure is explained by what FFmpeg
 *      said during that call, never by what another thread's call said;
 *    - its devices registered (V4L2 cameras and outputs), when built with
 *      libavdevice.
 *
 *  And what every user of FFmpeg holds its objects in: owners that free
 *  them (a decoder, an encoder, a frame, a packet, an opened input, a
 *  resampler).
 *
 *  Only for code built with FFmpeg's libraries.
 */
#ifndef KOLVEX_FFMPEG_PROCESS_H
#define KOLVEX_FFMPEG_PROCESS_H

#include <memory>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace ffmpeg_process {

// The setup above; any thread, any number of times.
void set_up();

// The last error line FFmpeg logged on this thread since the previous
// call (without "[name @ address]" and the line's end); empty when none.
std::string take_error_line();

struct CodecFree {
  void operator()(AVCodecContext *c) const;
};
struct FrameFree {
  void operator()(AVFrame *f) const;
};
struct PacketFree {
  void operator()(AVPacket *p) const;
};
struct InputClose {  // an input opened by avformat_open_input
  void operator()(AVFormatContext *f) const;
};
struct ResamplerFree {
  void operator()(SwrContext *s) const;
};
typedef std::unique_ptr<AVCodecContext, CodecFree> Codec;
typedef std::unique_ptr<AVFrame, FrameFree> Frame;
typedef std::unique_ptr<AVPacket, PacketFree> Packet;
typedef std::unique_ptr<AVFormatContext, InputClose> Input;
typedef std::unique_ptr<SwrContext, ResamplerFree> Resampler;

}  // namespace ffmpeg_process

#endif
