/*  Kolvex capture - numbered PNG pictures
 *
 *  DIR/frame_000001.png, DIR/frame_000002.png ...: 8-bit RGB, fast
 *  compression, one lossless picture a frame for stills and editors.
 *  Opening the writer removes the frame_NNNNNN.png files already in DIR
 *  (an older capture's), so that the folder holds this capture alone.
 *
 *  Given a pool of several threads (WriterOptions::pool), as many frames
 *  as it has threads are copied and held, then encoded at once, one
 *  picture a thread: a frame's failure shows at the write that completes
 *  its batch, or at close(), naming the frame (error_frame()). The folder
 *  ends the same on any number of threads: the frames up to the first
 *  that failed, none after it.
 */
#ifndef KOLVEX_CAPTURE_PNG_WRITER_H
#define KOLVEX_CAPTURE_PNG_WRITER_H

#include "frame_writer.h"

namespace capture {

std::unique_ptr<FrameWriter> open_png_writer(const WriterOptions &options, std::string &err);

// One picture of the layer format (bytes blue, green, red, fourth; the
// fourth left out) as such a PNG file, under the file rule (a temporary
// name until complete). False with `err` ("PATH: reason").
bool save_png(const std::string &path, const uint8_t *bgrx, int w, int h, int pitch,
              std::string &err);

}  // namespace capture

#endif
