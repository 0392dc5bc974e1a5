/*  kolvex - --capture: every frame written, frame-exact
 *
 *  While a capture runs the engine's clock is virtual: every frame lasts
 *  exactly 1/fps s and nothing waits for the wall clock. The frame
 *  limiter's one sleep a frame is where the finished frame is taken and
 *  written, and the layers run in lockstep with the frames, so the same
 *  command line writes the same frames. A timed run of S seconds writes
 *  S * fps + 1 frames. The clock is the process's: one capture at a time.
 */
#ifndef KOLVEX_PLAYER_CAPTURE_OUT_H
#define KOLVEX_PLAYER_CAPTURE_OUT_H

#include <cstdint>
#include <string>

#include "args.h"
#include "context.h"

namespace capture_out {

// What can be known before a window opens: the format is built in and
// takes the screen size and rate. False with one line in `err`.
bool usable(const PlayerOptions &opt, std::string &err);

// Makes opt.capture_dir if needed, opens the writer there and installs
// the virtual clock at `origin` seconds. Call before ctx.init().
bool begin(const PlayerOptions &opt, Context &ctx, uint32_t origin, std::string &err);

// Puts the real clock back and closes the files; false with `err` when a
// frame or the files could not be written. Nothing when none was begun.
bool finish(std::string &err);

}  // namespace capture_out

#endif
