// The show driven by music and controllers, as a performer runs it: the
// program itself with a sound file, a live JACK input and a MIDI port (a
// private JACK server with its dummy backend, a click track played into
// it by a client of this test, CCs sent by a python sender), recorded and
// rendered again.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "jack_server.h"
#include "test_support.h"
#include "virtual_clock.h"
#include "wav_writer.h"

namespace {

const int kRate = 48000;

struct Outcome {
  int status;
  std::string err;  // stderr
};

// kolvex's status and what it says on stderr; `args` as a shell's words.
Outcome kolvex(const std::string &args) {
  const std::string said =
      kt::output_of(PLAYER_PROGRAM " " + args + " 2>&1 >/dev/null; echo status $?");
  const size_t at = said.rfind("status ");
  return {atoi(said.c_str() + at + 7), said.substr(0, at)};
}

// A click: 5 ms of a loud 1 kHz tone, as a metronome's.
float click(size_t i) { return i < 240 ? 0.9f * (float)std::sin(2 * M_PI * 1000 * (double)i / kRate) : 0; }
void add_click(std::vector<int16_t> &mono, size_t at) {
  for (size_t i = 0; i < 240 && at + i < mono.size(); i++) mono[at + i] = (int16_t)(click(i) * 32767);
}

// Mean luma of each frame of a y4m file.
std::vector<double> brightness(const std::string &y4m, int w, int h) {
  std::vector<double> out;
  for (const std::string &f : kt::y4m_frames(y4m)) {
    double sum = 0;
    for (int i = 0; i < w * h; i++) sum += (unsigned char)f[(size_t)i];
    out.push_back(sum / (w * h));
  }
  return out;
}

// The first sample of a decoded stereo s16 stream louder than half scale.
long first_loud(const std::string &pcm) {
  for (size_t i = 0; i + 1 < pcm.size(); i += 4) {
    int16_t v;
    memcpy(&v, &pcm[i], 2);
    if (std::abs(v) > 16000) return (long)(i / 4);
  }
  return -1;
}

// A JACK client of the test playing a click every `period` samples from
// its port "out", the first at `first`.
class Clicker {
 public:
  Clicker(size_t period, size_t first) : period_(period), next_(first) {
    client_ = jack_client_open("clicker", JackNoStartServer, nullptr);
    if (!client_) return;
    port_ = jack_port_register(client_, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client_, process, this);
    jack_activate(client_);
  }
  ~Clicker() {
    if (client_) jack_client_close(client_);
  }
  bool ok() const { return client_ && port_; }

 private:
  static int process(jack_nframes_t n, void *self) {
    Clicker *c = (Clicker *)self;
    float *out = (float *)jack_port_get_buffer(c->port_, n);
    for (jack_nframes_t i = 0; i < n; i++, c->at_++) {
      if (c->at_ == c->next_) c->since_ = 0, c->next_ += c->period_;
      out[i] = click(c->since_++);
    }
    return 0;
  }
  jack_client_t *client_ = nullptr;
  jack_port_t *port_ = nullptr;
  size_t period_, next_, at_ = 0, since_ = 1000;
};

// A MIDI controller: tests/modulation/midi_sender.py's JACK MIDI port
// "sender:knobs", opened and sent through as told.
class MidiSender {
 public:
  MidiSender() {
    int fds[2];
    if (pipe(fds)) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[0], 0);
      ::close(fds[1]);
      execl("/usr/bin/python3", "python3", PLAYER_MIDI_SENDER, (char *)nullptr);
      _exit(127);
    }
    ::close(fds[0]);
    pipe_ = fdopen(fds[1], "w");
  }
  // Killed: a sender whose server went away may hang in JACK on its way out.
  ~MidiSender() {
    if (pipe_) fclose(pipe_);
    if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
  }
  // True once JACK lists the port.
  bool open() {
    say("open");
    for (int i = 0; i < 100; i++) {
      if (kt::output_of("jack_lsp 2>/dev/null").find("sender:knobs") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  void say(const std::string &line) {  // "open", or a message's bytes in hex
    if (!pipe_) return;
    fprintf(pipe_, "%s\n", line.c_str());
    fflush(pipe_);
  }

 private:
  pid_t pid_ = -1;
  FILE *pipe_ = nullptr;
};

}  // namespace

// A click at 1 s and one at 2.5 s: each is in the capture's sound at its
// sample and moves the picture in its frame (audio/onset drives a layer's
// alpha), whatever the format.
TEST(PlayerMusic, ACaptureCarriesTheSoundInStepWithItsFrames) {
  kt::TempDir dir;
  std::vector<int16_t> clicks(3 * kRate);
  const long at[] = {kRate, kRate * 5 / 2};
  for (long a : at) add_click(clicks, (size_t)a);
  capture::WavWriter wav;
  std::string err;
  ASSERT_TRUE(wav.open(dir.path + "/clicks.wav", kRate, 1, err) &&
              wav.write(clicks.data(), (int)clicks.size(), err) && wav.close(err)) << err;
  const std::string stack = "--quiet --size 160x120 --seconds 3 --audio " + dir.path +
                            "/clicks.wav --map 'audio/onset /layer/1/alpha' " PLAYER_DATA_DIR
                            "/ant.png --alpha 0";
  const struct {
    std::string format, sound;
    long within;  // samples: a lossy codec smears the click
  } rows[] = {{"y4m", "kolvex.wav", 0}, {"mp4", "kolvex.mp4", 64}, {"webm", "kolvex.webm", 64}};
  std::vector<double> lit;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.format);
    const std::string out = dir.path + "/" + row.format;
    const Outcome r = kolvex(stack + " --format " + row.format + " --capture " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string file = out + "/" + row.sound;
    const std::string pcm = kt::output_of("ffmpeg -v error -i '" + file +
                                          "' -vn -f s16le -ac 2 -ar 48000 -");
    // The sound is as long as the pictures: 73 frames.
    EXPECT_NEAR((double)pcm.size() / 4, (double)capture::samples_before(73, kRate, 24), kRate / 24)
        << "sound and pictures differ in length";
    long rise = 0;  // the click's first sample over half scale
    while (click((size_t)rise) * 32767 <= 16000) rise++;
    EXPECT_NEAR(first_loud(pcm), at[0] + rise, row.within + 0.5);
    if (row.format == "y4m") lit = brightness(out + "/kolvex.y4m", 160, 120);
  }
  // The frames the clicks fall in (24 and 60) light up; the frame before
  // each is dark.
  ASSERT_EQ(lit.size(), 73u);
  for (long a : at) {
    const size_t frame = (size_t)(a * 24 / kRate);
    SCOPED_TRACE(frame);
    EXPECT_LT(lit[frame - 1], 17.0);  // black, as luma
    EXPECT_GT(std::max(lit[frame], lit[frame + 1]), 40.0);
  }
}

