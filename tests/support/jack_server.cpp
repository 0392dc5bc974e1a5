#include "jack_server.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace kt {

JackServer::JackServer(int rate, int period)
    : name_("kolvex-test-" + std::to_string(getpid())), rate_(rate), period_(period) {
  setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  setenv("JACK_NO_START_SERVER", "1", 1);  // a client never starts its own
  start();
}

JackServer::~JackServer() {
  stop();
  unsetenv("JACK_DEFAULT_SERVER");
}

bool JackServer::start() {
  if (pid_ > 0) return up_;
  // A child must not write out what this process has buffered; not every
  // stream (fflush(nullptr)): another thread may hold one while it reads.
  fflush(stdout);
  fflush(stderr);
  pid_ = fork();
  if (pid_ == 0) {
    // A test killed (a timeout) takes its server along: a server left
    // running keeps one of the few places JACK has for servers.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const std::string r = std::to_string(rate_), p = std::to_string(period_);
    // Its chatter is not the test's.
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
    // A client is dropped only after 5 s without an answer: a test machine
    // under load must not lose one in the middle of a test.
    execlp("jackd", "jackd", "--no-realtime", "-t", "5000", "-n", name_.c_str(), "-d", "dummy",
           "-r", r.c_str(), "-p", p.c_str(), "-C", "2", "-P", "2", (char *)nullptr);
    _exit(127);
  }
  up_ = false;
  const std::string probe = "jack_lsp >/dev/null 2>&1";
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!up_ && pid_ > 0 && std::chrono::steady_clock::now() < until) {
    up_ = system(probe.c_str()) == 0;
    if (!up_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;  // it gave up
  }
  return ok();
}

void JackServer::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  up_ = false;
}

}  // namespace kt
