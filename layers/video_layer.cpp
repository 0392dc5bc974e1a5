#include "video_layer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "context.h"
#include "jutils.h"
#include "viewport.h"

namespace {

// Frame times and layer times meet within this: far below any frame's
// length, far above the rounding of either.
constexpr double kSlack = 1e-6;
constexpr size_t kPad = 64;

std::string speed_text(double s) {
  char text[32];
  snprintf(text, sizeof text, "speed %.2fx", s);
  return text;
}

}  // namespace

VideoLayer::VideoLayer() { setname("VID"); }

// The layer's thread reads what close() frees: it goes first.
VideoLayer::~VideoLayer() {
  stop();
  close();
}

// ---------------------------------------------------------------------------
// Opening: the header and a first frame, or a reason
// ---------------------------------------------------------------------------
bool VideoLayer::open(const char *path) {
  func("VideoLayer::open(%s)", path);
  open_error_.clear();
  decoder_ = std::make_unique<VideoDecoder>();
  std::string err;
  double dur = 0;
  int got = 0;
  if (decoder_->open(path, err)) {
    got = decoder_->next(first_, first_pts_, dur, err);
    if (got == 0) err = "no picture in it (damaged or truncated?)";
    else if (got < 0) err = "no picture could be decoded (" + err + ")";
  }
  if (got <= 0) {
    open_error_ = std::string(path) + ": " + err;
    decoder_.reset();
    first_.reset();
    return false;
  }
  path_ = path;
  frame_duration_ = decoder_->frame_duration();
  clip_duration_ = decoder_->duration();
  camera_ = decoder_->is_camera();
  set_filename(path);
  return true;
}

// ---------------------------------------------------------------------------
// Set-up: size, first picture, clock, decoder thread
// ---------------------------------------------------------------------------
bool VideoLayer::init(Context *ctx) {
  if (!decoder_ || !first_) {
    error("no video opened, layer skipped");
    return false;
  }
  if (ctx) env = ctx;
  if (!env || !env->screen) {
    error("VideoLayer::init: no screen to show %s on", filename);
    return false;
  }
  if (!size_output()) return false;
  decoder_->set_pool(&env->pool);  // the frame's slices on the engine's threads
  std::string err;
  if (!first_picture(err)) {
    error("%s: %s", path_.c_str(), err.c_str());
    return false;
  }
  first_frame_ = env->frames;
  clock_.reset(first_frame_, target_, frame_rate(), options_.speed);
  func("VideoLayer :: %s %ix%i %s, shown %ux%u", filename, decoder_->width(), decoder_->height(),
       decoder_->codec_name(), (unsigned)geo.w, (unsigned)geo.h);
  stopping_ = false;
  decoder_thread_ = std::thread(&VideoLayer::decode_loop, this);
  return true;
}

bool VideoLayer::size_output() {
  // Fit and fill take the canvas's rectangle on the screen; a clip at its
  // own size grows with the canvas. libswscale makes frames of that size.
  const Canvas canvas = env->canvas();
  const int sw = canvas.screen_w, sh = canvas.screen_h;
  // A clip of non-square pixels is shown at the width it is meant to have.
  const double cw = std::max(1.0, std::round(decoder_->width() * decoder_->pixel_aspect()));
  const double ch = decoder_->height();
  int w = std::max(1, canvas.scaled(cw)), h = std::max(1, canvas.scaled(ch));
  if (options_.size == VideoOptions::FIT) {
    const double scale = std::min(sw / cw, sh / ch);
    w = std::max(1, (int)std::lround(cw * scale));
    h = std::max(1, (int)std::lround(ch * scale));
  } else if (options_.size == VideoOptions::FILL) {
    w = sw;
    h = sh;
  }
  if (w > VideoDecoder::max_width || h > VideoDecoder::max_height) {
    error("%s: %ix%i is too large for a layer", path_.c_str(), w, h);
    return false;
  }
  decoder_->set_output(w, h, options_.size == VideoOptions::FILL);
  _init(env, w, h, 32);
  if (!buffer) return false;  // _init logged it
  slots_.clear();
  // The shown frame, the queue, and one being converted; huge frames get a
  // queue of one.
  const int slots = geo.size > (16u << 20) ? 3 : queue_frames + 2;
  for (int i = 0; i < slots; i++) {
    Picture p;
    // libswscale writes a line in whole vectors: the last one may run up
    // to 15 pixels past the frame's end.
    p.pixels.reset((uint8_t *)aligned_alloc(64, (geo.size + kPad + 63) / 64 * 64));
    if (!p.pixels) {
      error("cannot allocate %u bytes of memory", (unsigned)geo.size);
      return false;
    }
    slots_.push_back(std::move(p));
  }
  return true;
}

