/*  Kolvex modulation - low-frequency oscillators
 *
 *  `--lfo 'NAME SHAPE RATE'` makes the source lfo/NAME, 0..1:
 *    sine      0.5 + 0.5 sin(2 pi p): 0.5 at the start, rising
 *    triangle  the sine's course in straight lines: 0.5, 1 at p = 0.25,
 *              0 at p = 0.75, 0.5 again
 *    saw       0 -> 1 over the period
 *    square    1 in the first half, 0 in the second
 *    random    a value a period, held; the same for the same name and
 *              period on every run
 *  RATE is in hertz ("0.5hz": p = frame / fps * hz, computed afresh each
 *  frame, never accumulated) or in beats ("2beats": one cycle every 2
 *  beats, p = the tempo's beat position / 2, so it starts on the beat).
 */
#ifndef KOLVEX_MODULATION_LFO_H
#define KOLVEX_MODULATION_LFO_H

#include <cstdint>
#include <string>

enum class LfoShape { sine, triangle, saw, square, random };

struct Lfo {
  std::string name;
  LfoShape shape = LfoShape::sine;
  double rate = 1;     // cycles a second, or beats a cycle
  bool beats = false;  // rate in beats

  // False with one line in `err`: a bad name, an unknown shape, a rate
  // that is not NNhz or NNbeats, or not above 0.
  static bool parse(const std::string &text, Lfo &out, std::string &err);
  std::string text() const;  // as parse() takes it back ("wobble sine 0.5hz")

  // Cycles done at `frame`, from the frame (hz) or the beat position.
  double cycles(int64_t frame, int fps, double beat_position) const;
  // The value after `cycles` cycles: the period's number and the place in it.
  double at(double cycles) const;
};

#endif
