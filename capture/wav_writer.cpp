#include "wav_writer.h"

#include <cerrno>
#include <cstring>

namespace capture {

namespace {

void put_le(uint8_t *p, uint32_t v, int n) {
  for (int i = 0; i < n; i++) p[i] = (uint8_t)(v >> (8 * i));
}

void wav_header(uint8_t h[44], int rate, int channels, uint32_t data_bytes) {
  memcpy(h, "RIFF", 4);
  put_le(h + 4, 36 + data_bytes, 4);
  memcpy(h + 8, "WAVEfmt ", 8);
  put_le(h + 16, 16, 4);
  put_le(h + 20, 1, 2);  // PCM
  put_le(h + 22, (uint32_t)channels, 2);
  put_le(h + 24, (uint32_t)rate, 4);
  put_le(h + 28, (uint32_t)(rate * channels * 2), 4);
  put_le(h + 32, (uint32_t)(channels * 2), 2);
  put_le(h + 34, 16, 2);
  memcpy(h + 36, "data", 4);
  put_le(h + 40, data_bytes, 4);
}

}  // namespace

bool WavWriter::open(const std::string &path, int rate, int channels, std::string &err) {
  file_.reset(new PendingFile(path));
  out_.reset(fopen(file_->temp_path().c_str(), "wb"));
  rate_ = rate;
  channels_ = channels;
  data_bytes_ = 0;
  uint8_t h[44];
  wav_header(h, rate, channels, 0);
  if (!out_ || fwrite(h, 1, sizeof h, out_.get()) != sizeof h) {
    err = write_error(path, errno);
    return false;
  }
  return true;
}

bool WavWriter::write(const int16_t *pcm, int frames, std::string &err) {
  // The host is little-endian, as the file.
  const size_t bytes = (size_t)frames * (size_t)channels_ * 2;
  if (!out_ || fwrite(pcm, 1, bytes, out_.get()) != bytes) {
    err = write_error(path(), out_ ? errno : EBADF);
    return false;
  }
  data_bytes_ += bytes;
  return true;
}

bool WavWriter::close(std::string &err) {
  if (!out_) {
    err = write_error(path(), EBADF);
    return false;
  }
  uint8_t h[44];
  // A WAV file counts its data in 32 bits; four hours of stereo fit.
  wav_header(h, rate_, channels_, (uint32_t)data_bytes_);
  if (fseek(out_.get(), 0, SEEK_SET) != 0 || fwrite(h, 1, sizeof h, out_.get()) != sizeof h ||
      !close_file(out_)) {
    err = write_error(path(), errno);
    return false;
  }
  return file_->commit(err);
}

const std::string &WavWriter::path() const {
  static const std::string none;
  return file_ ? file_->path() : none;
}

}  // namespace capture