// The frame for the start time into slot 0, shown from the first frame on.
// The decoder's first frame after it is kept for the decoder thread.
bool VideoLayer::first_picture(std::string &err) {
  double start = wrap(options_.start);
  FramePtr frame = std::move(first_);
  double pts = first_pts_, dur = 0;
  if (start > pts + kSlack) {
    if (!decoder_->seek(start, err)) return false;
    frame.reset();
    for (;;) {  // the newest frame not later than the start
      FramePtr next;
      double t;
      const int got = decoder_->next(next, t, dur, err);
      if (got < 0) return false;
      if (got == 0) break;
      if (frame && t > start + kSlack) {
        carry_ = std::move(next);
        carry_pts_ = t;
        break;
      }
      frame = std::move(next);
      pts = t;
    }
    if (!frame) {
      err = "nothing to show at " + std::to_string(start) + " s";
      return false;
    }
  } else {
    start = pts > start ? pts : start;
  }
  if (!decoder_->convert(frame.get(), slots_[0].pixels.get())) {
    err = "its frames cannot be converted";
    return false;
  }
  slots_[0].pts = pts;
  slots_[0].gen = 0;
  std::lock_guard<std::mutex> lock(m_);
  shown_ = 0;
  ready_.clear();
  free_.clear();
  for (int i = (int)slots_.size() - 1; i > 0; i--) free_.push_back(i);
  gen_ = 0;
  gen_first_pts_ = pts;
  target_ = start;
  ended_ = false;
  seek_pending_ = false;
  feed_buffer = slots_[0].pixels.get();
  return true;
}

// ---------------------------------------------------------------------------
// The decoder thread: decode in order, convert what may be shown, queue it
// ---------------------------------------------------------------------------
void VideoLayer::decode_loop() {
  FramePtr pending = std::move(carry_), frame;
  double pending_pts = carry_pts_, loop_offset = 0, clip_end = 0;
  uint64_t gen = 0;
  int round_frames = 1;  // frames since the last start of the clip (open gave one)
  std::string err;
  while (!stopping_) {
    {
      std::unique_lock<std::mutex> lock(m_);
      if (seek_pending_) {
        seek_pending_ = false;
        gen = gen_;
        const double to = seek_target_;
        lock.unlock();
        pending.reset();
        loop_offset = 0;
        round_frames = 1;  // what was shown counts
        if (decoder_->seek(to, err)) continue;
        mid_play_error(err);
      } else {
        gen = gen_;
        lock.unlock();
        double pts, dur;
        const int got = decoder_->next(frame, pts, dur, err);
        if (got > 0) {
          round_frames++;
          const double t = pts + loop_offset;
          clip_end = std::max(clip_end, pts + dur);
          // A frame that a later one replaces before its time comes is
          // never shown: it is not converted either.
          bool obsolete = false;
          if (pending) {
            std::lock_guard<std::mutex> g(m_);
            obsolete = gen == gen_ && t <= target_ + kSlack;
          }
          if (pending && !obsolete) deliver(pending.get(), pending_pts, gen);
          std::swap(pending, frame);
          pending_pts = t;
          continue;
        }
        if (got < 0) mid_play_error(err);
        // The end: round again, seamlessly, with the times running on; not
        // when a round brought no frame (a clip that decodes only once).
        if (got == 0 && !options_.once && clip_end > 0 && round_frames > 0 &&
            !decoder_->is_camera()) {
          round_frames = 0;
          {
            std::lock_guard<std::mutex> g(m_);
            loop_length_ = clip_end;
          }
          loop_offset += clip_end;
          if (decoder_->seek(0, err)) continue;
          mid_play_error(err);
        }
      }
    }
    // No more frames in this generation: the last one, then wait for a
    // seek or the end.
    if (pending) deliver(pending.get(), pending_pts, gen);
    pending.reset();
    std::unique_lock<std::mutex> lock(m_);
    if (gen == gen_) ended_ = true;
    more_.notify_all();
    room_.wait(lock, [&] { return stopping_ || seek_pending_; });
  }
}

