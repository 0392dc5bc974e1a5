// The player's live stream as a receiver meets it: the show at its size and
// rate, frame for frame the capture of the same stack, what the closing
// line counts, a keyframe a second; a sender too slow drops frames rather
// than hold the show; a receiver that goes and comes back costs one line
// each; bad URLs are refused.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <thread>

#include "frame_writer.h"
#include "player_fixture.h"
#include "test_support.h"

namespace {

bool receiver_tools() {
  return capture::frame_writer_supports("mp4") && system("ffprobe -version >/dev/null 2>&1") == 0;
}

// The closing line's figures: frames played, sent, dropped.
struct Told { long long frames = -1, sent = -1, dropped = -1; };
Told closing_line(const std::string &log) {
  Told t;
  for (size_t at = log.find("kolvex: "); at != std::string::npos; at = log.find("kolvex: ", at + 1))
    if (sscanf(log.c_str() + at, "kolvex: %lld frames, %lld sent to %*s %*s %*s %lld dropped",
               &t.frames, &t.sent, &t.dropped) == 3)
      break;
  return t;
}

// How often `text` is in `log`.
int occurrences(const std::string &log, const std::string &text) {
  int n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) n++;
  return n;
}

// One visit's bytes into `path`, until the sender hangs up.
void receive(int server, const std::string &path) {
  const int c = accept(server, nullptr, nullptr);
  FILE *f = fopen(path.c_str(), "wb");
  char buf[65536];
  for (ssize_t n; c >= 0 && f && (n = read(c, buf, sizeof buf)) > 0;) fwrite(buf, 1, n, f);
  if (f) fclose(f);
  if (c >= 0) close(c);
}

const std::string kStack = "--seed 7 --size 320x240 --fps 25 layer_gen " PLAYER_DATA_DIR
                           "/ant.png --blit add";

// Each row's stream against what the player says it sent: every frame it
// counts as sent arrives, a keyframe every second, and each frame is, at
// its time stamp, the capture's of the same stack (a gap where one was
// dropped). x264's slowest preset cannot keep up: the frame loop drops
// frames rather than wait.
TEST(PlayerStream, AReceiverGetsWhatTheClosingLineSays) {
  if (!receiver_tools()) GTEST_SKIP() << "no FFmpeg";
  const struct Row {
    const char *name, *options;
    bool drops;
  } rows[] = {{"default", "", false}, {"slow", "--preset placebo", true}};
  kt::TempDir dir;
  ASSERT_EQ(system((PLAYER_PROGRAM " --quiet --seconds 3 --format y4m --capture " + dir.path +
                    "/cap " + kStack).c_str()), 0);
  const auto captured = kt::y4m_frames(dir.path + "/cap/kolvex.y4m");
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string rx = dir.path + "/" + row.name;
    int port = 0;
    const int server = kt::bound_socket(SOCK_STREAM, port);
    ASSERT_EQ(listen(server, 1), 0);
    const std::string url = "tcp://127.0.0.1:" + std::to_string(port);
    std::thread receiver([&] { receive(server, rx + ".ts"); });
    const std::string log = kt::output_of(PLAYER_PROGRAM " --seconds 3 --stream " + url + " " +
                                          row.options + " " + kStack + " 2>&1");
    receiver.join();
    close(server);
    const Told told = closing_line(log);
    ASSERT_EQ(told.frames, 76) << log;
    EXPECT_EQ(told.sent + told.dropped, 76) << log;
    if (row.drops) {
      EXPECT_GT(told.dropped, 0) << log;
    }

    const std::string ts = rx + ".ts";
    const std::string stream = kt::output_of(
        "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height,"
        "r_frame_rate -of csv=p=0 " + ts);
    EXPECT_EQ(stream.substr(0, stream.find('\n')), "h264,320,240,25/1");
    // pts in 1/90000 s and whether the frame is a keyframe, in stream order.
    std::istringstream frames(kt::output_of(
        "ffprobe -v error -select_streams v:0 -show_entries packet=pts,flags -of csv=p=0 " + ts));
    std::vector<long long> pts;
    std::vector<int> keys, every_second;
    for (std::string line; std::getline(frames, line);) {
      if (line.empty()) continue;
      pts.push_back(atoll(line.c_str()));
      if (line.find(",K") != std::string::npos) keys.push_back((int)pts.size() - 1);
      if ((pts.size() - 1) % 25 == 0) every_second.push_back((int)pts.size() - 1);
    }
    ASSERT_EQ((long long)pts.size(), told.sent) << log;
    // A frame joined at shows a picture within a second: no stretch without
    // a keyframe longer than 25 frames; without drops (nor the scene cuts
    // they make) exactly every 25.
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys[0], 0);
    keys.push_back((int)pts.size());
    for (size_t i = 1; i < keys.size(); i++) EXPECT_LE(keys[i] - keys[i - 1], 25) << keys[i];
    keys.pop_back();
    if (told.dropped == 0) {
      EXPECT_EQ(keys, every_second);
    }

    // The live run may be a frame ahead of or behind the capture.
    ASSERT_EQ(system(("ffmpeg -v error -i " + ts + " -fps_mode passthrough -f yuv4mpegpipe " +
                      rx + ".y4m").c_str()), 0);
    const auto sent = kt::y4m_frames(rx + ".y4m");
    ASSERT_EQ((long long)sent.size(), told.sent);
    for (size_t i = 0; i < sent.size(); i++) {
      const size_t at = (size_t)((pts[i] - pts[0]) / 3600);
      double best = 0;
      for (size_t j = at > 2 ? at - 2 : 0; j <= at + 2 && j < captured.size(); j++)
        best = std::max(best, kt::psnr(sent[i], captured[j]));
      EXPECT_GE(best, 30.0) << "frame " << i;  // a neighbour frame scores under 20
    }
  }
}

