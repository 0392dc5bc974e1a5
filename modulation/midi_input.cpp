/*  Kolvex modulation - MIDI controllers through RtMidi
 *
 *  RtMidi's thread puts each message, as bytes, in a fixed ring; take()
 *  turns them into events on the frame loop's thread. A watcher thread of
 *  our own looks at the port list twice a second: it notices the port
 *  going (the sending program closed it, or the JACK server stopped) and
 *  opens it again when it is back.
 */
#include "midi_input.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iostream>
#include <mutex>
#include <thread>


namespace {

constexpr auto kWatchEvery = std::chrono::milliseconds(500);
const char *const kClient = "kolvex";

bool data_byte(unsigned char b) { return b < 0x80; }

// The bend's 14 bits with its rest, 8192, at exactly 0.5 and both ends at
// 0 and 1: a centred wheel must not nudge what it drives.
double bend_value(int v) { return v <= 8192 ? v / 16384.0 : 0.5 + (v - 8192) / 16382.0; }

void say_nothing(const char *) {}

// libjack writes to stderr on every look for a server that is not there,
// which the watcher does twice a second while one is down; our own line
// says what matters. The function is libjack's, for the whole process.
void quiet_jack() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function(say_nothing);
    jack_set_info_function(say_nothing);
  });
}

// Whether a JACK server runs, never starting one. A client of its own
// hears the server stop: RtMidi's client does not tell, and its port list
// goes on naming the ports it saw.
class JackWatch {
 public:
  JackWatch() = default;
  JackWatch(const JackWatch &) = delete;
  JackWatch &operator=(const JackWatch &) = delete;
  ~JackWatch() { drop(); }

  bool up() {
    if (died()) drop();
    if (!client_) find();
    return client_ != nullptr;
  }
  // The server found before has stopped; up() has not looked again yet.
  bool died() const { return client_ && down_; }
  // Counts the servers found: a new one means every older client is dead.
  int generation() const { return generation_; }
  // Whether the port `name` is linked to anything: JACK refuses a link to a
  // port whose program has not started its client yet, and RtMidi opens
  // ours all the same without saying so.
  bool linked(const std::string &name) const {
    jack_port_t *p = client_ ? jack_port_by_name(client_, name.c_str()) : nullptr;
    return p && jack_port_connected(p) > 0;
  }

 private:
  void find() {
    quiet_jack();
    client_ = jack_client_open("kolvex-midi-watch", JackNoStartServer, nullptr);
    if (!client_) return;
    down_ = false;
    jack_on_shutdown(client_, &JackWatch::on_shutdown, this);
    if (jack_activate(client_) != 0) return drop();
    ++generation_;
  }
  void drop() {
    if (client_) jack_client_close(client_);
    client_ = nullptr;
  }
  static void on_shutdown(void *self) { static_cast<JackWatch *>(self)->down_ = true; }

  jack_client_t *client_ = nullptr;
  std::atomic<bool> down_{false};
  int generation_ = 0;
};

bool compiled(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  return std::find(apis.begin(), apis.end(), api) != apis.end();
}

// The APIs that work here, ALSA first. Without a sequencer device RtMidi's
// ALSA input would fail loudly, so it is not tried.
std::vector<RtMidi::Api> apis_here(JackWatch &jack) {
  std::vector<RtMidi::Api> out;
  if (compiled(RtMidi::LINUX_ALSA) && access("/dev/snd/seq", R_OK | W_OK) == 0)
    out.push_back(RtMidi::LINUX_ALSA);
  if (compiled(RtMidi::UNIX_JACK) && jack.up()) out.push_back(RtMidi::UNIX_JACK);
  return out;
}

void ignore_error(RtMidiError::Type, const std::string &, void *) {}

// An input through `api`, or nullptr. RtMidi prints its warnings unless
// it has an error callback; ours says nothing, what fails shows in the
// port list or in isPortOpen().
std::unique_ptr<RtMidiIn> make_input(RtMidi::Api api) {
  try {
    // A server that stops between our look and this is told by RtMidi's
    // constructor on std::cerr, before a callback can be set: not ours to
    // print (nothing of ours writes on std::cerr).
    std::streambuf *cerr_was = std::cerr.rdbuf(nullptr);
    std::unique_ptr<RtMidiIn> in;
    try {
      in = std::make_unique<RtMidiIn>(api, kClient);
    } catch (...) {
      std::cerr.rdbuf(cerr_was);
      throw;
    }
    std::cerr.rdbuf(cerr_was);
    in->setErrorCallback(ignore_error, nullptr);
    return in;
  } catch (const RtMidiError &) {
    return nullptr;
  }
}

std::vector<std::string> port_names(RtMidiIn &in) {
  std::vector<std::string> out;
  try {
    const unsigned n = in.getPortCount();
    for (unsigned i = 0; i < n; ++i) out.push_back(in.getPortName(i));
  } catch (const RtMidiError &) {
  }
  return out;
}

