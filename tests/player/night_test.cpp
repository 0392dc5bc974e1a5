// A VJ's night in a few minutes. Eight hours of show rendered frame-exact at
// 4 frames a second on a 160x120 screen: two clips looping thousands of
// times, two frei0r sources, the particle generator, a PNG picture and a
// change a second (alpha, position, blit, seek, speed, pause, frei0r
// parameters, OSD lines). Then the same stack played live at 200 frames a
// second, sent to a receiver that comes and goes. Through both the memory
// and the open files of the process must stay flat, and the clip that
// nobody touches must show, in every frame of the night, the frame its
// clock says.
//
// The capture goes into a FIFO that the test reads as it comes: no disk
// filled, and every frame seen. A live stream cannot run beside a capture
// (its drops are told on the picture, which a capture must not depend on),
// so the stream's night is a live run of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "frame_writer.h"
#include "intro_harness.h"
#include "test_support.h"

namespace {

// The clip checked: 37 frames at the NTSC rate, where a loop length or a
// frame time rounded the wrong way shows after a few hundred loops. It sits
// on top, copied, where no OSD line reaches.
constexpr int kClipW = 48, kClipH = 32, kClipX = 0, kClipY = 80, kClipFrames = 37;
constexpr int kRateNum = 30000, kRateDen = 1001;
constexpr int kW = 160, kH = 120;

// One malloc arena for the process watched: with one a thread, how many
// there are follows the machine's load, and each holds on to what it once
// had, megabytes that come at any hour. With one, the night settles by a
// few hundred kB; a frame kept per loop or 40 bytes per change of the
// night would be more than the slack.
const std::map<std::string, std::string> kOneArena = {{"MALLOC_ARENA_MAX", "1"}};
constexpr long kRssSlackKb = 1024;
// A stream that connects again makes its muxer anew each time (its
// encoder goes on): the heap settles within a megabyte. An encoder made
// or kept per connection is more.
constexpr long kStreamRssSlackKb = 2048;

// Under a sanitizer a shorter night, and no memory figure: its allocator
// keeps what is freed for a while on purpose. The clock, the files and
// what the sanitizer finds still count.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The process's own memory (heap, stacks, buffers): RssAnon, not VmRSS,
// which also counts the libraries' pages, faulted in by their code at any
// time (two megabytes of them as the player exits).
struct Usage {
  long rss_kb = -1;
  int fds = -1;
};

Usage usage_of(pid_t pid) {
  Usage u;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("RssAnon:", 0) == 0) u.rss_kb = atol(line.c_str() + 8);
  if (DIR *d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    u.fds = 0;
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') u.fds++;
    closedir(d);
  }
  return u;
}

// Samples a process every 100 ms with how far its show is, until stopped.
class Sampler {
 public:
  struct Sample {
    int64_t at;  // show frames, or milliseconds of a live run
    int64_t ms;  // since the sampling began
    Usage use;
  };
  Sampler(pid_t pid, std::function<int64_t()> progress)
      : thread_([this, pid, progress] {
          const auto start = std::chrono::steady_clock::now();
          while (!stop_) {
            const Usage u = usage_of(pid);
            const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start).count();
            if (u.rss_kb > 0 && u.fds >= 0) samples_.push_back({progress(), ms, u});
            usleep(100000);
          }
        }) {}
  ~Sampler() { stop(); }
  const std::vector<Sample> &stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return samples_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<Sample> samples_;
  std::thread thread_;
};

// What rose beyond the slack once the process has settled, `from` into the
// show and `warm_ms` into its life (libraries, threads and buffers touched
// for the first time take a second or two, whatever the show's rate): ""
// when nothing did.
std::string growth(const std::vector<Sampler::Sample> &samples, int64_t from, int64_t warm_ms,
                   long slack_kb, int slack_fds) {
  const Sampler::Sample *base = nullptr;
  for (const Sampler::Sample &s : samples) {
    if (!base && s.at >= from && s.ms >= warm_ms) base = &s;
    if (!base) continue;
    if (s.use.rss_kb > base->use.rss_kb + slack_kb || s.use.fds > base->use.fds + slack_fds)
      return "at " + std::to_string(base->at) + ": " + std::to_string(base->use.rss_kb) + " kB, " +
             std::to_string(base->use.fds) + " files; at " + std::to_string(s.at) + ": " +
             std::to_string(s.use.rss_kb) + " kB, " + std::to_string(s.use.fds) + " files";
  }
  return base ? "" : "no sample after " + std::to_string(from);
}