// Converts `frame` into a free slot and queues it. False when a seek or
// the end came first.
bool VideoLayer::deliver(AVFrame *frame, double pts, uint64_t gen) {
  int slot;
  {
    std::unique_lock<std::mutex> lock(m_);
    room_.wait(lock, [&] { return stopping_ || seek_pending_ || gen != gen_ || !free_.empty(); });
    if (stopping_ || seek_pending_ || gen != gen_) return false;
    slot = free_.back();
    free_.pop_back();
  }
  const bool ok = decoder_->convert(frame, slots_[slot].pixels.get());
  {
    std::lock_guard<std::mutex> lock(m_);
    if (ok && gen == gen_) {
      slots_[slot].pts = pts;
      slots_[slot].gen = gen;
      ready_.push_back(slot);
    } else {
      free_.push_back(slot);
    }
  }
  more_.notify_all();
  if (!ok) mid_play_error("a frame could not be converted");
  return ok;
}

void VideoLayer::mid_play_error(const std::string &why) {
  if (stopping_ || error_logged_.exchange(true)) return;
  error("%s: %s; the last good frame stays", path_.c_str(), why.c_str());
}

// ---------------------------------------------------------------------------
// feed(), on the layer's thread: pick the frame for the layer's time
// ---------------------------------------------------------------------------
void *VideoLayer::feed() {
  const uint64_t frame = std::max<uint64_t>(frame_asked, first_frame_);
  const bool exact = env && env->lockstep;
  std::unique_lock<std::mutex> lock(m_);
  // The rate may be set after init (a program sets up its layers first).
  const double rate = frame_rate();
  if (rate != clock_.rate()) clock_.set_rate(frame, rate);
  double t = clock_.time(frame);
  // Live, far behind (the layer was hidden a while, or the clip is too
  // fast to decode): jump there rather than decode every frame between.
  if (!exact && !camera_ && !seek_pending_ && ready_.empty() && shown_ >= 0 &&
      slots_[shown_].gen == gen_ && slots_[shown_].pts + catch_up < t) {
    seek_locked(frame, wrap(t));
    t = clock_.time(frame);
  }
  // Made again for a slower clock or a pause (refeed): the frame shown is
  // later than the one due, which the decoder has passed: fetch it again.
  if (!seek_pending_ && shown_ >= 0 && slots_[shown_].gen == gen_ &&
      slots_[shown_].pts > t + kSlack && slots_[shown_].pts > gen_first_pts_ + kSlack) {
    seek_locked(frame, wrap(t));
    t = clock_.time(frame);
  }
  if (t > target_) target_ = t;
  room_.notify_all();
  for (;;) {
    // An older seek's frame gives way to the first of the new one even when
    // that is a little later than due (a clip whose frames start after 0).
    while (!ready_.empty() && (slots_[ready_.front()].pts <= t + kSlack ||
                               shown_ < 0 || slots_[shown_].gen != gen_)) {
      const bool first = shown_ < 0 || slots_[shown_].gen != gen_;
      if (shown_ >= 0) free_.push_back(shown_);
      shown_ = ready_.front();
      ready_.pop_front();
      if (first) gen_first_pts_ = slots_[shown_].pts;
      room_.notify_all();
    }
    // Live, whatever is there; in lockstep only once a later frame (or the
    // end) shows that no newer one is due, a seek's first frame included.
    if (!exact || !ready_.empty() || ended_ || stopping_ || quit) break;
    more_.wait_for(lock, std::chrono::milliseconds(10));
  }
  // Live, nothing newer queued and the frame shown older than one frame's
  // length: its successor is due and not decoded yet.
  if (!exact && ready_.empty() && !ended_ && !seek_pending_ && shown_ >= 0 &&
      slots_[shown_].gen == gen_ && slots_[shown_].pts + 1.5 * frame_duration_ < t)
    late_++;
  return shown_ >= 0 ? slots_[shown_].pixels.get() : nullptr;
}

