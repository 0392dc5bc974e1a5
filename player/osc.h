/*  kolvex - changes over OSC
 *
 *  An OSC server on UDP: each message is a change of the control tree
 *  (controls.h), its address the path, its arguments the value: numbers
 *  as i, h, f or d, text as s or S, booleans as T and F. Bundles are
 *  opened (their time tags ignored: a change shows in the next frame).
 *  Polled from the frame loop between frames, so nothing changes while a
 *  frame is composed. An address that does not exist or a value of the
 *  wrong type is told once per address and dropped; a malformed packet is
 *  dropped. Nothing is loaded or run because of a message.
 *
 *  Built with liblo (found by pkg-config); without it osc_available() is
 *  false and open_osc() says so.
 */
#ifndef KOLVEX_PLAYER_OSC_H
#define KOLVEX_PLAYER_OSC_H

#include <cstddef>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "controls.h"
#include "player.h"

bool osc_available();

// One packet's changes, apart from the network (the fuzz target's way in).
class OscHandler {
 public:
  explicit OscHandler(bool quiet) : quiet_(quiet) {}
  // Applies what `data` holds; the number of changes done.
  int handle(Controls &controls, const void *data, size_t size);
  // Where `/get PATH` sends its answer: a message to PATH holding the value
  // (numbers as floats, texts as strings). Unset: no answer.
  std::function<void(const std::string &path, const ControlArgs &value)> reply;

 private:
  int message(Controls &controls, const void *data, size_t size);
  int bundle(Controls &controls, const uint8_t *data, size_t size, int depth);
  void tell(const std::string &path, const std::string &why);

  bool quiet_;
  std::set<std::string> told_;  // addresses told about, a bounded number
};

// `/get PATH` is not a change: it answers the sender with the value at
// PATH, addressed to PATH (a control surface asks what to show).

// The server on ADDR:PORT (UDP), a control source for Player::add_source.
// Null with one line in `err` when the port cannot be had.
std::unique_ptr<ControlSource> open_osc(const std::string &addr, int port, bool quiet,
                                        std::string &err);
// The server on a socket already bound, which it closes. An error on
// receive is told once on stderr (a line even when `quiet`: nothing comes in).
std::unique_ptr<ControlSource> osc_server(int fd, bool quiet);

// Sends every change the tree makes, whatever made it (keys, OSC, a
// replay), as OSC to HOST:PORT, so a control surface stays in sync.
// `where` is "HOST:PORT"; null with one line in `err` when it is not one.
// A control source (it takes nothing), hooked on `controls`.
std::unique_ptr<ControlSource> open_osc_feedback(Controls &controls, const std::string &where,
                                                 std::string &err);
// An OSC message for PATH holding `args`, as bytes (empty when it cannot be
// made).
std::string osc_message(const std::string &path, const ControlArgs &args);

#endif
