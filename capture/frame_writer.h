/*  Kolvex capture - frame writers
 *
 *  Composited frames, and optionally their sound, written to files: one
 *  writer per output format behind one interface.
 *
 *    y4m   DIR/NAME.y4m, one YUV4MPEG2 stream (4:2:0, BT.601 studio range)
 *          for editors and encoders; sound in DIR/NAME.wav
 *    png   DIR/frame_000001.png ..., one lossless picture a frame; sound
 *          in DIR/NAME.wav
 *    mp4   DIR/NAME.mp4: H.264 (libx264, yuv420p, CRF 18, preset
 *          "superfast") and AAC stereo at 192 kb/s, index up front
 *    webm  DIR/NAME.webm: VP9 (libvpx, constant quality CRF 32, row
 *          threads, deadline "realtime") and Opus at 48 kHz, 128 kb/s
 *
 *  mp4 and webm exist only when the library was built with FFmpeg's
 *  libraries (frame_writer_supports). Their frames are exactly 1/fps s
 *  apart (time base 1/fps) and the sound starts with the first frame.
 *
 *  Every file is written under a temporary name ("....part") and renamed
 *  to its final name by a successful close(); a writer destroyed without
 *  one, or whose close() fails, leaves nothing under the final name.
 *
 *  Additions to the plain interface: WriterOptions::name, and error(),
 *  which says why the last call failed in one line naming the file.
 */
#ifndef KOLVEX_CAPTURE_FRAME_WRITER_H
#define KOLVEX_CAPTURE_FRAME_WRITER_H

#include <cstdint>
#include <memory>
#include <string>

class WorkerPool;

namespace capture {

struct WriterOptions {
  std::string format;            // "y4m", "png", "mp4", "webm"
  std::string dir;               // output directory; must exist
  std::string name = "capture";  // file name without extension
  int width = 640, height = 480, fps = 24;  // width and height even
  int audio_rate = 0;  // 0: no sound track; else stereo s16 at this rate
  // Encoder settings (mp4, webm; ignored by the others). -1 / "": the
  // format's default. crf: libx264 0-51, libvpx-vp9 0-63; preset:
  // libx264's speed preset, libvpx-vp9's deadline (good, best, realtime).
  int crf = -1;
  std::string preset;
  // The engine's worker pool (worker_pool.h), which the colour conversion
  // and PNG pictures are shared out on; null: the writer's own thread.
  // It must outlive the writer.
  WorkerPool *pool = nullptr;
};

// Frames in the layer format: 32 bits a pixel, bytes blue, green, red and
// a fourth that is ignored, `pitch` bytes a line. One thread at a time.
class FrameWriter {
 public:
  virtual ~FrameWriter();
  // One frame, the next 1/fps s. False on failure (see error()).
  virtual bool write(const uint8_t *bgrx, int pitch) = 0;
  // `frames` stereo sample pairs following those already written. Without
  // a sound track: ignored, true.
  virtual bool write_audio(const int16_t *stereo, int frames);
  // Finishes the files (encoders drained, trailers written) and moves them
  // under their final names. Call once.
  virtual bool close() = 0;
  // The file (or file pattern) written, for messages.
  virtual std::string describe() const = 0;
  // Why the last call failed, one line: "PATH: reason".
  const std::string &error() const { return error_; }
  // The frame (from 1) that failure is about, when the writer knows it: a
  // frame's failure may show at a later call. 0: not told.
  int64_t error_frame() const { return error_frame_; }

 protected:
  // Sets error() and error_frame(), returns false.
  bool fail(const std::string &reason, int64_t frame = 0);

 private:
  std::string error_;
  int64_t error_frame_ = 0;
};

// The writer of `options.format`, its files created; null with the reason
// in `err` (one line naming the file) when the format is unknown or not
// built in, the output cannot be created or an encoder refuses a setting.
std::unique_ptr<FrameWriter> open_frame_writer(const WriterOptions &options, std::string &err);

// Whether open_frame_writer knows `format`: false for mp4 and webm when
// built without FFmpeg, and for names it does not know.
bool frame_writer_supports(const std::string &format);

}  // namespace capture

#endif
