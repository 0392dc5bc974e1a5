/*  Kolvex modulation - live sound through JACK
 *
 *  A JACK client ("kolvex") with one input port ("in"), connected to a
 *  port of the server when one is named ("jack:system:capture_1"). What
 *  arrives is kept in a lock-free ring until the frame loop takes it; it
 *  is also written to a WAV file when asked (a recorded show's input),
 *  so that the show can be rendered again with its sound.
 *
 *  When the server goes away the input says so once (news()), the
 *  sources hold their last values, and a thread of its own tries to open
 *  the client again every second; when it is back it says so once.
 */
#ifndef KOLVEX_MODULATION_JACK_INPUT_H
#define KOLVEX_MODULATION_JACK_INPUT_H

#include <memory>
#include <string>

#include "audio_source.h"

class JackInput : public AudioSource {
 public:
  JackInput();
  ~JackInput() override;  // the client closed, the WAV file completed
  // `asked` is "jack" or "jack:PORT". False with one line in `err`: no
  // server running (none is started), or no port PORT.
  bool open(const std::string &asked, std::string &err);
  // Everything taken from now on is written to `wav` too (stereo 16-bit at
  // the server's rate). False with `err` when it cannot be written.
  bool record(const std::string &wav, std::string &err);
  int rate() const override;
  void take(int64_t frame, int fps, std::vector<float> &mono) override;
  std::string news() override;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

#endif
