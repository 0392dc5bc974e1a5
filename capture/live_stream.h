/*  Kolvex capture - the picture sent out live
 *
 *  Every shown frame encoded and sent through FFmpeg's muxers and
 *  protocols while the window plays:
 *
 *    udp:// srt:// tcp://   MPEG-TS
 *    rtmp:// rtmps://       FLV
 *    /dev/videoN            a V4L2 output device (a v4l2loopback camera):
 *                           raw yuv420p frames, as webcams give them
 *
 *  The muxer follows from the URL (else from its extension); a format
 *  named in the options overrides. The pictures are H.264 (libx264, the
 *  capture's mp4 crf and preset, tune zerolatency) with a keyframe every
 *  second, so that a receiver joining late shows a picture within one;
 *  time base 1/fps, frame n of the stream at time stamp n.
 *
 *  The frame loop pays only the hand-off: offer() copies the frame into a
 *  free buffer of a short queue and returns; when none is free the frame
 *  is dropped and counted, never waited for. Conversion (shared out
 *  on the options' pool, when given), encoding and sending run on the
 *  stream's own thread. When sending fails (the receiver gone) the thread
 *  tells one line, drops the frames meanwhile (counted) and opens the URL
 *  again every two seconds, telling another line once it sends again. Why
 *  an attempt failed is a detail, told once for each reason in each time
 *  without a receiver. The encoder lives as long as the stream, and each
 *  connection starts with a keyframe: a night of receivers coming and
 *  going makes no encoder anew (nor the holes one leaves in the heap).
 */
#ifndef KOLVEX_CAPTURE_LIVE_STREAM_H
#define KOLVEX_CAPTURE_LIVE_STREAM_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class WorkerPool;

namespace capture {

struct StreamOptions {
  std::string url;
  std::string format;  // a muxer name; empty: stream_format_for(url)
  int width = 640, height = 480, fps = 24;  // width and height even
  int crf = -1;        // H.264's, as the capture's mp4; -1 / "": its default
  std::string preset;
  // The colour conversion shared out on it (worker_pool.h); null: the
  // stream's thread alone. It must outlive the stream.
  WorkerPool *pool = nullptr;
  // A line about the receiver (gone, back), without a prefix; called on
  // the stream's thread. A `detail` (why an attempt to send again failed)
  // is for a user who asked to be told more.
  std::function<void(const std::string &line, bool detail)> tell;
};

// The muxer a URL's protocol takes ("mpegts", "flv", "v4l2"); "" when the
// URL does not say.
std::string stream_format_for(const std::string &url);

class LiveStream {
 public:
  virtual ~LiveStream();
  // The next frame (32 bits a pixel, bytes blue, green, red, fourth;
  // `pitch` bytes a line), copied; false when it was dropped. Never waits.
  virtual bool offer(const uint8_t *bgrx, int pitch) = 0;
  // Frames offered so far, and those of them not sent (the queue full, or
  // no receiver). Any thread.
  virtual int64_t offered() const = 0;
  virtual int64_t dropped() const = 0;
  // Sends what is queued and ends the stream properly; gives a stuck
  // receiver about two seconds. Once.
  virtual void close() = 0;
  // "URL (FORMAT, ENCODING)", for messages.
  virtual std::string describe() const = 0;
};

// The stream opened, connected and sending; null with one line in `err`
// naming the URL and the reason: an unknown protocol or format, a receiver
// or device that cannot be opened (or is not an output), refused encoder
// settings, or a build without FFmpeg's libraries.
std::unique_ptr<LiveStream> open_live_stream(const StreamOptions &options, std::string &err);

}  // namespace capture

#endif
