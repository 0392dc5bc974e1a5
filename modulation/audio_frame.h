/*  Kolvex modulation - what the sound says in one frame
 *
 *  The values the audio analysis gives for each frame of the show, all of
 *  them read by the modulation as sources ("audio/level" ...).
 */
#ifndef KOLVEX_MODULATION_AUDIO_FRAME_H
#define KOLVEX_MODULATION_AUDIO_FRAME_H

struct AudioFrame {
  // 0..1, each with its own adaptive gain: a quiet room and a loud club
  // both span the range; silence reads 0.
  double level = 0, low = 0, mid = 0, high = 0;
  double onset = 0;  // 1 in the frame of an onset, then decaying to 0
  double beat = 0;   // 1 in the frame of a beat, else 0
  double phase = 0;  // 0..1 through the beat, 0 on it
  double bpm = 0;    // the tempo found so far; 0 before there is one
};

#endif
