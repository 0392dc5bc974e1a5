/*  Kolvex - video layer ("VID")
 *
 *  Plays a video file (any container and codec the installed FFmpeg
 *  decodes; the first video stream, sound ignored) or a V4L2 camera as a
 *  layer. open() reads the file's header and decodes its first frame, so
 *  that a file the layer cannot show is refused at once, with one line in
 *  open_error(): "clip.mp4: no video stream (sound only)". init() sets the
 *  size (the clip's, or the screen's with Fit / Fill) and starts a decoder
 *  thread of the layer's own.
 *
 *  Time: at each composed frame the layer shows the newest frame of the clip
 *  whose time is not later than the layer's: start + frames / rate x speed.
 *  A clip loops without a seam (the decoder reads on into the next round
 *  ahead of time) unless `once`, which holds the last frame.
 *
 *  Threads: the decoder thread decodes and converts into a queue of a few
 *  frames; feed(), on the layer's thread, only picks from it. Live, a frame
 *  not decoded in time leaves the previous one up: the compositor never
 *  waits for a decoder. In lockstep (Context::lockstep, captures) feed()
 *  waits for exactly the frame of its time, so captures are the same byte
 *  for byte, after a seek too. A read or decoding error in play keeps the
 *  last good frame up and is logged once.
 *
 *  Its clock's changes (seek, restart, speed, pause) re-feed the frame made
 *  ahead (Layer::refeed), so each shows in the frame it is asked at; a
 *  slower clock than the frame made ahead had takes the decoder back.
 *
 *  Keys (keypress), clear of the player's and the effects' keys (frei0r's
 *  [ ] , .): r restart, j / l seek back / forward 5 s, d / u slower /
 *  faster, k pause this layer alone.
 */
#ifndef KOLVEX_VIDEO_LAYER_H
#define KOLVEX_VIDEO_LAYER_H

#include <atomic>
#include <cstdlib>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "layer.h"
#include "video_clock.h"
#include "video_decoder.h"

struct VideoOptions {
  enum Size { CLIP, FIT, FILL };
  Size size = CLIP;   // the clip's size; FIT: the screen, aspect kept; FILL: cropped
  bool once = false;  // hold the last frame instead of looping
  double speed = 1;   // VideoClock::min_speed .. max_speed
  double start = 0;   // seconds into the clip
};

class VideoLayer : public Layer {
 public:
  static constexpr double seek_step = 5.0;   // seconds, keys j and l
  static constexpr double speed_step = 1.25; // factor, keys d and u
  static constexpr int queue_frames = 4;     // decoded ahead
  static constexpr double catch_up = 2.0;    // seconds behind: live, seek instead

  VideoLayer();
  ~VideoLayer() override;  // its thread stopped, then close()

  void set_options(const VideoOptions &o) { options_ = o; }  // before init
  const VideoOptions &options() const { return options_; }

  bool open(const char *path) override;  // false with open_error()
  const std::string &open_error() const { return open_error_; }
  bool init(Context *ctx) override;      // after open; starts the decoder
  void close() override;                 // stops the decoder, frees frames
  bool keypress(SDL_keysym *key) override;
  void *feed() override;

  // The layer's own clock, from the main thread between frames (its keys
  // and the player's controls). Each tells what it did as key_status().
  void restart();                // back to the start time
  void seek(double seconds);     // to that time of the clip, wrapped into it
  void set_speed(double speed);  // clamped to VideoClock's range
  void set_paused(bool paused);  // this layer alone
  double speed() const;
  bool paused() const;
  // Its rows: video/speed, video/seek, video/pause, video/restart.
  const ParamTable &kind_params() const override { return table(); }
  static const ParamTable &table();

  // What the last key changed, for a status line: "speed 1.25x".
  std::string key_status() const;
  std::string said() const override { return key_status(); }
  double time_now() const;  // the layer's time at the current frame
  // Live feeds that found the frame due not yet decoded, so showed an
  // older one (a measure of the decoder keeping up; 0 in lockstep).
  uint64_t late_frames() const { return late_; }

 private:
  struct FreeDelete {
    void operator()(uint8_t *p) const { free(p); }
  };
  struct Picture {
    std::unique_ptr<uint8_t, FreeDelete> pixels;
    double pts = 0;
    uint64_t gen = 0;  // the seek it belongs to
  };
  bool size_output();
  bool first_picture(std::string &err);  // the frame at the start time, shown
  void decode_loop();
  bool deliver(AVFrame *frame, double pts, uint64_t gen);
  void seek_to(double seconds);  // main thread: jump the clock and the decoder
  void seek_locked(uint64_t frame, double seconds);  // the same, m_ held
  double wrap(double seconds) const;
  double frame_rate() const;
  void mid_play_error(const std::string &why);
  void stop_decoder();

  VideoOptions options_;
  std::string path_;
  std::string open_error_;
  std::unique_ptr<VideoDecoder> decoder_;
  FramePtr first_, carry_;  // open's first frame; the decoder's first one to weigh
  double first_pts_ = 0, carry_pts_ = 0;
  double frame_duration_ = 0.04;  // the clip's, for late_frames()
  double clip_duration_ = 0;      // the container's guess, until a loop tells
  bool camera_ = false;

  // Guarded by m_: the clock, the queue and the decoder's orders.
  mutable std::mutex m_;
  std::condition_variable more_;  // the decoder delivered or ended
  std::condition_variable room_;  // a slot, a seek or a stop for the decoder
  VideoClock clock_;
  std::vector<Picture> slots_;
  std::deque<int> ready_;  // slots in time order, not shown yet
  std::vector<int> free_;
  int shown_ = -1;         // the slot feed() returned last
  uint64_t gen_ = 0;       // bumped by every seek: older frames are dropped
  double target_ = 0;      // the latest time feed() asked for in gen_
  double gen_first_pts_ = 0;  // the first frame shown of gen_: none before it
  bool seek_pending_ = false;
  double seek_target_ = 0;
  bool ended_ = false;     // no more frames in gen_ (once, or an error)
  double loop_length_ = 0; // seconds, once the end was seen
  std::string status_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> error_logged_{false};
  std::atomic<uint64_t> late_{0};
  std::thread decoder_thread_;
  uint64_t first_frame_ = 0;  // Context::frames at init

  VideoLayer(const VideoLayer &) = delete;
  VideoLayer &operator=(const VideoLayer &) = delete;
};

#endif
