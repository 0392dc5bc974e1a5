/*  kolvex - the loader: layers made off the frame loop
 *
 *  One worker thread runs the layer factory (make_layer: a clip is opened
 *  and its decoder probed, slow for a big one) for each source asked for,
 *  in order, and keeps the finished layer, not yet set up in any engine,
 *  until the main thread takes it. The frame loop never waits for a file
 *  unless it asks to (wait(): a render, which has no rate to hold).
 */
#ifndef KOLVEX_PLAYER_LOADER_H
#define KOLVEX_PLAYER_LOADER_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "layer.h"

class Loader {
 public:
  struct Done {
    uint64_t ticket = 0;
    std::string source;
    LayerPtr layer;                // null when the factory refused
    std::string err;               // then why, one line
  };

  Loader();
  ~Loader();  // the worker ends after the open under way; unclaimed layers deleted

  uint64_t request(const std::string &source);  // a ticket, from 1
  std::vector<Done> take();                     // the finished ones, in order; never waits
  Done wait(uint64_t ticket);                   // until that one is finished
  size_t waiting() const;                       // asked for, not taken yet

  // While held the worker starts no open (what it has begun, it finishes):
  // a test holds a load back to see the frames go on meanwhile.
  void hold(bool on);
  uint64_t waits() const { return waits_; }  // wait() calls so far

 private:
  void work();

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // a request, a release, the end
  std::condition_variable done_;  // a load finished
  std::deque<std::pair<uint64_t, std::string>> queue_;
  std::vector<Done> finished_;
  uint64_t next_ = 1;
  uint64_t waits_ = 0;
  bool held_ = false;
  bool quit_ = false;
  size_t busy_ = 0;  // taken from the queue, not finished
  std::thread worker_;

  Loader(const Loader &) = delete;
  Loader &operator=(const Loader &) = delete;
};

#endif