// The clip frame due at composed frame k of a show at `fps`: the newest one
// not later than k / fps seconds, round and round.
int due(int64_t k, int fps) {
  return (int)((k * kRateNum / ((int64_t)kRateDen * fps)) % kClipFrames);
}

// Reads the capture's y4m from its FIFO as it is written, and holds every
// frame's clip against FFmpeg's decode of the frame due.
class ClipWatch {
 public:
  ClipWatch(const std::string &fifo, std::vector<std::string> want, int fps)
      : want_(std::move(want)), fps_(fps), thread_([this, fifo] { read(fifo); }) {}
  ~ClipWatch() { join(); }
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  std::atomic<int64_t> frames{0};
  int64_t off = 0;          // frames whose clip is not the one due
  std::string first_off;    // what the first of them showed
  std::string last;         // the clip's luma in the last frame
  bool header_ok = false;

 private:
  void read(const std::string &fifo) {
    FILE *in = fopen(fifo.c_str(), "rb");
    if (!in) return;
    // Big reads: the capture waits on every one.
    fcntl(fileno(in), F_SETPIPE_SZ, 1 << 20);
    setvbuf(in, nullptr, _IOFBF, 1 << 20);
    char line[256];
    int w = 0, h = 0;
    if (fgets(line, sizeof line, in) && sscanf(line, "YUV4MPEG2 W%d H%d", &w, &h) == 2)
      header_ok = w == kW && h == kH;
    std::vector<uint8_t> frame((size_t)w * h * 3 / 2);
    std::string clip((size_t)kClipW * kClipH, 0);
    while (header_ok && fgets(line, sizeof line, in) && strncmp(line, "FRAME", 5) == 0 &&
           fread(frame.data(), 1, frame.size(), in) == frame.size()) {
      for (int y = 0; y < kClipH; y++)
        memcpy(&clip[(size_t)y * kClipW], &frame[(size_t)(kClipY + y) * w + kClipX], kClipW);
      check(frames, clip);
      last = clip;
      frames++;
    }
    fclose(in);
  }
  // The frame due scores well, and better than its neighbours.
  void check(int64_t k, const std::string &clip) {
    const int n = due(k, fps_);
    auto score = [&](int i) { return kt::psnr(clip, want_[(i + kClipFrames) % kClipFrames]); };
    const double at = score(n), before = score(n - 1), after = score(n + 1);
    if (at >= 35 && at > before && at > after) return;
    if (off++ == 0)
      first_off = "frame " + std::to_string(k) + ": clip frame " + std::to_string(n) + " due, " +
                  std::to_string(at) + " dB; its neighbours " + std::to_string(before) + ", " +
                  std::to_string(after) + " dB";
  }

  std::vector<std::string> want_;
  int fps_;
  std::thread thread_;
};

