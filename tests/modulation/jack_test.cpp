// Live sound through JACK as a performer's rig gives it: a click track
// played by a client of the test's own arrives whole and in order and is
// recorded as it arrived, through a server gone and back (told once each
// way); what cannot be opened is refused with one line.
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>

#include "jack_input.h"
#include "jack_server.h"
#include "test_support.h"

namespace {

const long kSpacing = 1000;  // not a multiple of the period: a lost period shows
std::atomic<int> xruns{0};  // JACK's late cycles, told to the test's clients

// testclient:out: click k every kSpacing samples at (k % 100 + 1) / 128,
// silence between, so that a click lost or doubled shows in the numbers.
struct ClickTrack {
  ClickTrack() : client(jack_client_open("testclient", JackNoStartServer, nullptr)) {
    if (!client) return;
    port = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client, click_track_process, this);
    jack_set_xrun_callback(client, [](void *) { xruns++; return 0; }, nullptr);
    jack_activate(client);
  }
  ~ClickTrack() {
    if (client) jack_client_close(client);
  }
  static int click_track_process(jack_nframes_t n, void *arg) {  // named in tsan.supp
    auto *t = static_cast<ClickTrack *>(arg);
    auto *out = static_cast<float *>(jack_port_get_buffer(t->port, n));
    for (jack_nframes_t i = 0; i < n; i++, t->at++)
      out[i] = t->at % kSpacing ? 0.0f : (float)(t->at / kSpacing % 100 + 1) / 128;
    return 0;
  }
  jack_client_t *client;
  jack_port_t *port = nullptr;
  long at = 0;  // the process thread's
};

// (where, number) of the clicks among `n` samples, every `stride`th.
typedef std::vector<std::pair<size_t, long>> Clicks;
template <typename T>
Clicks clicks(const T *samples, size_t n, double scale = 128, size_t stride = 1) {
  Clicks c;
  for (size_t i = 0; i * stride < n; i++)
    if (samples[i * stride] != 0) c.push_back({i, lround(samples[i * stride] * scale)});
  return c;
}

// Every click kSpacing after the one before and numbered next, but where
// JACK has told of a late cycle (a period lost or played twice).
void expect_regular(const Clicks &c, size_t at_least) {
  EXPECT_GE(c.size(), at_least);
  int breaks = 0;
  for (size_t i = 1; i < c.size(); i++)
    breaks += c[i].first - c[i - 1].first != (size_t)kSpacing ||
              c[i].second != c[i - 1].second % 100 + 1;
  EXPECT_LE(breaks, 2 * xruns);
}

// Frames at 50 a second until `done` or 10 s; the news told meanwhile.
void play(JackInput &in, std::vector<float> &got, std::vector<std::string> &news,
          const std::function<bool()> &done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int64_t f = 0; !done() && std::chrono::steady_clock::now() < until; f++) {
    in.take(f, 50, got);
    const std::string line = in.news();
    if (!line.empty()) news.push_back(line);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

TEST(JackInput, ARecordedShowRidesOutTheServerGoneAndBack) {
  kt::JackServer server(44100, 4096);  // periods long enough for a loaded machine
  ASSERT_TRUE(server.ok());
  kt::TempDir dir;
  std::unique_ptr<ClickTrack> track(new ClickTrack);
  std::vector<float> got;
  std::vector<std::string> news;
  std::vector<size_t> cuts = {0};  // where the connection changed
  kt::StderrCapture said;
  {
    JackInput in;
    std::string err;
    ASSERT_TRUE(in.open("jack:testclient:out", err)) << err;
    EXPECT_EQ(in.rate(), 44100);
    ASSERT_TRUE(in.record(dir.path + "/show.wav", err)) << err;
    play(in, got, news, [&] { return got.size() > 75 * kSpacing; });
    // A dead client is closed at once: libjack deletes those still open
    // when a client of the process opens again.
    server.stop();
    track.reset();
    play(in, got, news, [&] { return !news.empty(); });
    cuts.push_back(got.size());
    ASSERT_TRUE(server.start());
    track.reset(new ClickTrack);
    auto since_cut = [&] { return clicks(got.data() + cuts.back(), got.size() - cuts.back()); };
    play(in, got, news, [&] { return news.size() > 1 && since_cut().size() >= 20; });
    // The program behind the port restarted, the server still up: linked
    // again, nothing told.
    track.reset();
    cuts.push_back(got.size());
    track.reset(new ClickTrack);
    play(in, got, news, [&] { return since_cut().size() >= 20; });
    cuts.push_back(got.size());
  }
  EXPECT_EQ(said.text(), "") << "JACK's own chatter while the input waits";
  ASSERT_EQ(news.size(), 2u);
  EXPECT_TRUE(kt::contains(news[0], "gone")) << news[0];
  EXPECT_TRUE(kt::contains(news[1], "back")) << news[1];
  // JACK may play a period twice or not at all while a connection is made
  // or broken (a slow client's turn skipped): checked between, the clicks
  // are all there.
  const size_t settle = 2 * 4096;
  for (size_t i = 1; i < cuts.size(); i++)
    expect_regular(clicks(got.data() + cuts[i - 1] + settle, cuts[i] - cuts[i - 1] - 2 * settle),
                   i == 1 ? 55 : 3);

  // Stereo, both channels the input, at the server's rate.
  const std::vector<uint8_t> wav = kt::read_file(dir.path + "/show.wav");
  ASSERT_EQ(wav.size(), 44 + 4 * got.size());
  EXPECT_EQ(wav[22] | wav[23] << 8, 2);
  EXPECT_EQ(wav[24] | wav[25] << 8 | wav[26] << 16, 44100);
  EXPECT_EQ(wav[34], 16);
  std::vector<int16_t> pcm(2 * got.size());
  memcpy(pcm.data(), wav.data() + 44, 4 * got.size());
  for (size_t channel : {0, 1})
    EXPECT_EQ(clicks(pcm.data() + channel, pcm.size() - channel, 128.0 / 32767, 2),
              clicks(got.data(), got.size()));
}

TEST(JackInput, RefusesWhatItCannotOpenWithOneLine) {
  struct Row {
    const char *asked;
    bool server;  // the rows with one first: it is stopped for the others
    const char *says;
  } rows[] = {
      {"jack:nobody:out", true, "no JACK port nobody:out (jack_lsp lists them)"},
      {"alsa", true, "sound input alsa: jack or jack:PORT"},
      {"jack:", true, "sound input jack:: jack or jack:PORT"},
      {"jack", false, "no JACK server running (start jackd, or qjackctl)"},
  };
  kt::JackServer server;
  ASSERT_TRUE(server.ok());
  for (const Row &row : rows) {
    SCOPED_TRACE(row.asked);
    if (!row.server) server.stop();
    JackInput in;
    std::string err;
    kt::StderrCapture said;
    EXPECT_FALSE(in.open(row.asked, err));
    EXPECT_EQ(said.text(), "") << "JACK's own chatter";
    EXPECT_EQ(err, row.says);
    EXPECT_FALSE(in.record("/dev/null", err));
  }
}
