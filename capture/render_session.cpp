#include "render_session.h"

#include <SDL.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <utility>

#include "jutils.h"
#include "virtual_clock.h"
#ifdef KOLVEX_HAVE_FFMPEG
#include "ffmpeg_common.h"
#endif

namespace capture {

// ---------------------------------------------------------------------------
// Formats and encoder settings
// ---------------------------------------------------------------------------
namespace {

const char *const kFormats[] = {"mp4", "webm", "y4m", "png"};

bool is_encoded(const std::string &format) { return format == "mp4" || format == "webm"; }

bool parse_int(const std::string &text, long min, long max, int &out) {
  char *end = nullptr;
  errno = 0;
  const long v = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || errno || v < min || v > max) return false;
  out = (int)v;
  return true;
}

// crf and preset against what the format's encoder takes: told before any
// file or connection exists, with the encoder's own ranges.
bool quality_ok(const std::string &format, const CaptureSettings &s, std::string &err) {
#ifdef KOLVEX_HAVE_FFMPEG
  const ff::Encoding *e = ff::find_encoding(format);
  return !e || ff::check_quality(ff::video_settings(*e, 0, 0, 0, s.crf, s.preset), err);
#else
  (void)format, (void)s, (void)err;
  return true;
#endif
}

}  // namespace

std::string default_format() { return frame_writer_supports("mp4") ? "mp4" : "y4m"; }

bool parse_capture_option(const std::string &option, const std::string &value,
                          CaptureSettings &s, std::string &err) {
  err.clear();
  if (option == "--format") {
    for (const char *f : kFormats)
      if (value == f) s.format = value;
    if (s.format != value) err = "--format is mp4, webm, y4m or png, not " + value;
  } else if (option == "--crf") {
    if (!parse_int(value, 0, 0x7FFFFFFF, s.crf)) err = "--crf wants a number from 0, not " + value;
  } else if (option == "--preset") {
    if (value.empty()) err = "--preset needs a name";
    s.preset = value;
  } else {
    return false;
  }
  return err.empty();
}

bool check_capture_settings(CaptureSettings &s, std::string &err) {
  if (s.format.empty()) s.format = default_format();
  if (!frame_writer_supports(s.format)) {
    err = "built without FFmpeg's libraries: no " + s.format + " (y4m and png are there)";
    return false;
  }
  if (!is_encoded(s.format) && (s.crf >= 0 || !s.preset.empty())) {
    err = "--crf and --preset are for mp4 and webm, not " + s.format;
    return false;
  }
  return quality_ok(s.format, s, err);
}

bool check_stream_settings(const CaptureSettings &s, std::string &err) {
  return quality_ok("mp4", s, err);  // the stream's H.264 is the mp4 row's
}

std::string capture_options_help(const std::string &name, int column) {
  const bool ffmpeg = frame_writer_supports("mp4");
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"--format FMT", "mp4:  DIR/" + name + ".mp4, H.264 + AAC, to play and share"},
      {"", "webm: DIR/" + name + ".webm, VP9 + Opus, for the web"},
      {"", "y4m:  DIR/" + name + ".y4m, uncompressed 4:2:0, to edit"},
      {"", "png:  DIR/frame_000001.png ..., lossless stills"},
      {"", "(y4m and png: any sound in DIR/" + name + ".wav)"},
      {"", std::string("default: ") +
               (ffmpeg ? "mp4" : "y4m (built without FFmpeg's libraries: no mp4 or webm)")},
      {"--crf N", "mp4/webm quality, lower is better: H.264 0-51"},
      {"", "(default 18), VP9 0-63 (default 32)"},
      {"--preset NAME", "mp4: x264's speed preset, ultrafast ... placebo"},
      {"", "(default superfast); webm: VP9's deadline,"},
      {"", "realtime (default), good or best"},
  };
  std::string text;
  for (const auto &row : rows) {
    std::string line = "      " + row.first;
    line.resize(std::max<size_t>(line.size() + 1, (size_t)column), ' ');
    text += line + row.second + "\n";
  }
  return text;
}