class Night : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!capture::frame_writer_supports("mp4") || system("ffmpeg -version >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "no FFmpeg";
    // Ramps that move 53 grey levels a frame: no two frames alike.
    clip_a = clip("a.mp4",
                  "color=c=black:s=48x32:r=30000/1001,"
                  "geq=lum=16+mod(N*53+X*4+Y*2\\,200):cb=128:cr=128",
                  "-frames:v 37 -crf 12");
    clip_b = clip("b.mp4", "testsrc=s=64x48:r=25:d=3", "");
  }
  std::string clip(const std::string &name, const std::string &source, const std::string &opts) {
    const std::string path = temp.path + "/" + name;
    const std::string cmd = "ffmpeg -v error -nostdin -y -f lavfi -i '" + source + "' " + opts +
                            " -pix_fmt yuv420p " + path;
    EXPECT_EQ(system(cmd.c_str()), 0) << cmd;
    return path;
  }
  // FFmpeg's own decode of the checked clip: each frame's luma.
  std::vector<std::string> clip_a_frames() {
    const std::string all = kt::output_of("ffmpeg -v error -nostdin -i " + clip_a +
                                          " -f rawvideo -pix_fmt yuv420p -");
    const size_t size = (size_t)kClipW * kClipH * 3 / 2;
    std::vector<std::string> frames;
    for (size_t at = 0; at + size <= all.size(); at += size)
      frames.push_back(all.substr(at, (size_t)kClipW * kClipH));
    return frames;
  }

  // The show: the stack bottom first, and from second 1 on a change a
  // second, going round the table below; the checked clip on top is never
  // touched.
  std::string write_show(int fps, int64_t frames) {
    const std::string layers[] = {
        "frei0r.plasma",
        "frei0r.nois0r --blit add --alpha 40",
        "layer_gen --blit add",
        PLAYER_DATA_DIR "/ant.png --pos 20,10 --alpha 128",
        clip_b + " --pos 90,20 --effect frei0r.brightness:brightness=0.5",
        clip_a + " --pos " + std::to_string(kClipX) + "," + std::to_string(kClipY),
    };
    static const char *const kModes[] = {"ADD", "RGB", "SUB", "ALPHA", "OR"};
    auto n = [](double v) { return std::to_string(v); };
    // Layers 2 to 5 move and blend by turns; layer 5 is the clip played with.
    auto some = [](int64_t s) { return "/layer/" + std::to_string(2 + s % 4); };
    const std::vector<std::function<std::string(int64_t)>> changes = {
        [&](int64_t s) { return some(s) + "/alpha " + n(s * 37 % 100 / 100.0); },
        [&](int64_t s) { return some(s) + "/pos " + n(s * 13 % 140) + " " + n(s * 7 % 100); },
        [&](int64_t s) { return some(s) + "/blit " + kModes[s % 5]; },
        [&](int64_t s) { return "/layer/5/video/seek " + n(s * 37 % 300 / 100.0); },
        [&](int64_t s) { return "/layer/5/video/speed " + n(0.5 + s % 7 * 0.25); },
        [&](int64_t s) { return "/layer/5/video/pause " + n(s % 2); },
        [&](int64_t s) { return "/layer/1/param/1-speed " + n(s % 9 / 9.0); },
        [&](int64_t s) { return "/layer/5/effect/1/param/brightness " + n(s % 5 / 5.0); },
        [&](int64_t s) {
          return "/osd/middle \"hour " + std::to_string(s / 3600) + " second " +
                 std::to_string(s % 3600) + "\"";
        },
        [&](int64_t s) {
          return "/osd/low \"" + (s % 20 == 19 ? "" : "at " + std::to_string(s)) + "\"";
        },
    };
    std::ostringstream show;
    show << "size " << kW << "x" << kH << "\nfps " << fps << "\nseed 7\n";
    for (const std::string &l : layers) show << "layer " << l << "\n";
    for (int64_t s = 1; s * fps < frames; s++)
      show << s * fps << " " << changes[(size_t)(s % (int64_t)changes.size())](s) << "\n";
    show << frames << " end\n";
    const std::string path = temp.path + "/night.show";
    EXPECT_TRUE(it::spill(path, show.str()));
    return path;
  }

  kt::TempDir temp;
  std::string clip_a, clip_b;
};