// A pause holds the picture, and the receiver keeps getting it at the rate:
// it must not stall. The held frames are the programme's: they count.
TEST(PlayerStream, APauseKeepsSendingTheHeldPicture) {
  if (!capture::frame_writer_supports("mp4")) GTEST_SKIP() << "no FFmpeg";
  int port = 0;
  close(kt::bound_socket(SOCK_DGRAM, port));
  PlayerOptions opt;
  std::unique_ptr<Player> player = pt::open_player(
      {"--fps", "50", "--size", "64x48", "--stream", "udp://127.0.0.1:" + std::to_string(port),
       "layer_gen"}, opt);
  ASSERT_NE(player, nullptr);
  for (int i = 0; i < 3; i++) ASSERT_TRUE(player->step());
  player->controls()->paused = true;
  for (int i = 0; i < 10; i++) ASSERT_TRUE(player->step());
  EXPECT_EQ(player->session()->stream_offered(), 13);
  EXPECT_EQ(player->session()->frames(), 13);
}

// A TCP receiver that hangs up and is away a while: one line, the show
// goes on, and the stream comes back when the receiver does, starting with
// a keyframe. With -v, why the attempts meanwhile failed: once, however
// often they fail for it.
TEST(PlayerStream, AReceiverThatGoesAndComesBack) {
  if (!receiver_tools()) GTEST_SKIP() << "no FFmpeg";
  const struct Row {
    const char *options;
    int reasons;
  } rows[] = {{"", 0}, {"-v", 1}};
  kt::TempDir dir;
  const std::string back = dir.path + "/back.ts";
  for (const Row &row : rows) {
    SCOPED_TRACE(row.options);
    int port = 0;
    int server = kt::bound_socket(SOCK_STREAM, port);
    ASSERT_EQ(listen(server, 2), 0);
    fcntl(server, F_SETFD, FD_CLOEXEC);  // the player must not hold it open
    std::thread receiver([&server, port, &back] {
      // A second from the first frames (the header comes before the
      // player's window), however slowly the player starts.
      const int c = accept(server, nullptr, nullptr);
      char buf[65536];
      ssize_t got = 0;
      for (ssize_t n; got < 16384 && c >= 0 && (n = read(c, buf, sizeof buf)) > 0;) got += n;
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      while (got && std::chrono::steady_clock::now() < until && read(c, buf, sizeof buf) > 0) {
      }
      if (c >= 0) close(c);
      // Away long enough for two attempts to be refused, then back.
      close(server);
      usleep(4500000);
      server = socket(AF_INET, SOCK_STREAM, 0);
      const int on = 1;
      setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      sockaddr_in a = {};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(port);
      if (bind(server, (sockaddr *)&a, sizeof a) == 0 && listen(server, 2) == 0)
        receive(server, back);
    });
    const std::string url = "tcp://127.0.0.1:" + std::to_string(port);
    const std::string log = kt::output_of(PLAYER_PROGRAM " --seconds 9 --stream " + url + " " +
                                          row.options + " " + kStack + " 2>&1; echo $?");
    receiver.join();
    close(server);
    EXPECT_EQ(occurrences(log, "kolvex: " + url + ": the receiver is gone ("), 1) << log;
    EXPECT_EQ(occurrences(log, "kolvex: " + url + ": can't send there: "), row.reasons) << log;
    EXPECT_EQ(occurrences(log, ": can't send there: Connection refused ("), row.reasons) << log;
    EXPECT_EQ(occurrences(log, "kolvex: " + url + ": sending again\n"), 1) << log;
    // The encoder went on meanwhile; the receiver's first frame is whole.
    EXPECT_EQ(kt::output_of("ffprobe -v error -select_streams v:0 -show_entries packet=flags "
                            "-read_intervals %+#1 -of csv=p=0 " + back).substr(0, 1),
              "K");
    const Told told = closing_line(log);
    EXPECT_EQ(told.frames, 226) << log;
    EXPECT_GE(told.dropped, 50) << "refused for 2 s at least: " << log;
    EXPECT_EQ(log.substr(log.size() - 2), "0\n") << log;
  }
}

