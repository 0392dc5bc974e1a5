/*  Kolvex capture - MP4 and WebM through FFmpeg's libraries
 *
 *  One muxer (libavformat) with a video encoder and, given a sound rate,
 *  an audio encoder (libavcodec), the sound resampled and converted by
 *  libswresample:
 *
 *    mp4   libx264, yuv420p, CRF 18 (0-51), preset superfast; AAC stereo
 *          192 kb/s at the input's rate; "+faststart": the index comes
 *          first, so the file plays while it downloads
 *    webm  libvpx-vp9 in constant quality, CRF 32 (0-63), deadline
 *          realtime (good, best), row multi-threading; Opus 48 kHz
 *          stereo 128 kb/s
 *
 *  Frame n has time stamp n in the time base 1/fps; the sound starts at
 *  time 0. Conversion (shared out on the options' pool, when given),
 *  encoding and muxing run on a thread of the writer's own (frame_sink.h):
 *  write() and write_audio() return once the frame is copied and queued,
 *  and a failure of the encoders or the file shows at a later call or at
 *  close(). FFmpeg's own log is silenced; its last error, when it explains
 *  a failure, goes into the writer's error().
 */
#ifndef KOLVEX_CAPTURE_FFMPEG_WRITER_H
#define KOLVEX_CAPTURE_FFMPEG_WRITER_H

#include "frame_writer.h"

namespace capture {

// options.format "mp4" or "webm".
std::unique_ptr<FrameWriter> open_ffmpeg_writer(const WriterOptions &options, std::string &err);

}  // namespace capture

#endif