// The frame loop's rate as set.
double VideoLayer::frame_rate() const { return env && env->fps_rate > 0 ? env->fps_rate : 24; }

// ---------------------------------------------------------------------------
// Keys and seeking, on the main thread
// ---------------------------------------------------------------------------
double VideoLayer::wrap(double seconds) const {
  double length = loop_length_ > 0 ? loop_length_ : clip_duration_;
  if (seconds < 0) seconds = options_.once || length <= 0 ? 0 : seconds;
  if (length <= 0) return std::max(0.0, seconds);
  if (options_.once) return std::min(seconds, length);
  seconds = std::fmod(seconds, length);
  return seconds < 0 ? seconds + length : seconds;
}

double VideoLayer::time_now() const {
  std::lock_guard<std::mutex> lock(m_);
  return clock_.time(env ? env->frames : 0);
}

void VideoLayer::seek_to(double seconds) {
  std::lock_guard<std::mutex> lock(m_);
  seek_locked(env->frames, seconds);
  refeed();
}

void VideoLayer::seek_locked(uint64_t frame, double seconds) {
  gen_++;
  seek_pending_ = true;
  seek_target_ = seconds;
  target_ = seconds;
  ended_ = false;
  clock_.jump(frame, seconds);
  for (int slot : ready_) free_.push_back(slot);
  ready_.clear();
  room_.notify_all();
}

bool VideoLayer::keypress(SDL_keysym *key) {
  if (!key || !env || !decoder_thread_.joinable()) return false;
  double now, speed;
  bool paused;
  {
    std::lock_guard<std::mutex> lock(m_);
    now = clock_.time(env->frames);
    speed = clock_.speed();
    paused = clock_.paused();
  }
  switch (key->sym) {
    case SDLK_r: restart(); return true;
    case SDLK_j: seek(now - seek_step); return true;
    case SDLK_l: seek(now + seek_step); return true;
    case SDLK_d: set_speed(speed / speed_step); return true;
    case SDLK_u: set_speed(speed * speed_step); return true;
    case SDLK_k: set_paused(!paused); return true;
    default: return false;
  }
}

void VideoLayer::restart() {
  if (!env || !decoder_thread_.joinable()) return;
  std::lock_guard<std::mutex> lock(m_);  // wrap reads the loop length the decoder sets
  seek_locked(env->frames, wrap(options_.start));
  refeed();
  status_ = "restart";
}

void VideoLayer::seek(double seconds) {
  if (!env || !decoder_thread_.joinable()) return;
  double to;
  {
    std::lock_guard<std::mutex> lock(m_);  // wrap reads the loop length
    to = wrap(seconds);
  }
  seek_to(to);
  char text[32];
  snprintf(text, sizeof text, "at %.1f s", to);
  std::lock_guard<std::mutex> lock(m_);
  status_ = text;
}

void VideoLayer::set_speed(double speed) {
  if (!env) {  // not started: where it starts
    options_.speed = VideoClock::clamp(speed);
    return;
  }
  std::lock_guard<std::mutex> lock(m_);
  // Back to exactly 1 when a step comes near it.
  clock_.set_speed(env->frames, std::fabs(speed - 1) < 0.01 ? 1 : VideoClock::clamp(speed));
  status_ = speed_text(clock_.speed());
  refeed();
}