// What cannot be sent is refused before any window, in one line naming
// the URL: status 2.
TEST(PlayerStream, BadUrlsAreOneLineAndStatusTwo) {
  const struct Row {
    const char *args, *line;
  } rows[] = {
      {"--stream foo://x", "foo://x: this FFmpeg has no protocol foo"},
      {"--stream rtmp://127.0.0.1:9/live/x", "rtmp://127.0.0.1:9/live/x: can't send there: "},
      {"--stream srt://127.0.0.1:9", "srt://127.0.0.1:9: can't send there: "},
      {"--stream /dev/video63", "/dev/video63: can't send there: No such file or directory"},
      {"--stream /dev/null --stream-format v4l2",
       "/dev/null: can't send there: Inappropriate ioctl for device"},
      {"--stream /dev/video63 --crf 20", "/dev/video63: raw frames for a V4L2 device take no"},
      {"--stream udp://127.0.0.1:9 --preset turbo", "libx264 refuses preset turbo"},
      {"--stream udp://127.0.0.1:9 --crf 52", "libx264 refuses crf 52 (it takes 0 to 51)"},
      {"--stream udp://127.0.0.1:9 --stream-format nosuch",
       "udp://127.0.0.1:9: this FFmpeg has no nosuch muxer"},
      {"--stream show.xyz", "show.xyz: no format follows from it; --stream-format names one"},
  };
  if (!capture::frame_writer_supports("mp4")) GTEST_SKIP() << "no FFmpeg";
  for (const Row &r : rows) {
    SCOPED_TRACE(r.args);
    const std::string err = kt::output_of(std::string(PLAYER_PROGRAM " --seconds 1 ") + r.args +
                                          " layer_gen 2>&1 >/dev/null; echo $?");
    EXPECT_EQ(err.rfind(std::string("kolvex: ") + r.line, 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << "one line: " << err;
    EXPECT_EQ(err.substr(err.size() - 2), "2\n");
  }
}

}  // namespace
