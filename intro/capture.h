/*  Orvanta 2004 - frame-exact capture
 *
 *  The session of orvanta-capture, apart from its command line: the
 *  intro's programme on the virtual clock (capture/virtual_clock.h), every
 *  frame handed to a frame writer (capture/frame_writer.h), and a
 *  libmikmod output driver that mixes exactly one frame's worth of music
 *  per frame and hands it to the same writer: into the MP4 or WebM file,
 *  or into a WAV file beside the y4m stream or the PNG pictures.
 */
#ifndef ORVANTA_CAPTURE_H
#define ORVANTA_CAPTURE_H

#include <cstdint>
#include <string>

#include "frame_writer.h"
#include "virtual_clock.h"
#include "yuv_planes.h"

namespace capture {

constexpr int kRate = 24;        // frames per second
constexpr int kMixFreq = 44100;  // the intro's mixing frequency
constexpr int kWidth = 640, kHeight = 480;

// Audio samples (per channel) from the start to frame n, and in frame n.
inline int64_t samples_before(int64_t frame) { return samples_before(frame, kMixFreq, kRate); }
inline int samples_in(int64_t frame) {
  return (int)(samples_before(frame + 1) - samples_before(frame));
}
// Microseconds of virtual time at the start of frame n.
inline int64_t usec_at(int64_t frame) { return frame_start_usec(frame, kRate); }

// The frames of the whole programme: the sum of its timed steps
// (programme.cpp, fades and mutations counted as the steps they run): the
// set-up's 14 s in 5 steps and the scenes' 212 s in 74 steps, each step
// of n s taking n * 24 + 1 frames.
constexpr int kProgrammeSeconds = 14 + 212, kProgrammeSteps = 5 + 74;
constexpr int64_t programme_frames() { return kProgrammeSeconds * kRate + kProgrammeSteps; }

struct Options {
  std::string out = "capture";
  std::string format;  // empty: mp4 when built with FFmpeg, else y4m
  uint32_t seed = 2004;
  int seconds = 0;  // 0: the whole programme; else its first N seconds,
                    // both ends included: N * 24 + 1 frames
  bool progress = true;
  int crf = -1;  // encoder settings, see WriterOptions
  std::string preset;
};

// Opens the writer (nothing else done and false, with the reason in
// `err`, when it cannot be), installs the virtual clock and the capture
// driver (before the music set-up registers the others, so the library
// picks it). SIGINT and SIGTERM are held from here on: either ends the
// capture at the end of the frame it came in, the files complete, status
// 1 (so `timeout` makes a short capture that plays). Ends the process
// itself after the last frame of `seconds`, at an interruption and when a
// frame or its sound cannot be written.
bool begin(const Options &opt, std::string &err);
// After the programme: pads the sound to the frames written and closes
// the files. False (the error reported) when something was not written.
bool finish();
// The summary line on stdout: frames, audio frames, the files.
void report();

int64_t frames_written();
int64_t audio_frames_written();

}  // namespace capture

#endif
