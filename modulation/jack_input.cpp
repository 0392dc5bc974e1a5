#include "jack_input.h"

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "sample_ring.h"
#include "wav_writer.h"

namespace {

const char kGone[] = "JACK server gone: the sound holds its last values";
const char kBack[] = "JACK server back: live sound again";
const int kRingSeconds = 4;  // what the frame loop may fall behind before samples drop

// JACK would print its own lines on every attempt while the input waits
// for a server once a second; ours say it once.
void quiet(const char *) {}

int16_t to_s16(float v) {
  return (int16_t)lrintf(std::max(-1.0f, std::min(1.0f, v)) * 32767.0f);
}

}  // namespace

struct JackInput::State {
  std::string source;  // the port ours is connected from; empty for none
  std::unique_ptr<SampleRing> ring;  // made before the first client, kept
  std::atomic<jack_port_t *> port{nullptr};
  std::atomic<int> rate{0};
  // Set by JACK's shutdown callback: `lost` until the dead client is
  // closed (then the loss is counted), `down` until the sound flows again.
  std::atomic<bool> lost{false}, down{false};
  std::atomic<unsigned> losses{0}, returns{0};

  // The client, after open(), is the watcher's alone until it is joined.
  jack_client_t *client = nullptr;
  bool linked = false;
  std::thread watcher;
  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;

  // The frame loop's.
  unsigned told_losses = 0, told_returns = 0;
  std::unique_ptr<capture::WavWriter> wav;
  std::vector<int16_t> pcm;

  bool connect(std::string &err);
  bool link(std::string &err);
  void close();
  void watch();
  void retry();
  void write_wav(const float *mono, size_t n);

  static int process(jack_nframes_t n, void *arg);
  static void shutdown(void *arg);
};

int JackInput::State::process(jack_nframes_t n, void *arg) {
  auto *s = static_cast<State *>(arg);
  if (jack_port_t *p = s->port.load(std::memory_order_acquire))
    s->ring->write(static_cast<const float *>(jack_port_get_buffer(p, n)), n);
  return 0;
}

void JackInput::State::shutdown(void *arg) {
  auto *s = static_cast<State *>(arg);
  s->down = true;
  s->lost = true;
  s->wake.notify_one();  // closed at once: see retry()
}

bool JackInput::State::connect(std::string &err) {
  jack_status_t status;
  // Several players may run: the name JACK gives, not necessarily ours.
  client = jack_client_open("kolvex", JackNoStartServer, &status);
  if (!client) {
    char why[64];
    snprintf(why, sizeof why, "can't open a JACK client (status 0x%x)", (unsigned)status);
    err = (status & JackServerFailed) ? "no JACK server running (start jackd, or qjackctl)" : why;
    return false;
  }
  jack_port_t *p = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  rate = (int)jack_get_sample_rate(client);
  if (!ring) ring.reset(new SampleRing((size_t)rate * kRingSeconds));
  port.store(p, std::memory_order_release);
  if (!p || jack_set_process_callback(client, process, this) != 0) {
    err = "can't make the JACK port in";
    close();
    return false;
  }
  jack_on_shutdown(client, shutdown, this);
  if (jack_activate(client) != 0) {
    err = "can't activate the JACK client";
    close();
    return false;
  }
  linked = source.empty();
  return true;
}

bool JackInput::State::link(std::string &err) {
  if (!jack_port_by_name(client, source.c_str())) {
    err = "no JACK port " + source + " (jack_lsp lists them)";
    return false;
  }
  const char *ours = jack_port_name(port.load());
  const int r = jack_connect(client, source.c_str(), ours);
  if (r != 0 && r != EEXIST) {
    err = "can't connect the JACK port " + source + " to " + ours;
    return false;
  }
  linked = true;
  return true;
}

void JackInput::State::close() {
  if (!client) return;
  jack_client_close(client);  // its process thread is gone after this
  client = nullptr;
  port = nullptr;
  linked = false;
}

void JackInput::State::watch() {
  std::unique_lock<std::mutex> lock(mutex);
  while (!stop) {
    wake.wait_for(lock, std::chrono::seconds(1), [this] { return stop || lost; });
    if (stop) break;
    lock.unlock();
    retry();
    lock.lock();
  }
}

// Once a second: a new client opened, our port linked again (also to a
// port whose program has restarted); the sound is back once both are done.
// When the server has gone, at once: the dead client closed, and nothing
// opened before the next second. libjack keeps one state for all the
// clients of a process, and the first client opened after a loss deletes
// every dead one still open: the process's other clients (MIDI, ...) get
// that second to close theirs, and ours is never left for another's open
// to delete.
void JackInput::State::retry() {
  std::string err;
  if (lost.exchange(false)) {
    close();
    losses++;
    return;
  }
  if (!client && !connect(err)) return;
  // The port we are linked from goes and comes back with its program; a
  // performer who has patched ours to another one keeps that.
  if (linked && !source.empty() && jack_port_connected(port.load()) == 0) linked = false;
  if (!linked && !link(err)) return;
  if (down.exchange(false)) returns++;
}

void JackInput::State::write_wav(const float *mono, size_t n) {
  pcm.resize(2 * n);
  for (size_t i = 0; i < n; i++) pcm[2 * i] = pcm[2 * i + 1] = to_s16(mono[i]);
  std::string err;
  if (!wav->write(pcm.data(), (int)n, err)) {
    fprintf(stderr, "%s\n", err.c_str());
    wav.reset();  // the show goes on without its recording
  }
}

JackInput::JackInput() : s_(new State) {}

JackInput::~JackInput() {
  if (s_->watcher.joinable()) {
    {
      std::lock_guard<std::mutex> lock(s_->mutex);
      s_->stop = true;
    }
    s_->wake.notify_all();
    s_->watcher.join();
  }
  s_->close();
  std::string err;
  if (s_->wav && !s_->wav->close(err)) fprintf(stderr, "%s\n", err.c_str());
}

bool JackInput::open(const std::string &asked, std::string &err) {
  if (asked != "jack" && (asked.compare(0, 5, "jack:") != 0 || asked.size() == 5)) {
    err = "sound input " + asked + ": jack or jack:PORT";
    return false;
  }
  if (s_->ring) {
    err = "the sound input is open already";
    return false;
  }
  jack_set_error_function(quiet);
  jack_set_info_function(quiet);
  s_->source = asked.size() > 5 ? asked.substr(5) : "";
  if (!s_->connect(err) || (!s_->linked && !s_->link(err))) {
    s_->close();
    s_->ring.reset();
    s_->rate = 0;
    return false;
  }
  s_->watcher = std::thread(&State::watch, s_.get());
  return true;
}

bool JackInput::record(const std::string &wav, std::string &err) {
  if (!s_->ring) {
    err = "no sound input to record";
    return false;
  }
  std::unique_ptr<capture::WavWriter> w(new capture::WavWriter);
  if (!w->open(wav, rate(), 2, err)) return false;
  s_->wav = std::move(w);
  return true;
}

int JackInput::rate() const { return s_->rate; }

void JackInput::take(int64_t, int, std::vector<float> &mono) {
  if (!s_->ring) return;
  const size_t from = mono.size();
  s_->ring->read_all(mono);
  if (s_->wav && mono.size() > from) s_->write_wav(mono.data() + from, mono.size() - from);
}

std::string JackInput::news() {
  const unsigned losses = s_->losses, returns = s_->returns;
  if (losses != s_->told_losses) {
    s_->told_losses = losses;
    return kGone;
  }
  if (returns != s_->told_returns && !s_->down) {
    s_->told_returns = returns;
    return kBack;
  }
  return "";
}
