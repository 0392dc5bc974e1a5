/*  Kolvex capture - YUV4MPEG2 stream
 *
 *  DIR/NAME.y4m: a text header, then "FRAME\n" and the three 4:2:0 planes
 *  (BT.601 studio range) of every frame; any encoder or editor reads it.
 */
#ifndef KOLVEX_CAPTURE_Y4M_WRITER_H
#define KOLVEX_CAPTURE_Y4M_WRITER_H

#include "frame_writer.h"

namespace capture {

std::unique_ptr<FrameWriter> open_y4m_writer(const WriterOptions &options, std::string &err);

}  // namespace capture

#endif
