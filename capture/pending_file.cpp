#include "pending_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace capture {

namespace {

bool is_special(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

}  // namespace

PendingFile::PendingFile(const std::string &path)
    : path_(path), temp_(is_special(path) ? path : path + ".part"), committed_(temp_ == path) {}

PendingFile::~PendingFile() {
  if (!committed_) unlink(temp_.c_str());
}

bool PendingFile::commit(std::string &err) {
  if (committed_) return true;
  if (rename(temp_.c_str(), path_.c_str()) != 0) {
    err = write_error(path_, errno);
    return false;
  }
  committed_ = true;
  return true;
}

std::string write_error(const std::string &path, int errnum) {
  return "can't write " + path + ": " + strerror(errnum);
}

bool close_file(File &file) {
  if (!file) return true;
  const bool flushed = fflush(file.get()) == 0 && !ferror(file.get());
  const int saved = errno;
  const bool closed = fclose(file.release()) == 0;
  if (closed && !flushed) errno = saved ? saved : EIO;
  return flushed && closed;
}

}  // namespace capture
