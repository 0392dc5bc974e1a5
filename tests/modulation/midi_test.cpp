/*  MIDI controllers: what each message reads as, and a controller's port
 *  through a private JACK server as the show sees it: listed, opened by a
 *  part of its name, its knobs in order, gone and back.
 */
#include <gtest/gtest.h>

#include <algorithm>
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

struct Message {
  const char *name;
  std::vector<unsigned char> bytes;
  const char *source;  // nullptr: no control
  double value;
};
void PrintTo(const Message &m, std::ostream *os) { *os << m.name; }

class MidiMessage : public ::testing::TestWithParam<Message> {};

TEST_P(MidiMessage, ReadsAsItsSource) {
  const Message &m = GetParam();
  MidiEvent e{"", -1};
  ASSERT_EQ(midi_event(m.bytes.data(), m.bytes.size(), e), m.source != nullptr);
  if (!m.source) return;
  EXPECT_EQ(e.source, m.source);
  EXPECT_DOUBLE_EQ(e.value, m.value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MidiMessage,
    ::testing::Values(Message{"cc", {0xB0, 74, 64}, "midi/cc/1/74", 64 / 127.0},
                      Message{"cc_channel16", {0xBF, 0, 127}, "midi/cc/16/0", 1.0},
                      Message{"note_on", {0x90, 60, 100}, "midi/note/1/60", 100 / 127.0},
                      Message{"note_on_velocity0", {0x9F, 127, 0}, "midi/note/16/127", 0.0},
                      Message{"note_off", {0x83, 36, 64}, "midi/note/4/36", 0.0},
                      Message{"bend_min", {0xE0, 0, 0}, "midi/bend/1", 0.0},
                      Message{"bend_rest", {0xE0, 0x00, 0x40}, "midi/bend/1", 0.5},
                      Message{"bend_max", {0xEF, 0x7F, 0x7F}, "midi/bend/16", 1.0},
                      Message{"clock", {0xF8}, nullptr, 0},
                      Message{"sysex", {0xF0, 0x7E, 0xF7}, nullptr, 0},
                      Message{"program_change", {0xC0, 5}, nullptr, 0},
                      Message{"short", {0xB0, 7}, nullptr, 0},
                      Message{"long", {0xB0, 7, 1, 2}, nullptr, 0},
                      Message{"data_byte_high", {0xB0, 0x87, 1}, nullptr, 0}),
    [](const ::testing::TestParamInfo<Message> &i) { return std::string(i.param.name); });

// Polls until `done`; the limit guards against a hang, no speed is asked.
bool eventually(const std::function<bool()> &done) {
  for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
    if (done()) return true;
  return false;
}

// tests/modulation/midi_sender.py, told through its stdin. What it says
// goes to stdout: stderr is ours to check.
using Sender = std::unique_ptr<FILE, int (*)(FILE *)>;
Sender sender() { return Sender(popen("exec /usr/bin/python3 " KT_MIDI_SENDER " 2>&1", "w"), pclose); }
void say(const Sender &s, const char *line) { fprintf(s.get(), "%s\n", line), fflush(s.get()); }

void expect_events(MidiInput &in, const std::vector<MidiEvent> &want) {
  std::vector<MidiEvent> got;
  eventually([&] { return in.take(got), got.size() >= want.size(); });
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].source, want[i].source) << i;
    EXPECT_DOUBLE_EQ(got[i].value, want[i].value) << i;
  }
}

std::string next_news(MidiInput &in) {
  std::string line;
  eventually([&] { return !(line = in.news()).empty(); });
  return line;
}

// The parameter: how the port goes away mid-show, the JACK server stopping
// (with the sender's client) or else the sender closing it.
class MidiPort : public ::testing::TestWithParam<bool> {};

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

  Sender knobs = sender();
  say(knobs, "open");
  ASSERT_TRUE(eventually([] {
    const std::vector<std::string> ports = midi_ports();
    return std::find(ports.begin(), ports.end(), "sender:knobs") != ports.end();
  }));
  EXPECT_FALSE(in.open("sliders", err));
  EXPECT_TRUE(kt::contains(err, "\"sliders\"") && kt::contains(err, "sender:knobs")) << err;
  ASSERT_TRUE(in.open("KNOBS", err)) << err;
  EXPECT_EQ(in.port(), "sender:knobs");
  // The clock in between is no control; the rest keeps its order.
  for (const char *m : {"b0 07 7f", "91 3c 40", "f8", "81 3c 00", "ef 00 40", "b0 07 00"})
    say(knobs, m);
  expect_events(in, {{"midi/cc/1/7", 1.0},
                     {"midi/note/2/60", 64 / 127.0},
                     {"midi/note/2/60", 0.0},
                     {"midi/bend/16", 0.5},
                     {"midi/cc/1/7", 0.0}});

  // Unlinked behind its back (as when the server drops a client it thinks
  // hung): gone, then opened again, and it hears.
  ASSERT_EQ(system("jack_disconnect sender:knobs kolvex:in"), 0);
  EXPECT_EQ(next_news(in), "MIDI port sender:knobs gone: its controls hold their last values");
  EXPECT_EQ(next_news(in), "MIDI port sender:knobs back");
  std::vector<MidiEvent> heard;
  ASSERT_TRUE(eventually([&] { return say(knobs, "b0 07 01"), in.take(heard), !heard.empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // what was sent meanwhile
  in.take(heard);

  const bool server_stops = GetParam();
  if (server_stops) jack.stop(), knobs.reset();
  if (!server_stops) say(knobs, "close");
  EXPECT_EQ(next_news(in), "MIDI port sender:knobs gone: its controls hold their last values");
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // a few looks of the watcher
  EXPECT_EQ(in.news(), "");

  if (server_stops) {
    ASSERT_TRUE(jack.start());
    knobs = sender();
  }
  say(knobs, "open");
  const std::string back = next_news(in);  // JACK may have renamed it "sender-01"
  EXPECT_TRUE(kt::contains(back, "MIDI port sender") && kt::contains(back, ":knobs back")) << back;
  // Sent until it comes: what a controller sends while the link is being
  // made is lost, the next value is not.
  std::vector<MidiEvent> got;
  ASSERT_TRUE(eventually([&] { return say(knobs, "b0 07 40"), in.take(got), !got.empty(); }));
  EXPECT_TRUE(got[0].source == "midi/cc/1/7" && got[0].value == 64 / 127.0) << got[0].source;
  EXPECT_EQ(in.news(), "");
  EXPECT_EQ(quiet.text(), "");
}

INSTANTIATE_TEST_SUITE_P(Loss, MidiPort, ::testing::Bool(), [](const auto &i) {
  return std::string(i.param ? "ServerStops" : "SenderCloses");
});

}  // namespace
