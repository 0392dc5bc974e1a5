/*  Kolvex capture - the render session
 *
 *  What a program puts around the engine's frame loop to take its frames,
 *  in one object that orvanta-capture and the player share:
 *
 *    - the writer (frame_writer.h) and the file rule: files are written
 *      under a temporary name and renamed when complete; a session that
 *      fails leaves nothing under the final names;
 *    - the virtual clock (virtual_clock.h) and lockstep layers, so that
 *      the same command line writes the same frames;
 *    - the per-frame hand-off: the frame loop's hook (Context::on_frame)
 *      writes each composed frame and exactly that frame's sound; the
 *      hook goes with the session, and an engine may go before it once
 *      the session is finished or abandoned (the writer and the stream
 *      work on the engine's worker pool);
 *    - the length: a number of frames, `--seconds N` being N * fps + 1,
 *      held (paused) frames counted as they went out;
 *    - SIGINT and SIGTERM: held from begin() on in every thread started
 *      after it, taken at the end of a frame: the frame is finished, the
 *      files are closed so that they play, "interrupted after N frames";
 *    - the log: what the user asked for (sink_level), kept off the
 *      progress line that a terminal shows.
 *
 *  A session without an output directory is a live run: the real clock,
 *  no files, but the same length, signals and log. A live run may send
 *  its picture out as it plays (live_stream.h): each frame handed over in
 *  the same hook, dropped rather than waited for when the sending falls
 *  behind; the drops are counted and told in the closing line.
 *
 *  Main thread only. One session at a time (the clock, the signal mask and
 *  the log are the process's).
 */
#ifndef KOLVEX_CAPTURE_RENDER_SESSION_H
#define KOLVEX_CAPTURE_RENDER_SESSION_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "context.h"
#include "frame_writer.h"
#include "jutils.h"
#include "live_stream.h"

namespace capture {

// ---------------------------------------------------------------------------
// The formats and encoder settings, as both programs offer them
// ---------------------------------------------------------------------------
struct CaptureSettings {
  std::string format;  // empty: default_format()
  int crf = -1;        // -1 / "": the format's default
  std::string preset;
};

// mp4 where the library was built with FFmpeg's libraries, else y4m.
std::string default_format();

// Takes --format, --crf or --preset (`option` with its dashes); false with
// one line in `err`. Other names are not taken (false, `err` empty).
bool parse_capture_option(const std::string &option, const std::string &value,
                          CaptureSettings &settings, std::string &err);
// The settings as a whole: the format built in, encoder settings only for
// an encoded format and within what its encoder takes. The default format
// filled in. False with `err`: nothing is created yet (status 2).
bool check_capture_settings(CaptureSettings &settings, std::string &err);
// --crf and --preset for a live stream, whose picture is H.264 as mp4's.
bool check_stream_settings(const CaptureSettings &settings, std::string &err);
// The three options' help for a --help text, their explanations starting
// at `column`; `name` is the file name the formats write (orvanta, kolvex).
std::string capture_options_help(const std::string &name, int column);

// ---------------------------------------------------------------------------
// The session
// ---------------------------------------------------------------------------
struct SessionOptions {
  std::string program = "kolvex";  // the prefix of the session's own lines
  std::string dir;                 // output directory; empty: a live run
  std::string name = "capture";    // file name, without its extension
  CaptureSettings settings;  // crf and preset also a stream's
  std::string stream_url;     // a live run's picture sent there too
  std::string stream_format;  // its muxer; empty: from the URL
  int width = 640, height = 480, fps = 24;
  int audio_rate = 0;  // 0: no sound track; else stereo at this rate
  // Fills each frame's sound: `frames` stereo sample pairs.
  std::function<void(int16_t *stereo, int frames)> sound;
  int64_t frames = 0;   // frames to render; 0: until the program stops
  int64_t planned = 0;  // for the progress line when `frames` is 0
  int64_t origin = 0;   // the virtual clock's start, in seconds
  bool progress = false;  // a progress line (on stdout)
  bool summary = true;    // the closing line on stdout
  int sink_level = LOG_ERROR;  // the engine's lines shown, by LogLevel
};

class RenderSession {
 public:
  explicit RenderSession(const SessionOptions &options);
  // A writer not finished leaves nothing under its final names; the clock,
  // the signals and the log are the process's again.
  ~RenderSession();

  // Before the engine starts anything: holds the stop signals, takes the
  // log, puts the virtual clock in (for a capture).
  void begin();
  // Before the window opens: the live stream connected, when one is asked
  // for, its conversion on ctx's pool. False with one line naming the URL
  // in `err`.
  bool open_stream(Context &ctx, std::string &err);
  // Once the screen is open: opens the writer (creating the directory)
  // and hooks the frame loop until finish() or the session's end; the
  // writer works on ctx's pool. False with one line in `err`: nothing is
  // left under the final names.
  bool attach(Context &ctx, std::string &err);
  // Whether a stop signal has come (taken at most once a call).
  bool interrupted();
  // While held, the log's lines are kept back instead of shown, and the
  // first error line is kept apart: a program that sums a failure up in one
  // line of its own tells that instead. Released, the kept lines are shown
  // or dropped.
  void hold_log(bool hold, bool show = true);
  std::string first_error();  // of the lines held, without its prefix
  // The end: the hook off, the files closed; the closing line (the summary
  // on stdout, or one line on stderr for an interruption or a failure).
  // The exit status: 0 complete, 1 interrupted or failed.
  int finish();
  // Unfinished, as the session's end would: the hook off, the writer's
  // files gone, the stream ended. For an engine that goes before the
  // session (its pool with it).
  void abandon();

  // Frames handed over so far, held ones included: the programme's frame
  // count, which is also the number (from 0) of the next frame.
  int64_t frames() const { return frames_; }
  // A picture shown outside the frame loop (the player's held picture while
  // paused) is a frame of the programme like any other: written, streamed
  // and counted for the length. Once the run is over, ctx.ended is set.
  void show_held(Context &ctx) {
    if (!ctx.ended && !on_frame(ctx)) ctx.ended = true;
  }
  int64_t stream_offered() const { return stream_ ? stream_->offered() : 0; }
  int64_t stream_dropped() const { return stream_ ? stream_->dropped() : 0; }

 private:
  bool on_frame(Context &ctx);
  bool write_frame(Context &ctx);
  void stream_frame(Context &ctx);
  void show_progress();
  void clear_progress();  // term_mutex_ held
  void say(FILE *to, const std::string &line);
  static void log_line(void *self, int level, const char *line);

  SessionOptions opt_;
  std::unique_ptr<FrameWriter> writer_;
  std::unique_ptr<LiveStream> stream_;
  HookHandle hook_;  // the frame loop's hook into this session
  bool begun_ = false, stopped_ = false;
  int64_t frames_ = 0, audio_frames_ = 0;
  std::vector<int16_t> mix_;
  std::string error_;
  // The terminal: the progress line is drawn from the frame loop, log
  // lines come from any thread.
  std::mutex term_mutex_;
  bool progress_shown_ = false;
  std::string progress_line_;
  bool holding_ = false;
  std::vector<std::string> held_;
  std::string first_error_;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace capture

#endif
