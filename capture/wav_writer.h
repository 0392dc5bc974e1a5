/*  Kolvex capture - WAV file
 *
 *  16-bit PCM in a RIFF WAVE file whose sizes are filled in on close;
 *  written under a temporary name like every capture file.
 */
#ifndef KOLVEX_CAPTURE_WAV_WRITER_H
#define KOLVEX_CAPTURE_WAV_WRITER_H

#include <cstdint>
#include <memory>
#include <string>

#include "pending_file.h"

namespace capture {

class WavWriter {
 public:
  // False with the reason in `err` (naming the file).
  bool open(const std::string &path, int rate, int channels, std::string &err);
  // Interleaved samples, `frames` of them a channel.
  bool write(const int16_t *pcm, int frames, std::string &err);
  // Sizes filled in, the file under its final name.
  bool close(std::string &err);
  const std::string &path() const;
  uint64_t frames() const { return data_bytes_ / (2u * (unsigned)channels_); }

 private:
  std::unique_ptr<PendingFile> file_;
  File out_;
  uint64_t data_bytes_ = 0;
  int rate_ = 0, channels_ = 1;
};

}  // namespace capture

#endif
