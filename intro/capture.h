/*  Orvanta 2004 - frame-exact capture
 *
 *  What orvanta-capture adds to the render session (capture/render_session.h)
 *  for the intro: the programme's length, the data it needs, and the
 *  music: a libmikmod output driver that mixes nothing by itself, so that
 *  the session takes exactly one frame's worth of music with each frame.
 */
#ifndef ORVANTA_CAPTURE_H
#define ORVANTA_CAPTURE_H

#include <cstdint>
#include <string>
#include <vector>

#include "render_session.h"
#include "virtual_clock.h"

namespace capture {

constexpr int kRate = 24;        // frames per second
constexpr int kMixFreq = 44100;  // the intro's mixing frequency
constexpr int kWidth = 640, kHeight = 480;

// The frames of the whole programme: the sum of its timed steps
// (programme.cpp, fades and mutations counted as the steps they run): the
// set-up's 14 s in 5 steps and the scenes' 212 s in 74 steps, each step
// of n s taking n * 24 + 1 frames.
constexpr int kProgrammeSeconds = 14 + 212, kProgrammeSteps = 5 + 74;
constexpr int64_t programme_frames() { return kProgrammeSeconds * kRate + kProgrammeSteps; }

// What the intro would play without, from here: one line each, naming the
// file (or effect) and the places looked in. Empty when all is there.
std::vector<std::string> missing_data();

// Makes the capture driver the one libmikmod's automatic choice takes:
// call before the music set-up registers the others.
void register_music_driver();
// One frame's sound: `frames` stereo pairs of the music, silence while
// the music's output is not on.
void mix_music(int16_t *stereo, int frames);

}  // namespace capture

#endif