// ---------------------------------------------------------------------------
// Signals and the window
// ---------------------------------------------------------------------------
namespace {

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// An error line's text, without its "[!] " and a trailing full stop.
void error_text(std::string &out, const char *line) {
  out = strncmp(line, "[!] ", 4) == 0 ? line + 4 : line;
  while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
}

// True when the frames go to a window someone may watch: not SDL's dummy.
bool window_watched() {
  char name[32] = "";
  return SDL_VideoDriverName(name, sizeof name) && strcmp(name, "dummy") != 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// The session
// ---------------------------------------------------------------------------
RenderSession::RenderSession(const SessionOptions &options) : opt_(options) {}

RenderSession::~RenderSession() {
  abandon();
  if (!begun_) return;
  if (!opt_.dir.empty()) remove_virtual_clock();
  set_log_sink(nullptr, nullptr);
  interrupted();  // a signal taken now must not kill the process later
  const sigset_t held = stop_signals();
  pthread_sigmask(SIG_UNBLOCK, &held, nullptr);
}

void RenderSession::abandon() {
  hook_.reset();
  stream_.reset();  // its thread tells through this session: first
  writer_.reset();  // not closed: its temporary files go
}

void RenderSession::begin() {
  // Held in every thread started from here on (SDL's, the layers', the
  // encoders'), taken by the frame loop at the end of a frame.
  const sigset_t held = stop_signals();
  pthread_sigmask(SIG_BLOCK, &held, nullptr);
  set_log_sink(log_line, this);
  if (!opt_.dir.empty()) install_virtual_clock(opt_.fps, opt_.origin);
  begun_ = true;
  started_ = std::chrono::steady_clock::now();
}

bool RenderSession::open_stream(Context &ctx, std::string &err) {
  if (opt_.stream_url.empty()) return true;
  StreamOptions s;
  s.url = opt_.stream_url;
  s.format = opt_.stream_format;
  s.width = opt_.width;
  s.height = opt_.height;
  s.fps = opt_.fps;
  s.crf = opt_.settings.crf;
  s.preset = opt_.settings.preset;
  s.pool = &ctx.pool;
  s.tell = [this](const std::string &line, bool detail) {
    if (!detail || opt_.sink_level >= LOG_WARNING) say(stderr, opt_.program + ": " + line);
  };
  stream_ = open_live_stream(s, err);
  return stream_ != nullptr;
}

bool RenderSession::attach(Context &ctx, std::string &err) {
  if (!opt_.dir.empty()) {
    if (mkdir(opt_.dir.c_str(), 0755) != 0 && errno != EEXIST) {
      err = opt_.dir + ": " + strerror(errno);
      return false;
    }
    WriterOptions w;
    w.format = opt_.settings.format.empty() ? default_format() : opt_.settings.format;
    w.dir = opt_.dir;
    w.name = opt_.name;
    w.width = opt_.width;
    w.height = opt_.height;
    w.fps = opt_.fps;
    w.audio_rate = opt_.audio_rate;
    w.crf = opt_.settings.crf;
    w.preset = opt_.settings.preset;
    w.pool = &ctx.pool;
    writer_ = open_frame_writer(w, err);
    if (!writer_) return false;
    // Every frame the same on every run; on the dummy driver no one sees
    // the window, so the frames skip it.
    ctx.lockstep = true;
    ctx.present = window_watched();
  }
  hook_ = ctx.on_frame.set([this](Context &c) { return on_frame(c); });
  return true;
}

bool RenderSession::interrupted() {
  if (!begun_) return false;
  const sigset_t set = stop_signals();
  const struct timespec now = {0, 0};
  if (sigtimedwait(&set, nullptr, &now) > 0) stopped_ = true;
  return stopped_;
}

bool RenderSession::on_frame(Context &ctx) {
  if (writer_ && !write_frame(ctx)) return false;
  if (stream_) stream_frame(ctx);
  frames_++;
  show_progress();
  if (interrupted()) return false;
  return opt_.frames == 0 || frames_ < opt_.frames;
}

// The frame and exactly its sound: the samples from frame n to n + 1.
bool RenderSession::write_frame(Context &ctx) {
  ViewPort *s = ctx.screen.get();
  bool ok = s && s->lock();
  if (ok) {
    ok = writer_->write((const uint8_t *)s->get_surface(), s->pitch);
    s->unlock();
  }
  if (ok && opt_.audio_rate > 0) {
    const int n = (int)(samples_before(frames_ + 1, opt_.audio_rate, opt_.fps) -
                        samples_before(frames_, opt_.audio_rate, opt_.fps));
    mix_.assign((size_t)n * 2, 0);
    if (opt_.sound) opt_.sound(mix_.data(), n);
    ok = writer_->write_audio(mix_.data(), n);
    if (ok) audio_frames_++;
  }
  if (!ok) {
    const int64_t failed = s && writer_->error_frame() ? writer_->error_frame() : frames_ + 1;
    error_ = (s ? writer_->error() : std::string("no screen to take it from")) + " (frame " +
             std::to_string(failed) + ")";
  }
  return ok;
}

// The hand-off: one copy; the stream drops the frame itself when it is behind.
void RenderSession::stream_frame(Context &ctx) {
  ViewPort *s = ctx.screen.get();
  if (!s || !s->lock()) return;
  stream_->offer((const uint8_t *)s->get_surface(), s->pitch);
  s->unlock();
}

int RenderSession::finish() {
  hook_.reset();
  interrupted();
  if (writer_ && error_.empty() && !writer_->close()) {
    error_ = writer_->error();
    if (writer_->error_frame()) error_ += " (frame " + std::to_string(writer_->error_frame()) + ")";
  }
  const std::string done = writer_ && error_.empty() ? writer_->describe() : "";
  writer_.reset();
  std::string streamed;
  if (stream_) {
    stream_->close();
    const int64_t dropped = stream_->dropped();
    streamed = std::to_string(stream_->offered() - dropped) + " sent to " + stream_->describe() +
               ", " + std::to_string(dropped) + " dropped";
    stream_.reset();
  }
  if (!error_.empty()) {
    say(stderr, opt_.program + ": " + error_);
    return 1;
  }
  if (stopped_) {
    say(stderr, opt_.program + ": interrupted after " + std::to_string(frames_) + " frames" +
                    (streamed.empty() ? "" : ", " + streamed));
    return 1;
  }
  if (opt_.summary && !streamed.empty())
    say(stdout, opt_.program + ": " + std::to_string(frames_) + " frames, " + streamed);
  if (opt_.summary && !done.empty()) {
    std::string line = opt_.program + ": " + std::to_string(frames_) + " frames";
    if (opt_.audio_rate > 0) line += ", " + std::to_string(audio_frames_) + " audio frames";
    say(stdout, line + " in " + done);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The terminal: a progress line on stdout, log lines on stderr
// ---------------------------------------------------------------------------
void RenderSession::show_progress() {
  if (!opt_.progress || frames_ % opt_.fps) return;
  const int64_t planned = opt_.frames ? opt_.frames : opt_.planned;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  const double speed = wall > 0 ? (frames_ / (double)opt_.fps) / wall : 0;
  const int64_t left = planned - frames_;
  const double eta = speed > 0 && left > 0 ? (left / (double)opt_.fps) / speed : 0;
  char line[128];
  snprintf(line, sizeof line, "frame %lld/%lld  %.1fx real time  %.0f s left",
           (long long)frames_, (long long)planned, speed, eta);
  std::lock_guard<std::mutex> lock(term_mutex_);
  progress_line_ = line;
  fprintf(stdout, "\r%s\33[K", line);
  fflush(stdout);
  progress_shown_ = true;
}

void RenderSession::clear_progress() {
  if (!progress_shown_) return;
  fputs("\r\33[K", stdout);
  fflush(stdout);
  progress_shown_ = false;
}

void RenderSession::say(FILE *to, const std::string &line) {
  std::lock_guard<std::mutex> lock(term_mutex_);
  clear_progress();
  fprintf(to, "%s\n", line.c_str());
  fflush(to);
}

void RenderSession::hold_log(bool hold, bool show) {
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> lock(term_mutex_);
    holding_ = hold;
    if (hold) first_error_.clear();
    lines.swap(held_);
  }
  if (show)
    for (const std::string &line : lines) log_line(this, LOG_ERROR, line.c_str());
}

std::string RenderSession::first_error() {
  std::lock_guard<std::mutex> lock(term_mutex_);
  return first_error_;
}

// Under the log's lock: the line, then the progress line again under it.
void RenderSession::log_line(void *self, int level, const char *line) {
  RenderSession *s = static_cast<RenderSession *>(self);
  std::lock_guard<std::mutex> lock(s->term_mutex_);
  if (s->holding_ && level == LOG_ERROR && s->first_error_.empty())
    error_text(s->first_error_, line);
  if (level > s->opt_.sink_level) return;
  if (s->holding_) {
    s->held_.push_back(line);
    return;
  }
  const bool redraw = s->progress_shown_;
  s->clear_progress();
  fprintf(stderr, "%s\n", line);
  fflush(stderr);
  if (redraw) {
    fprintf(stdout, "\r%s\33[K", s->progress_line_.c_str());
    fflush(stdout);
    s->progress_shown_ = true;
  }
}

}  // namespace capture
