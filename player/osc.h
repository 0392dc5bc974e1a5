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

 private:
  int message(Controls &controls, const void *data, size_t size);
  int bundle(Controls &controls, const uint8_t *data, size_t size, int depth);
  void tell(const std::string &path, const std::string &why);

  bool quiet_;
  std::set<std::string> told_;  // addresses told about, a bounded number
};

// The server on ADDR:PORT (UDP), a control source for Player::add_source.
// Null with one line in `err` when the port cannot be had.
std::unique_ptr<ControlSource> open_osc(const std::string &addr, int port, bool quiet,
                                        std::string &err);
// The server on a socket already bound, which it closes. An error on
// receive is told once on stderr (a line even when `quiet`: nothing comes in).
std::unique_ptr<ControlSource> osc_server(int fd, bool quiet);

#endif
