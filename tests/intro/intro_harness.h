/*  Running the intro program from a test: a scratch working directory
 *  staged with the intro's data, the process with its stderr in a file,
 *  a private X server, the analysis of a sound capture.
 */
#ifndef ORVANTA_INTRO_HARNESS_H
#define ORVANTA_INTRO_HARNESS_H

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace it {

// A fresh directory under the build tree, holding the intro's data files
// (all or some) and, when asked, the effect plug-in.
struct WorkDir {
  explicit WorkDir(const std::string &name);
  void stage(const std::vector<std::string> &files);  // from the data folder
  void stage_plugin();
  std::string path;
};

// The intro (or any program) running in the background.
class Process {
 public:
  // env entries replace or add to the test's environment; an empty value
  // removes the variable.
  // The intro ignores its arguments: by default it gets one to ignore.
  Process(const std::string &program, const std::string &cwd,
          const std::map<std::string, std::string> &env,
          const std::vector<std::string> &args = {"--ignored-argument"});
  ~Process();  // kills what still runs

  std::string log();  // stderr and stdout so far
  // Waits until the log has `text`; false after `timeout` seconds or when
  // the process ended without it.
  bool wait_for(const std::string &text, double timeout);
  bool running();
  // Exit status, -1000 - signal for a signal, -2000 on timeout.
  int wait(double timeout);
  void signal(int sig);
  pid_t pid() const { return pid_; }  // for what /proc tells of it

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool done_ = false;
  std::string log_path_;
};

// A private X server on a 640x480x24 screen, so a 640x480 window fills it.
class XServer {
 public:
  XServer();
  ~XServer();
  bool ok() const { return !display_.empty(); }
  std::string display() const { return display_; }

 private:
  WorkDir dir_;
  Process server_;
  std::string display_;
};

struct AudioStats {
  bool ok = false;
  double seconds = 0;
  int loud_seconds = 0;  // whole seconds whose RMS is above a silence floor
};
// Signed 16-bit little-endian samples, interleaved.
AudioStats analyse_s16(const std::string &path, int rate, int channels);

std::string data_dir();
std::string intro_program();
std::string capture_program();
std::string slurp(const std::string &path);  // a file's bytes, empty when unreadable
bool spill(const std::string &path, const std::string &bytes);

// The lines of `log` in order that contain each of `needles`, in this
// order; returns the first needle not found (empty when all were).
std::string first_missing_in_order(const std::string &log,
                                   const std::vector<std::string> &needles);

}  // namespace it

#endif
