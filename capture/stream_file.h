/*  Kolvex capture - a long file written behind the frame loop
 *
 *  Bytes appended are gathered into chunks of 4 MiB that a thread of the
 *  file's own writes while the caller renders the next frames. On a
 *  regular file the chunks go past the page cache (O_DIRECT) where the
 *  file system takes it: a y4m capture writes gigabytes that no one reads
 *  back at once, and copying them into the cache costs more than making
 *  them. Anything else (a FIFO an encoder reads, /dev/null) is written as
 *  it is. The bytes on disk are exactly the bytes appended, in order.
 */
#ifndef KOLVEX_CAPTURE_STREAM_FILE_H
#define KOLVEX_CAPTURE_STREAM_FILE_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace capture {

class StreamFile {
 public:
  StreamFile() = default;
  ~StreamFile();  // unclosed: what is queued is dropped, the file closed
  StreamFile(const StreamFile &) = delete;
  StreamFile &operator=(const StreamFile &) = delete;

  // Creates or truncates `path`. False with errno set.
  bool open(const std::string &path);
  // False, errno set, once any earlier write failed: a chunk is written
  // after append returns, so a failure shows at a later call or at close.
  bool append(const void *data, size_t size);
  // Writes what is left and closes. False, errno set, if any byte was not
  // written. Call once.
  bool close();

  static constexpr size_t kChunk = 4 << 20;

 private:
  struct Chunk {
    uint8_t *data = nullptr;
    size_t used = 0;
  };

  bool queue_current();
  void run();
  bool write_chunk(const Chunk &c);
  bool write_all(const uint8_t *p, size_t n);
  void drop_direct();
  void stop_thread(bool abandon);

  int fd_ = -1;
  bool direct_ = false;  // past the page cache; the writing thread's once started
  std::vector<Chunk> chunks_;
  Chunk *current_ = nullptr;  // the caller's, being filled

  // Shared with the writing thread, under mutex_.
  std::mutex mutex_;
  std::condition_variable queued_, freed_;
  std::vector<Chunk *> full_, free_;
  bool done_ = false, abandon_ = false;
  int error_ = 0;  // errno of the first failed write
  std::thread thread_;
};

}  // namespace capture

#endif