void VideoLayer::set_paused(bool paused) {
  if (!env) return;
  std::lock_guard<std::mutex> lock(m_);
  clock_.set_paused(env->frames, paused);
  status_ = clock_.paused() ? "paused" : "playing";
  refeed();
}

double VideoLayer::speed() const {
  std::lock_guard<std::mutex> lock(m_);
  return clock_.speed();
}

bool VideoLayer::paused() const {
  std::lock_guard<std::mutex> lock(m_);
  return clock_.paused();
}

const ParamTable &VideoLayer::table() {
  static const ParamTable t = {
      row<VideoLayer>({"video/speed", ParamType::number, VideoClock::min_speed, VideoClock::max_speed,
                       1, "x", "how fast the clip plays"},
                      [](const VideoLayer &v) { return ParamValue::of(v.speed()); },
                      [](VideoLayer &v, const ParamValue &x) { v.set_speed(x.num[0]); }),
      row<VideoLayer>({"video/seek", ParamType::trigger, 0, 0, 0, "",
                       "to that second of the clip (its start without one)", true, {}, 0,
                       {{"seconds", 0, 1e9}}},
                      nullptr,
                      [](VideoLayer &v, const ParamValue &x) {
                        v.seek(std::isnan(x.num[0]) ? 0 : x.num[0]);
                      }),
      row<VideoLayer>({"video/pause", ParamType::boolean, 0, 1, 0, "", "the clip stands still, alone"},
                      [](const VideoLayer &v) { return ParamValue::of(v.paused() ? 1 : 0); },
                      [](VideoLayer &v, const ParamValue &x) { v.set_paused(x.num[0] != 0); }),
      row<VideoLayer>({"video/restart", ParamType::trigger, 0, 0, 0, "", "back to its start"}, nullptr,
                      [](VideoLayer &v, const ParamValue &) { v.restart(); }),
      // Set before it starts (the command line's --fit, --fill, --once, --start).
      row<VideoLayer>({"video/size", ParamType::choice, 0, 2, 0, "",
                       "the clip's size; fit: the canvas, aspect kept; fill: covered, cut", false,
                       {"clip", "fit", "fill"}},
                      [](const VideoLayer &v) { return ParamValue::of(v.options_.size); },
                      [](VideoLayer &v, const ParamValue &x) {
                        v.options_.size = (VideoOptions::Size)(int)x.num[0];
                      }),
      row<VideoLayer>({"video/once", ParamType::boolean, 0, 1, 0, "",
                       "hold the last frame instead of looping", false},
                      [](const VideoLayer &v) { return ParamValue::of(v.options_.once); },
                      [](VideoLayer &v, const ParamValue &x) { v.options_.once = x.num[0] != 0; }),
      row<VideoLayer>({"video/start", ParamType::number, 0, 86400, 0, "s", "where it starts, in seconds",
                       false},
                      [](const VideoLayer &v) { return ParamValue::of(v.options_.start); },
                      [](VideoLayer &v, const ParamValue &x) { v.options_.start = x.num[0]; }),
  };
  return t;
}

std::string VideoLayer::key_status() const {
  std::lock_guard<std::mutex> lock(m_);
  return status_;
}

// ---------------------------------------------------------------------------
// Tear-down
// ---------------------------------------------------------------------------
void VideoLayer::stop_decoder() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stopping_ = true;
  }
  room_.notify_all();
  more_.notify_all();
  if (decoder_) decoder_->cancel();
  if (decoder_thread_.joinable()) decoder_thread_.join();
}

void VideoLayer::close() {
  func("VideoLayer::close()");
  stop_decoder();
  feed_buffer = nullptr;
  std::lock_guard<std::mutex> lock(m_);
  shown_ = -1;
  ready_.clear();
  free_.clear();
  slots_.clear();
  first_.reset();
  carry_.reset();
  decoder_.reset();
}
