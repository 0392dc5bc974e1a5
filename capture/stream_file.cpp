#include "stream_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace capture {

namespace {

constexpr int kChunks = 3;       // one filling, up to two being written
constexpr size_t kAlign = 4096;  // what O_DIRECT asks of memory, offset and length

}  // namespace

StreamFile::~StreamFile() {
  stop_thread(true);
  if (fd_ >= 0) ::close(fd_);
  for (Chunk &c : chunks_) free(c.data);
}

bool StreamFile::open(const std::string &path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  chunks_.resize(kChunks);
  for (Chunk &c : chunks_) {
    c.data = static_cast<uint8_t *>(aligned_alloc(kAlign, kChunk));
    if (!c.data) {
      errno = ENOMEM;
      return false;
    }
    free_.push_back(&c);
  }
  struct stat st;
  if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
    const int flags = fcntl(fd_, F_GETFL);
    direct_ = flags >= 0 && fcntl(fd_, F_SETFL, flags | O_DIRECT) == 0;
  }
  thread_ = std::thread(&StreamFile::run, this);
  return true;
}

bool StreamFile::append(const void *data, size_t size) {
  const uint8_t *p = static_cast<const uint8_t *>(data);
  while (size) {
    if (!current_) {
      std::unique_lock<std::mutex> lock(mutex_);
      freed_.wait(lock, [this] { return !free_.empty() || error_; });
      if (error_) {
        errno = error_;
        return false;
      }
      current_ = free_.back();
      free_.pop_back();
      current_->used = 0;
    }
    const size_t n = std::min(size, kChunk - current_->used);
    memcpy(current_->data + current_->used, p, n);
    current_->used += n;
    p += n;
    size -= n;
    if (current_->used == kChunk && !queue_current()) return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  errno = error_;
  return !error_;
}

// Hands the chunk being filled to the writing thread.
bool StreamFile::queue_current() {
  std::lock_guard<std::mutex> lock(mutex_);
  full_.push_back(current_);
  current_ = nullptr;
  queued_.notify_one();
  errno = error_;
  return !error_;
}

bool StreamFile::close() {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  bool ok = !current_ || current_->used == 0 || queue_current();
  stop_thread(false);
  if (error_) {
    ok = false;
    errno = error_;
  }
  const int saved = errno;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (ok && !closed) return false;  // errno from close
  errno = saved;
  return ok;
}

void StreamFile::stop_thread(bool abandon) {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    abandon_ = abandon;
  }
  queued_.notify_one();
  thread_.join();
}

// --- the writing thread -----------------------------------------------------
void StreamFile::run() {
  for (;;) {
    Chunk *c;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      queued_.wait(lock, [this] { return !full_.empty() || done_; });
      if (full_.empty() || abandon_) return;
      c = full_.front();
      full_.erase(full_.begin());
      if (error_) {  // after a failure the chunks only go back
        free_.push_back(c);
        freed_.notify_one();
        continue;
      }
    }
    const bool ok = write_chunk(*c);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ok && !error_) error_ = errno ? errno : EIO;
    free_.push_back(c);
    freed_.notify_one();
  }
}

// Only the last chunk can be short of a multiple of the alignment: its
// tail goes through the page cache.
bool StreamFile::write_chunk(const Chunk &c) {
  const size_t aligned = direct_ ? c.used / kAlign * kAlign : c.used;
  if (!write_all(c.data, aligned)) return false;
  if (aligned == c.used) return true;
  drop_direct();
  return write_all(c.data + aligned, c.used - aligned);
}

bool StreamFile::write_all(const uint8_t *p, size_t n) {
  while (n) {
    const ssize_t w = ::write(fd_, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      // A file system that took the flag and then refuses the write:
      // the same bytes again the ordinary way.
      if (errno == EINVAL && direct_) {
        drop_direct();
        continue;
      }
      return false;
    }
    if (w == 0) {
      errno = ENOSPC;
      return false;
    }
    p += w;
    n -= (size_t)w;
  }
  return true;
}

void StreamFile::drop_direct() {
  const int flags = fcntl(fd_, F_GETFL);
  if (flags >= 0) fcntl(fd_, F_SETFL, flags & ~O_DIRECT);
  direct_ = false;
}

}  // namespace capture
