/*  Kolvex modulation - MIDI controllers
 *
 *  One input port, opened by its name or a part of it, through RtMidi
 *  (the ALSA sequencer, or JACK MIDI when ALSA has no sequencer). What it
 *  sends becomes sources, channels counted from 1 as on the controllers'
 *  own labels:
 *    midi/cc/CH/NUM      control change, value / 127
 *    midi/note/CH/NUM    velocity / 127 on note on, 0 on note off
 *    midi/bend/CH        pitch bend, 0..1, 0.5 at rest
 *  A port that goes away is told once (news()); the sources hold their
 *  last values, and the port is opened again when a port of that name is
 *  back, told once too.
 */
#ifndef KOLVEX_MODULATION_MIDI_INPUT_H
#define KOLVEX_MODULATION_MIDI_INPUT_H

#include <memory>
#include <string>
#include <vector>

struct MidiEvent {
  std::string source;  // "midi/cc/1/7"
  double value;        // 0..1
};

// What the modulation reads MIDI from: a port (MidiInput), or a test's own.
class MidiSource {
 public:
  virtual ~MidiSource() = default;
  // The events since the last call, in the order they came.
  virtual void take(std::vector<MidiEvent> &out) = 0;
  // A line to tell once when the port has gone or come back; else empty.
  virtual std::string news() { return ""; }
};

// The input ports there are, for --list-midi: one name a line.
std::vector<std::string> midi_ports();

// The source a message names, false for a message that is no control
// (clock, sysex, ...). 3 bytes or fewer.
bool midi_event(const unsigned char *bytes, size_t n, MidiEvent &out);

class MidiInput : public MidiSource {
 public:
  MidiInput();
  ~MidiInput() override;
  // The first port whose name contains `name`. False with one line in
  // `err`: none does (the ports there are named).
  bool open(const std::string &name, std::string &err);
  const std::string &port() const;  // the port's whole name
  void take(std::vector<MidiEvent> &out) override;
  std::string news() override;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

#endif
