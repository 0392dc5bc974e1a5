/*  MIDI controllers: what each message reads as, and a controller's port
 *  through a private JACK server as the show sees it: listed, opened by a
 *  part of its name, its knobs in order, gone and back.
 */
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "jack_server.h"
#include "midi_input.h"
#include "test_support.h"

namespace {

struct MessageCase {
  const char *name;
  std::vector<unsigned char> bytes;
  const char *source;  // nullptr: no control
  double value;
};

void PrintTo(const MessageCase &c, std::ostream *os) { *os << c.name; }

class MidiMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(MidiMessage, ReadsAsItsSource) {
  const MessageCase &c = GetParam();
  MidiEvent e{"untouched", -1};
  const bool control = midi_event(c.bytes.data(), c.bytes.size(), e);
  ASSERT_EQ(control, c.source != nullptr);
  if (!control) return;
  EXPECT_EQ(e.source, c.source);
  EXPECT_DOUBLE_EQ(e.value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MidiMessage,
    ::testing::Values(
        MessageCase{"cc_full", {0xB0, 7, 127}, "midi/cc/1/7", 1.0},
        MessageCase{"cc_middle", {0xB0, 74, 64}, "midi/cc/1/74", 64 / 127.0},
        MessageCase{"cc_channel16_zero", {0xBF, 0, 0}, "midi/cc/16/0", 0.0},
        MessageCase{"note_on", {0x90, 60, 100}, "midi/note/1/60", 100 / 127.0},
        MessageCase{"note_on_velocity0_releases", {0x9F, 127, 0}, "midi/note/16/127", 0.0},
        MessageCase{"note_off_with_velocity", {0x83, 36, 64}, "midi/note/4/36", 0.0},
        MessageCase{"bend_min", {0xE0, 0, 0}, "midi/bend/1", 0.0},
        MessageCase{"bend_rest_is_half", {0xE0, 0x00, 0x40}, "midi/bend/1", 0.5},
        MessageCase{"bend_max", {0xEF, 0x7F, 0x7F}, "midi/bend/16", 1.0},
        MessageCase{"bend_quarter", {0xE0, 0x00, 0x20}, "midi/bend/1", 0.25},
        MessageCase{"clock", {0xF8}, nullptr, 0},
        MessageCase{"active_sensing", {0xFE}, nullptr, 0},
        MessageCase{"sysex", {0xF0, 0x7E, 0xF7}, nullptr, 0},
        MessageCase{"song_position", {0xF2, 1, 2}, nullptr, 0},
        MessageCase{"program_change", {0xC0, 5}, nullptr, 0},
        MessageCase{"short_cc", {0xB0, 7}, nullptr, 0},
        MessageCase{"long_cc", {0xB0, 7, 1, 2}, nullptr, 0},
        MessageCase{"data_byte_with_status_bit", {0xB0, 0x87, 1}, nullptr, 0},
        MessageCase{"no_status", {0x07, 1, 2}, nullptr, 0}),
    [](const ::testing::TestParamInfo<MessageCase> &i) { return std::string(i.param.name); });

// tests/modulation/midi_sender.py, told what to do through its stdin. What
// it says goes to the test's stdout: stderr is ours to check.
class Sender {
 public:
  Sender() : p_(popen("exec /usr/bin/python3 " KT_MIDI_SENDER " 2>&1", "w")) {}
  ~Sender() {
    if (p_) pclose(p_);
  }
  void say(const std::string &line) {
    fputs((line + "\n").c_str(), p_);
    fflush(p_);
  }

 private:
  FILE *p_;
};

// Guards against a hang; no speed is asked of anything.
bool eventually(const std::function<bool()> &done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The events `in` gives until there are `n`.
std::vector<MidiEvent> events(MidiInput &in, size_t n) {
  std::vector<MidiEvent> got;
  eventually([&] {
    in.take(got);
    return got.size() >= n;
  });
  return got;
}

std::string next_news(MidiInput &in) {
  std::string line;
  eventually([&] { return !(line = in.news()).empty(); });
  return line;
}

bool knobs_listed() {
  for (const std::string &p : midi_ports())
    if (kt::contains(p, "knobs")) return true;
  return false;
}

// How a controller's port goes away mid-show.
enum class Loss { SenderCloses, ServerStops };
const char *name(Loss l) { return l == Loss::SenderCloses ? "SenderCloses" : "ServerStops"; }
void PrintTo(Loss l, std::ostream *os) { *os << name(l); }

class MidiPort : public ::testing::TestWithParam<Loss> {};

TEST_P(MidiPort, KnobsArriveInOrderAndComeBackAfterTheLoss) {
  if (system("/usr/bin/python3 -c 'import rtmidi' 2>/dev/null") != 0)
    GTEST_SKIP() << "python3-rtmidi missing";
  kt::JackServer jack;
  ASSERT_TRUE(jack.ok());
  kt::StderrCapture quiet;  // no chatter from RtMidi or libjack, whatever happens
  MidiInput in;
  std::string err;
  EXPECT_FALSE(in.open("knobs", err));
  EXPECT_TRUE(kt::contains(err, "\"knobs\"") && kt::contains(err, "no MIDI ports")) << err;

  auto sender = std::make_unique<Sender>();
  sender->say("open");
  ASSERT_TRUE(eventually(knobs_listed));
  EXPECT_FALSE(in.open("sliders", err));
  EXPECT_TRUE(kt::contains(err, "\"sliders\"") && kt::contains(err, "sender:knobs")) << err;
  ASSERT_TRUE(in.open("KNOBS", err)) << err;
  EXPECT_EQ(in.port(), "sender:knobs");

  // The clock in between is no control; the rest keeps its order.
  for (const char *m : {"b0 07 7f", "91 3c 40", "f8", "81 3c 00", "ef 00 40", "b0 07 00"})
    sender->say(m);
  const std::vector<MidiEvent> want = {{"midi/cc/1/7", 1.0},
                                       {"midi/note/2/60", 64 / 127.0},
                                       {"midi/note/2/60", 0.0},
                                       {"midi/bend/16", 0.5},
                                       {"midi/cc/1/7", 0.0}};
  std::vector<MidiEvent> got = events(in, want.size());
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].source, want[i].source) << i;
    EXPECT_DOUBLE_EQ(got[i].value, want[i].value) << i;
  }

  if (GetParam() == Loss::SenderCloses) {
    sender->say("close");
  } else {
    jack.stop();
    sender.reset();  // its client died with the server
  }
  EXPECT_EQ(next_news(in), "MIDI port sender:knobs gone: its controls hold their last values");
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // a few looks of the watcher
  EXPECT_EQ(in.news(), "");

  if (GetParam() == Loss::ServerStops) {
    ASSERT_TRUE(jack.start());
    sender = std::make_unique<Sender>();
  }
  sender->say("open");
  const std::string back = next_news(in);
  EXPECT_TRUE(kt::contains(back, "MIDI port sender") && kt::contains(back, ":knobs back")) << back;
  sender->say("b0 07 40");
  got = events(in, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].source, "midi/cc/1/7");
  EXPECT_DOUBLE_EQ(got[0].value, 64 / 127.0);
  EXPECT_EQ(in.news(), "");
  EXPECT_EQ(quiet.text(), "");
}

INSTANTIATE_TEST_SUITE_P(Loss, MidiPort, ::testing::Values(Loss::SenderCloses, Loss::ServerStops),
                         [](const ::testing::TestParamInfo<Loss> &i) { return name(i.param); });

}  // namespace