// A live set: clicks at 120 BPM from the mixer (a JACK client of the test)
// and a MIDI knob, recorded; the show names its sound, recorded beside it,
// and renders again to the same bytes every time, with the beats on their
// frames.
TEST(PlayerMusic, ALiveSetWithJackAndMidiRendersAgainTheSame) {
  kt::JackServer jack;
  ASSERT_TRUE(jack.ok());
  Clicker clicker(kRate / 2, kRate / 4);
  ASSERT_TRUE(clicker.ok());
  MidiSender knobs;
  ASSERT_TRUE(knobs.open());
  kt::TempDir dir;
  const std::string show = dir.path + "/set.show";
  const std::string live =
      "--quiet --size 160x120 --seconds 4 --audio-in jack:clicker:out --midi knobs "
      "--map 'audio/onset /layer/1/alpha' --map 'midi/cc/1/7 /layer/2/alpha' --record " +
      show + " " PLAYER_DATA_DIR "/ant.png --alpha 0 " PLAYER_DATA_DIR
      "/code.png --alpha 0 --pos 80,60";
  Outcome r;
  std::thread player([&] { r = kolvex(live); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  knobs.say("b0 07 7f");  // CC 7 on channel 1
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  knobs.say("b0 07 40");
  player.join();
  ASSERT_EQ(r.status, 0) << r.err;

  const std::vector<uint8_t> bytes = kt::read_file(show);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("\naudio set.show.wav\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" /midi/cc/1/7 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" /midi/cc/1/7 0.50"), std::string::npos) << text;
  // The input as it came, as long as the show (its clicks: jack_test).
  const std::string wav = kt::output_of("ffmpeg -v error -i '" + show + ".wav' -f s16le -ac 2 -");
  EXPECT_NEAR((double)wav.size() / 4, 4.0 * kRate, kRate / 2.0);

  std::vector<uint8_t> renders[2];
  for (int i = 0; i < 2; i++) {
    const std::string out = dir.path + "/r" + std::to_string(i);
    const Outcome rr = kolvex("--quiet --format y4m --replay " + show + " --capture " + out);
    ASSERT_EQ(rr.status, 0) << rr.err;
    renders[i] = kt::read_file(out + "/kolvex.y4m");
    EXPECT_FALSE(kt::read_file(out + "/kolvex.wav").empty()) << "no sound in the render";
  }
  ASSERT_FALSE(renders[0].empty());
  EXPECT_TRUE(renders[0] == renders[1]) << "two renders of one show differ";
  // The beats light the bottom layer every 12 frames (120 BPM at 24 fps).
  const std::vector<double> lit = brightness(dir.path + "/r0/kolvex.y4m", 160, 120);
  std::vector<size_t> beats;
  for (size_t f = 1; f < lit.size(); f++)
    if (lit[f] > lit[f - 1] + 10) beats.push_back(f);
  ASSERT_GE(beats.size(), 5u);
  for (size_t i = 1; i < beats.size(); i++) EXPECT_NEAR((double)(beats[i] - beats[i - 1]), 12.0, 1.0);
}
