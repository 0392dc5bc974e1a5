/*  Kolvex capture - a file written under a temporary name
 *
 *  Output goes to "PATH.part" and is renamed to PATH only once complete,
 *  so that a failed or abandoned capture leaves nothing under PATH. When
 *  PATH already names something else than a regular file (a FIFO that an
 *  encoder reads, /dev/null or a link to it), it is written directly.
 */
#ifndef KOLVEX_CAPTURE_PENDING_FILE_H
#define KOLVEX_CAPTURE_PENDING_FILE_H

#include <cstdio>
#include <memory>
#include <string>

namespace capture {

class PendingFile {
 public:
  explicit PendingFile(const std::string &path);
  ~PendingFile();  // removes the temporary file unless committed
  PendingFile(const PendingFile &) = delete;
  PendingFile &operator=(const PendingFile &) = delete;

  const std::string &path() const { return path_; }  // the final name
  const std::string &temp_path() const { return temp_; }  // the name to write
  // Renames the temporary file to the final name; false with the reason
  // in `err`, the temporary file then removed.
  bool commit(std::string &err);

 private:
  std::string path_, temp_;
  bool committed_ = false;
};

// "can't write PATH: strerror(errnum)"
std::string write_error(const std::string &path, int errnum);

// A stdio stream closed when it goes out of scope.
struct FileCloser {
  void operator()(FILE *f) const {
    if (f) fclose(f);
  }
};
typedef std::unique_ptr<FILE, FileCloser> File;

// Flushes and closes `file`; false (errno set) if anything was not written.
bool close_file(File &file);

}  // namespace capture

#endif
