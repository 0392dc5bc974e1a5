#include "intro_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Polling a process or a file: how long to look away between looks.
void pause_polling() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

}  // namespace

std::string data_dir() { return ORVANTA_TEST_DATA_DIR; }
std::string intro_program() { return ORVANTA_TEST_PROGRAM; }
std::string capture_program() { return ORVANTA_TEST_CAPTURE; }

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool spill(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return (bool)out;
}

// ---------------------------------------------------------------------------
// Working directory
// ---------------------------------------------------------------------------
WorkDir::WorkDir(const std::string &name) {
  path = std::string(ORVANTA_TEST_WORK_DIR) + "/" + name + "." + std::to_string(getpid());
  std::string cmd = "rm -rf '" + path + "' && mkdir -p '" + path + "'";
  if (system(cmd.c_str()) != 0) path.clear();
}

void WorkDir::stage(const std::vector<std::string> &files) {
  for (const std::string &f : files) spill(path + "/" + f, slurp(data_dir() + "/" + f));
}

void WorkDir::stage_plugin() {
  const std::string p = ORVANTA_TEST_PLUGIN;  // empty when no effect is built
  if (!p.empty()) spill(path + "/" + p.substr(p.rfind('/') + 1), slurp(p));
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
    pause_polling();
  }
  return false;
}

int Process::wait(double timeout) {
  const double end = now() + timeout;
  while (running()) {
    if (now() > end) return -2000;
    pause_polling();
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
// The server writes its display number and a newline to the log (-displayfd
// 1); it is ready when a client gets through. -noreset: a server that resets
// when its last client leaves (the probe) would drop one connecting meanwhile.
XServer::XServer()
    : dir_("xvfb"),
      server_("/usr/bin/Xvfb", dir_.path, {},
              {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp", "-ac",
               "-noreset"}) {
  for (double end = now() + 60; now() < end && server_.running(); pause_polling()) {
    std::istringstream in(server_.log());
    std::string line, number;
    while (std::getline(in, line))
      if (!in.eof() && !line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
        number = line;
    if (!number.empty() &&
        system(("xdpyinfo -display :" + number + " >/dev/null 2>&1").c_str()) == 0) {
      display_ = ":" + number;
      return;
    }
  }
}

XServer::~XServer() {
  server_.signal(SIGTERM);  // its lock file goes with it
  server_.wait(30);
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
