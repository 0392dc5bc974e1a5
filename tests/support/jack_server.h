/*  A JACK server for a test: jackd with its dummy backend (no sound card),
 *  under a name of its own so that tests running side by side do not
 *  meet. JACK_DEFAULT_SERVER names it in this process's environment while
 *  it runs, so that clients made here and programs started from here
 *  (the player, a python MIDI sender) find it.
 */
#ifndef KOLVEX_TEST_JACK_SERVER_H
#define KOLVEX_TEST_JACK_SERVER_H

#include <sys/types.h>

#include <string>

namespace kt {

class JackServer {
 public:
  // Starts it and waits until clients can connect; ok() false (and the
  // test should fail) when it does not come up within 10 s.
  explicit JackServer(int rate = 48000, int period = 256);
  ~JackServer();  // stopped, JACK_DEFAULT_SERVER unset
  bool ok() const { return pid_ > 0 && up_; }
  const std::string &name() const { return name_; }
  int rate() const { return rate_; }
  // Stops it (a server that goes away mid-show); start() brings it back
  // under the same name.
  void stop();
  bool start();

 private:
  std::string name_;
  int rate_, period_;
  pid_t pid_ = -1;
  bool up_ = false;
};

}  // namespace kt

#endif
