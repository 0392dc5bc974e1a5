/*  kolvex - pictures of the show for the control surface
 *
 *  The programme's preview and each layer's thumbnail, as JPEG, made off
 *  the frame loop. The frame loop only samples: when a picture is due and
 *  the encoder has finished the last one, sample() takes the mean of a
 *  2x2 block at each picture pixel's place in a frame into a small picture
 *  (a few hundred kilobytes at most); one thread of its own encodes it (FFmpeg's MJPEG
 *  encoder: FFmpeg is linked already) and hands it on. A picture not taken
 *  in time is replaced by the next: nothing waits for a slow encoder or a
 *  slow page.
 *
 *  Pictures are numbered by slot: 0 the programme, N the layer at place N.
 */
#ifndef KOLVEX_WEB_THUMBNAILS_H
#define KOLVEX_WEB_THUMBNAILS_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class Thumbnails {
 public:
  // Encoded pictures go to `ready` on the encoder's thread: slot, JPEG
  // bytes.
  typedef std::function<void(int slot, const std::string &jpeg)> Ready;
  explicit Thumbnails(Ready ready);
  ~Thumbnails();  // the encoder's thread ended

  // True when the encoder has nothing waiting: the frame loop may sample.
  bool idle() const;
  // Samples a frame of w x h pixels, 4 bytes each (blue, green, red,
  // unused), `pitch` bytes a line, down to at most max_w x max_h with the
  // frame's proportions (never larger than the frame), for `slot`. Frame
  // loop only; several slots may be sampled before encode().
  void sample(int slot, const uint8_t *pixels, int w, int h, int pitch, int max_w, int max_h);
  // Hands what was sampled since the last call to the encoder's thread.
  void encode();

  // The size sample() makes of a w x h frame within max_w x max_h: each
  // side at least 1; even sides (JPEG's 4:2:0) unless a side is 1.
  static void fit(int w, int h, int max_w, int max_h, int &out_w, int &out_h);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

#endif