bool contains_nocase(const std::string &text, const std::string &part) {
  auto same = [](char a, char b) {
    return std::tolower((unsigned char)a) == std::tolower((unsigned char)b);
  };
  return std::search(text.begin(), text.end(), part.begin(), part.end(), same) != text.end();
}

std::string joined(const std::vector<std::string> &names) {
  std::string out;
  for (const std::string &n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

// What the port sent, from RtMidi's thread (JACK's process thread) to
// take(): bytes in a fixed ring, so that the sender never allocates. A
// full ring loses its oldest: the newest values are the ones that count.
class Inbox {
 public:
  void put(const std::vector<unsigned char> &bytes) {
    if (bytes.empty() || bytes.size() > 3) return;
    std::lock_guard<std::mutex> lock(m_);
    Raw &r = ring_[(head_ + count_) % ring_.size()];
    std::copy(bytes.begin(), bytes.end(), r.b);
    r.n = (unsigned char)bytes.size();
    if (count_ < ring_.size())
      ++count_;
    else
      head_ = (head_ + 1) % ring_.size();
  }
  void drain(std::vector<MidiEvent> &out) {
    std::vector<Raw> got;
    {
      std::lock_guard<std::mutex> lock(m_);
      got.reserve(count_);
      for (; count_ > 0; --count_, head_ = (head_ + 1) % ring_.size()) got.push_back(ring_[head_]);
    }
    MidiEvent e;
    for (const Raw &r : got)
      if (midi_event(r.b, r.n, e)) out.push_back(e);
  }
  static void on_message(double, std::vector<unsigned char> *bytes, void *self) {
    if (bytes) static_cast<Inbox *>(self)->put(*bytes);
  }

 private:
  struct Raw {
    unsigned char b[3];
    unsigned char n;
  };
  std::mutex m_;
  std::array<Raw, 1024> ring_{};
  size_t head_ = 0, count_ = 0;
};

}  // namespace

std::vector<std::string> midi_ports() {
  std::vector<std::string> all;
  JackWatch jack;
  for (RtMidi::Api api : apis_here(jack))
    if (auto in = make_input(api)) {
      std::vector<std::string> names = port_names(*in);
      all.insert(all.end(), names.begin(), names.end());
    }
  return all;
}

bool midi_event(const unsigned char *bytes, size_t n, MidiEvent &out) {
  if (n != 3 || !data_byte(bytes[1]) || !data_byte(bytes[2])) return false;
  const int kind = bytes[0] & 0xF0, channel = (bytes[0] & 0x0F) + 1;
  const std::string ch = std::to_string(channel) + "/", num = std::to_string(bytes[1]);
  switch (kind) {
    case 0x80:
      out = {"midi/note/" + ch + num, 0.0};
      return true;
    case 0x90:
      out = {"midi/note/" + ch + num, bytes[2] / 127.0};
      return true;
    case 0xB0:
      out = {"midi/cc/" + ch + num, bytes[2] / 127.0};
      return true;
    case 0xE0:
      out = {"midi/bend/" + std::to_string(channel), bend_value(bytes[1] | bytes[2] << 7)};
      return true;
    default:  // aftertouch, and the system's messages (0xF0 on)
      return false;
  }
}

struct MidiInput::State {
  Inbox inbox;
  std::string asked, port;  // what open() was given, and what it found

  // The watcher's own from open() on.
  JackWatch jack;
  std::unique_ptr<RtMidiIn> in;
  RtMidi::Api api = RtMidi::UNSPECIFIED;
  int generation = 0;  // the JACK server's `in` belongs to
  std::string current;  // the name of the port open, or of the one gone
  struct Spare {
    RtMidi::Api api;
    int generation;
    std::unique_ptr<RtMidiIn> in;
  };
  std::vector<Spare> spares;

  std::mutex m;
  std::condition_variable wake;
  bool stopping = false;
  std::deque<std::string> news;
  std::thread watcher;

  using Choice = std::function<int(const std::vector<std::string> &)>;
  std::unique_ptr<RtMidiIn> input(RtMidi::Api a);
  void keep(RtMidi::Api a, int server, std::unique_ptr<RtMidiIn> spare);
  bool open_port(const Choice &choose, std::vector<std::string> *seen);
  bool listed();
  void look(const Choice &again);
  void watch();
  void tell(std::string line);
  void stop();
};

// An input for a look at the ports: the one kept from the look before
// while the same server runs, so that a port awaited for minutes does not
// add and remove a JACK client twice a second.
std::unique_ptr<RtMidiIn> MidiInput::State::input(RtMidi::Api a) {
  for (Spare &s : spares)
    if (s.api == a && s.in && s.generation == jack.generation()) return std::move(s.in);
  return make_input(a);
}

void MidiInput::State::keep(RtMidi::Api a, int server, std::unique_ptr<RtMidiIn> spare) {
  auto same_api = [a](const Spare &s) { return s.api == a; };
  spares.erase(std::remove_if(spares.begin(), spares.end(), same_api), spares.end());
  spares.push_back({a, server, std::move(spare)});
}

// The port `choose` picks among those of the first API that has it.
bool MidiInput::State::open_port(const Choice &choose, std::vector<std::string> *seen) {
  for (RtMidi::Api a : apis_here(jack)) {
    std::unique_ptr<RtMidiIn> input = this->input(a);
    if (!input) continue;
    const std::vector<std::string> names = port_names(*input);
    if (seen) seen->insert(seen->end(), names.begin(), names.end());
    const int i = choose(names);
    if (i < 0) {
      keep(a, jack.generation(), std::move(input));
      continue;
    }
    input->ignoreTypes(true, true, true);
    input->setCallback(&Inbox::on_message, &inbox);
    input->openPort((unsigned)i, "in");
    if (!input->isPortOpen()) continue;
    if (a == RtMidi::UNIX_JACK && !jack.linked(names[i])) {  // tried again at the next look
      input->closePort();
      keep(a, jack.generation(), std::move(input));
      continue;
    }
    in = std::move(input);
    api = a;
    generation = jack.generation();
    current = names[i];
    return true;
  }
  return false;
}

bool MidiInput::State::listed() {
  const std::vector<std::string> names = port_names(*in);
  return std::find(names.begin(), names.end(), current) != names.end();
}

void MidiInput::State::tell(std::string line) {
  std::lock_guard<std::mutex> lock(m);
  news.push_back(std::move(line));
}

void MidiInput::State::watch() {
  // Back under its own name first; a port that comes back may be renamed
  // by its number (JACK's "Client-01", ALSA's "20:0"), then what was asked
  // finds it.
  const Choice again = [this](const std::vector<std::string> &names) {
    auto at = std::find(names.begin(), names.end(), current);
    if (at == names.end())
      at = std::find_if(names.begin(), names.end(),
                        [this](const std::string &n) { return contains_nocase(n, asked); });
    return at == names.end() ? -1 : (int)(at - names.begin());
  };
  std::unique_lock<std::mutex> lock(m);
  while (!wake.wait_for(lock, kWatchEvery, [this] { return stopping; })) {
    lock.unlock();
    look(again);
    lock.lock();
  }
}

void MidiInput::State::look(const Choice &again) {
  const std::string gone = " gone: its controls hold their last values";
  if (jack.died()) {
    // What the stopped server had goes before the watch's own client
    // (up() closes it): libjack crashes unregistering a dead client's
    // port once no client of that server is left open.
    spares.erase(std::remove_if(spares.begin(), spares.end(),
                                [](const Spare &s) { return s.api == RtMidi::UNIX_JACK; }),
                 spares.end());
    if (in && api == RtMidi::UNIX_JACK) {
      in.reset();
      return tell("MIDI port " + current + gone);
    }
  }
  // A JACK input is gone too once nothing is linked to its port: the
  // server drops a client it thinks hung (a loaded machine), and RtMidi's
  // client then hears nothing while the port is still listed.
  if (in && (!listed() || (api == RtMidi::UNIX_JACK && !jack.linked(current)))) {
    in->closePort();
    in->cancelCallback();
    keep(api, generation, std::move(in));
    tell("MIDI port " + current + gone);
  } else if (!in && open_port(again, nullptr)) {
    tell("MIDI port " + current + " back");
  }
}

void MidiInput::State::stop() {
  if (watcher.joinable()) {
    {
      std::lock_guard<std::mutex> lock(m);
      stopping = true;
    }
    wake.notify_all();
    watcher.join();
  }
  stopping = false;
  in.reset();
  spares.clear();
}

MidiInput::MidiInput() : s_(std::make_unique<State>()) {}

MidiInput::~MidiInput() { s_->stop(); }

bool MidiInput::open(const std::string &name, std::string &err) {
  s_->stop();
  s_->asked = name;
  std::vector<std::string> seen;
  const auto first = [&name](const std::vector<std::string> &names) {
    for (size_t i = 0; i < names.size(); ++i)
      if (contains_nocase(names[i], name)) return (int)i;
    return -1;
  };
  if (!s_->open_port(first, &seen)) {
    err = "no MIDI port named like \"" + name + "\"" +
          (seen.empty() ? ": no MIDI ports" : "; the ports: " + joined(seen));
    return false;
  }
  s_->port = s_->current;
  s_->watcher = std::thread(&State::watch, s_.get());
  return true;
}

const std::string &MidiInput::port() const { return s_->port; }

void MidiInput::take(std::vector<MidiEvent> &out) { s_->inbox.drain(out); }

std::string MidiInput::news() {
  std::lock_guard<std::mutex> lock(s_->m);
  if (s_->news.empty()) return "";
  std::string line = std::move(s_->news.front());
  s_->news.pop_front();
  return line;
}