// The capture's night: every frame through the FIFO, the process sampled
// by how many frames it has written.
TEST_F(Night, EightHoursCapturedStayFlatAndOnTheClock) {
  constexpr int fps = 4;
  constexpr int64_t frames = (kSanitized ? 1 : 8) * 3600 * fps;
  const std::string show = write_show(fps, frames);
  const std::vector<std::string> want = clip_a_frames();
  ASSERT_EQ(want.size(), (size_t)kClipFrames);
  const std::string out = temp.path + "/cap", fifo = out + "/kolvex.y4m";
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  ClipWatch watch(fifo, want, fps);
  it::Process run(PLAYER_PROGRAM, temp.path, kOneArena,
                  {"--replay", show, "--capture", out, "--format", "y4m"});
  Sampler sampler(run.pid(), [&watch] { return watch.frames.load(); });
  const int status = run.wait(600);
  run.signal(SIGKILL);  // one that hangs writes no more
  run.wait(10);
  const std::vector<Sampler::Sample> samples = sampler.stop();
  // A reader still waiting for a writer that never came gets its end.
  const int unblock = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  if (unblock >= 0) close(unblock);
  watch.join();

  const std::string log = run.log();
  ASSERT_EQ(status, 0) << log;
  EXPECT_TRUE(kt::contains(log, "kolvex: " + std::to_string(frames) + " frames in ")) << log;
  EXPECT_FALSE(kt::contains(log, "skipped")) << "every change applies: " << log;
  ASSERT_TRUE(watch.header_ok);
  EXPECT_EQ(watch.frames, frames);
  EXPECT_EQ(watch.off, 0) << watch.first_off;
  // The last frame of the night, spelled out.
  const std::string &last_due = want[due(frames - 1, fps)];
  ASSERT_EQ(watch.last.size(), last_due.size());
  EXPECT_GE(kt::psnr(watch.last, last_due), 35);
  // After the first minute of show, and three seconds of the process's life.
  EXPECT_EQ(growth(samples, 60 * fps, 3000, kSanitized ? 1L << 30 : kRssSlackKb, 0), "");
}

// A receiver on TCP that takes the stream for two seconds, hangs up, and
// takes it again when it comes back, for as long as the show plays.
class Receiver {
 public:
  Receiver() {
    fd_ = kt::bound_socket(SOCK_STREAM, port);
    const timeval patience = {0, 200000};  // to look at stop_
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    if (fd_ < 0 || listen(fd_, 2) != 0) port = 0;
    thread_ = std::thread([this] { serve(); });
  }
  ~Receiver() { stop(); }
  // Bytes received in each visit.
  const std::vector<long> &stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return visits_;
  }
  int port = 0;

 private:
  void serve() {
    while (!stop_) {
      const int c = accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &kTick, sizeof kTick);
      long got = 0;
      char buf[65536];
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (!stop_ && std::chrono::steady_clock::now() < until) {
        const ssize_t n = read(c, buf, sizeof buf);
        if (n > 0) got += n;
        else if (n == 0) break;
      }
      close(c);
      visits_.push_back(got);
    }
  }
  static constexpr timeval kTick = {0, 100000};
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::vector<long> visits_;
  std::thread thread_;
};

// The stream's night: a live run at 200 frames a second on a 64x48 screen,
// the show's changes at that rate, sampled by the wall clock.
TEST_F(Night, ALiveStreamToAReceiverThatComesAndGoesStaysFlat) {
  constexpr int fps = 200, seconds = kSanitized ? 30 : 45;
  const std::string show = write_show(fps, (int64_t)seconds * fps);
  Receiver receiver;
  ASSERT_GT(receiver.port, 0);
  const std::string url = "tcp://127.0.0.1:" + std::to_string(receiver.port);
  it::Process run(PLAYER_PROGRAM, temp.path, kOneArena,
                  {"--replay", show, "--size", "64x48", "--stream", url});
  const auto start = std::chrono::steady_clock::now();
  Sampler sampler(run.pid(), [start] {
    return (int64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now() - start).count();
  });
  const int status = run.wait(seconds * 3);
  const std::vector<Sampler::Sample> samples = sampler.stop();
  const std::vector<long> visits = receiver.stop();

  const std::string log = run.log();
  ASSERT_EQ(status, 0) << log;
  EXPECT_TRUE(kt::contains(log, "kolvex: " + std::to_string(seconds * fps) + " frames, "))
      << log;
  // It comes back every time: each visit (but one cut by the end) gets a
  // stream.
  ASSERT_GE(visits.size(), (size_t)seconds / 10) << log;  // one each 4 s or so
  for (size_t i = 0; i + 1 < visits.size(); i++) EXPECT_GT(visits[i], 1000) << "visit " << i;
  // After fifteen seconds; a connection's socket comes and goes with the
  // receiver.
  EXPECT_EQ(growth(samples, 15000, 0, kSanitized ? 1L << 30 : kStreamRssSlackKb, 1), "");
}

}  // namespace
