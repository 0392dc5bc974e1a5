#include "intro_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace it {

namespace {

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool copy_file(const std::string &from, const std::string &to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
  return (bool)out;
}

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

std::string data_dir() { return ORVANTA_TEST_DATA_DIR; }
std::string intro_program() { return ORVANTA_TEST_PROGRAM; }
std::string capture_program() { return ORVANTA_TEST_CAPTURE; }
std::string plugin_file() { return ORVANTA_TEST_PLUGIN; }

// ---------------------------------------------------------------------------
// Working directory
// ---------------------------------------------------------------------------
WorkDir::WorkDir(const std::string &name) {
  path = std::string(ORVANTA_TEST_WORK_DIR) + "/" + name + "." + std::to_string(getpid());
  std::string cmd = "rm -rf '" + path + "' && mkdir -p '" + path + "'";
  if (system(cmd.c_str()) != 0) path.clear();
}

void WorkDir::stage(const std::vector<std::string> &files) {
  for (const std::string &f : files) copy_file(data_dir() + "/" + f, path + "/" + f);
}

void WorkDir::stage_plugin() {
  std::string p = plugin_file();
  if (p.empty()) return;
  copy_file(p, path + "/" + p.substr(p.rfind('/') + 1));
}

// ---------------------------------------------------------------------------
// Process
// ---------------------------------------------------------------------------
Process::Process(const std::string &program, const std::string &cwd,
                 const std::map<std::string, std::string> &env,
                 const std::vector<std::string> &args) {
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  log_path_ = cwd + "/stderr.log";
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a test killed on timeout
    if (chdir(cwd.c_str()) != 0) _exit(127);
    for (const auto &kv : env) {
      if (kv.second.empty())
        unsetenv(kv.first.c_str());
      else
        setenv(kv.first.c_str(), kv.second.c_str(), 1);
    }
    int fd = open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) _exit(127);
    dup2(fd, 2);
    dup2(fd, 1);
    close(fd);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    std::vector<char *> argv;
    for (std::string &a : argv_text) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
}

Process::~Process() {
  if (pid_ > 0 && !done_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
}

std::string Process::log() { return slurp(log_path_); }

bool Process::running() {
  if (done_ || pid_ <= 0) return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) done_ = true;
  return !done_;
}

bool Process::wait_for(const std::string &text, double timeout) {
  const double end = now() + timeout;
  while (now() < end) {
    if (log().find(text) != std::string::npos) return true;
    if (!running()) return log().find(text) != std::string::npos;
    sleep_ms(100);
  }
  return false;
}

int Process::wait(double timeout) {
  const double end = now() + timeout;
  while (running()) {
    if (now() > end) return -2000;
    sleep_ms(100);
  }
  if (pid_ <= 0) return -3000;
  if (WIFSIGNALED(status_)) return -1000 - WTERMSIG(status_);
  return WEXITSTATUS(status_);
}

void Process::signal(int sig) {
  if (running()) kill(pid_, sig);
}

// ---------------------------------------------------------------------------
// X server
// ---------------------------------------------------------------------------
XServer::XServer() {
  int fds[2];
  if (pipe(fds) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    close(fds[0]);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    std::string fd = std::to_string(fds[1]);
    // -noreset: a server that resets when its last client leaves (the
    // readiness probe below) would drop a client connecting meanwhile.
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24",
           "-nolisten", "tcp", "-ac", "-noreset", (char *)nullptr);
    _exit(127);
  }
  close(fds[1]);
  // The display number, then a newline, in two writes: the pipe must stay
  // open until the newline is in, or the server's second write fails and
  // it gives up (when the read came between the two).
  char buf[32] = {0};
  size_t n = 0;
  while (n < sizeof buf - 1 && !memchr(buf, '\n', n)) {
    ssize_t got = read(fds[0], buf + n, sizeof buf - 1 - n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    n += (size_t)got;
  }
  close(fds[0]);
  if (!memchr(buf, '\n', n)) {
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return;
  }
  display_ = std::string(":") + std::to_string(atoi(buf));
  // Ready when a client gets through; on a loaded machine the first
  // connections may still be refused.
  std::string probe = "xdpyinfo -display " + display_ + " >/dev/null 2>&1";
  for (int i = 0; i < 100; ++i) {
    if (system(probe.c_str()) == 0) return;
    usleep(100000);
  }
}

XServer::~XServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

// ---------------------------------------------------------------------------
// Audio
// ---------------------------------------------------------------------------
AudioStats analyse_s16(const std::string &path, int rate, int channels) {
  AudioStats st;
  std::string d = slurp(path);
  if (d.empty() || rate <= 0 || channels <= 0) return st;
  const size_t per_second = (size_t)rate * channels;
  const size_t samples = d.size() / 2;
  std::vector<int16_t> s(samples);
  memcpy(s.data(), d.data(), samples * 2);
  st.seconds = (double)samples / per_second;
  for (size_t first = 0; first + per_second <= samples; first += per_second) {
    double sum = 0;
    for (size_t i = 0; i < per_second; i++) sum += (double)s[first + i] * s[first + i];
    if (std::sqrt(sum / per_second) > 100.0) st.loud_seconds++;
  }
  st.ok = true;
  return st;
}

std::string first_missing_in_order(const std::string &log,
                                   const std::vector<std::string> &needles) {
  size_t pos = 0;
  for (const std::string &n : needles) {
    size_t at = log.find(n, pos);
    if (at == std::string::npos) return n;
    pos = at + n.size();
  }
  return "";
}

}  // namespace it
