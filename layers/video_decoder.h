/*  Kolvex - video decoding with FFmpeg
 *
 *  Opens a video file (or a V4L2 camera, /dev/video*, where libavdevice is
 *  built in), takes its first video stream and decodes it frame by frame in
 *  presentation order; sound and other streams are skipped unread. convert()
 *  turns a decoded frame into the layer pixel format (bytes blue, green,
 *  red, 0xFF; lines w * 4 bytes) at the output size, with libswscale, after
 *  the stream's colour matrix (BT.601, BT.709, ...) and range (limited or
 *  full), so that colours come out as other players show them. A stream
 *  that names no matrix gets BT.709 from 1280x720 up, else BT.601.
 *
 *  Times are seconds from the stream's first frame. No threads of its own
 *  beyond the codec's (frame or slice threads, as the codec has them: the
 *  frames still come in order, each with its time) and the worker pool's
 *  that convert() shares its slices on (video_scaler.h). One thread uses
 *  an object at a time, but cancel() may be called from any thread: it
 *  ends a blocked read.
 *
 *  Every failure is a short reason without the file's name, for the caller
 *  to put after it: "no video stream (audio only?)".
 */
#ifndef KOLVEX_VIDEO_DECODER_H
#define KOLVEX_VIDEO_DECODER_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "video_scaler.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

struct AVFrameFree {
  void operator()(AVFrame *f) const;
};
using FramePtr = std::unique_ptr<AVFrame, AVFrameFree>;

class VideoDecoder {
 public:
  // Most pixels a frame may have (a 4096x4096 picture), and the widest a
  // layer can be: a line of 4-byte pixels fits the geometry's 16-bit pitch.
  static constexpr uint64_t max_pixels = 16u << 20;
  static constexpr int max_width = 0xFFFF / 4;
  static constexpr int max_height = 0xFFFF;

  VideoDecoder();
  ~VideoDecoder();

  // Opens `path` and its first video stream; false with the reason in err.
  bool open(const std::string &path, std::string &err);
  bool is_open() const { return fmt_ != nullptr; }
  bool is_camera() const { return camera_; }
  int width() const { return width_; }
  int height() const { return height_; }
  double frame_duration() const { return frame_dur_; }  // 1 / the stream's rate
  double duration() const { return duration_; }         // container's guess, 0: unknown
  double pixel_aspect() const { return pixel_aspect_; }  // a pixel's width / height
  const char *codec_name() const;

  // The next frame: 1 with its time and how long it lasts, 0 at the end of
  // the stream, -1 on a read or decoding error (reason in err).
  int next(FramePtr &frame, double &pts, double &dur, std::string &err);

  // Back to the key frame at or before `seconds`; a stream that cannot
  // seek is opened again. False when neither works.
  bool seek(double seconds, std::string &err);

  // Output: the frame scaled to w x h. `crop` true: the middle of the frame
  // with the output's aspect is scaled (the rest cut), else all of it.
  void set_output(int w, int h, bool crop);
  // `frame` into `dst`, w * h * 4 bytes. False when libswscale refuses.
  bool convert(AVFrame *frame, uint8_t *dst);
  // The pool convert() shares a frame's slices on; null: all on the caller.
  // The pool must outlive the decoder.
  void set_pool(WorkerPool *pool) { pool_ = pool; }

  // Makes a read that waits (a camera, a pipe) give up; for closing.
  void cancel() { cancelled_ = true; }

 private:
  bool open_input(std::string &err);
  bool open_codec(std::string &err);
  void close();
  int receive(FramePtr &frame, double &pts, double &dur, std::string &err);
  static int interrupted(void *self);

  std::string path_;
  bool camera_ = false;
  AVFormatContext *fmt_ = nullptr;
  AVCodecContext *codec_ = nullptr;
  AVPacket *packet_ = nullptr;
  VideoScaler scaler_;
  WorkerPool *pool_ = nullptr;
  int stream_ = -1;
  int width_ = 0, height_ = 0;
  double time_base_ = 0;     // seconds a tick of the stream
  double frame_dur_ = 0.04;  // 1 / the stream's rate
  double duration_ = 0;
  double pixel_aspect_ = 1;
  int64_t origin_ = INT64_MIN;  // ticks of the first frame
  double last_pts_ = -1;
  bool draining_ = false;       // the demuxer has ended: the codec empties
  int out_w_ = 0, out_h_ = 0;
  bool out_crop_ = false;
  std::atomic<bool> cancelled_{false};

  VideoDecoder(const VideoDecoder &) = delete;
  VideoDecoder &operator=(const VideoDecoder &) = delete;
};

#endif
