/*  Kolvex - FFmpeg's process-wide state, in one place
 *
 *  What FFmpeg keeps for the whole process is set here, once, by the first
 *  user on any thread (a video layer, a capture's encoder, a live stream):
 *
 *    - its log kept off the terminal: each thread's last error line is
 *      kept for that thread, so that a failure is explained by what FFmpeg
 *      said during that call, never by what another thread's call said;
 *    - its devices registered (V4L2 cameras and outputs), when built with
 *      libavdevice.
 *
 *  Only for code built with FFmpeg's libraries.
 */
#ifndef KOLVEX_FFMPEG_PROCESS_H
#define KOLVEX_FFMPEG_PROCESS_H

#include <string>

namespace ffmpeg_process {

// The setup above; any thread, any number of times.
void set_up();

// The last error line FFmpeg logged on this thread since the previous
// call (without "[name @ address]" and the line's end); empty when none.
std::string take_error_line();

}  // namespace ffmpeg_process

#endif
