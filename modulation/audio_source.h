/*  Kolvex modulation - where the analysed sound comes from
 *
 *  A file is read in lockstep with the frames: frame F gets exactly the
 *  samples from samples_before(F) to samples_before(F + 1), whatever the
 *  machine's speed, so that a render analyses what the live show did. A
 *  live input gets what has arrived since the frame before.
 *
 *  Main thread only (a live input's own threads are behind it).
 */
#ifndef KOLVEX_MODULATION_AUDIO_SOURCE_H
#define KOLVEX_MODULATION_AUDIO_SOURCE_H

#include <cstdint>
#include <string>
#include <vector>

class AudioSource {
 public:
  virtual ~AudioSource() = default;
  virtual int rate() const = 0;  // samples a second
  // The mono samples (-1..1) belonging to frame `frame` of a show at `fps`,
  // appended to `mono`.
  virtual void take(int64_t frame, int fps, std::vector<float> &mono) = 0;
  // A line to tell once when the input has gone or has come back (a JACK
  // server stopped); empty otherwise. The show goes on: while gone, take()
  // gives nothing and the sources hold their last values.
  virtual std::string news() { return ""; }
};

#endif
