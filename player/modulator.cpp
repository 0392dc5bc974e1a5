#include "modulator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

const char *const kAudio[] = {"level", "low", "mid", "high", "onset", "beat", "phase"};
const double kBpmScale = 240;  // tempo/bpm as a source: 120 bpm reads 0.5

// A whole number in min..max written without leading zeros: one name a source.
bool whole(const std::string &s, long min, long max) {
  if (s.empty() || s.size() > 3 || s.find_first_not_of("0123456789") != std::string::npos ||
      (s.size() > 1 && s[0] == '0'))
    return false;
  const long v = strtol(s.c_str(), nullptr, 10);
  return v >= min && v <= max;
}

// midi/cc/CH/NUM, midi/note/CH/NUM, midi/bend/CH.
bool midi_name(const std::string &name) {
  std::vector<std::string> w;
  for (size_t at = 0;;) {
    const size_t slash = name.find('/', at);
    w.push_back(name.substr(at, slash == std::string::npos ? slash : slash - at));
    if (slash == std::string::npos) break;
    at = slash + 1;
  }
  if (w.size() < 3 || w[0] != "midi" || !whole(w[2], 1, 16)) return false;
  if (w[1] == "bend") return w.size() == 3;
  return (w[1] == "cc" || w[1] == "note") && w.size() == 4 && whole(w[3], 0, 127);
}

ControlArgs text_arg(const std::string &s) { return {ControlArg::string(s)}; }

}  // namespace

Modulator::Modulator(int fps) : fps_(fps), tempo_(fps) {}
Modulator::~Modulator() = default;

bool Modulator::add_lfo(const std::string &text, std::string &err) {
  Lfo l;
  if (!Lfo::parse(text, l, err)) return false;
  for (const Lfo &o : lfos_)
    if (o.name == l.name) {
      err = "--lfo " + l.name + ": declared twice";
      return false;
    }
  lfos_.push_back(l);
  return true;
}

std::vector<std::string> Modulator::lfo_texts() const {
  std::vector<std::string> out;
  for (const Lfo &l : lfos_) out.push_back(l.text());
  return out;
}

std::vector<std::string> Modulator::map_texts() const {
  std::vector<std::string> out;
  for (const Mapping &m : maps_) out.push_back(m.map.text());
  return out;
}

void Modulator::set_audio(std::function<AudioFrame(int64_t)> analysed) {
  analysed_ = std::move(analysed);
}

void Modulator::set_midi(MidiSource *midi) { midi_ = midi; }

bool Modulator::has_source(const std::string &name) const {
  if (name == "tempo/bpm" || name == "tempo/phase" || midi_name(name)) return true;
  if (name.compare(0, 4, "lfo/") == 0)
    return std::any_of(lfos_.begin(), lfos_.end(),
                       [&](const Lfo &l) { return name.substr(4) == l.name; });
  if (name.compare(0, 6, "audio/") == 0 && analysed_)
    return std::any_of(std::begin(kAudio), std::end(kAudio),
                       [&](const char *a) { return name.substr(6) == a; });
  return false;
}

double Modulator::source(const std::string &name) const {
  if (name == "tempo/bpm") return std::min(1.0, tempo_.bpm() / kBpmScale);
  if (name == "tempo/phase") return tempo_.phase();
  if (name.compare(0, 4, "lfo/") == 0) {
    for (const Lfo &l : lfos_)
      if (name.substr(4) == l.name) return l.at(l.cycles(frame_, fps_, tempo_.position()));
    return 0;
  }
  if (name.compare(0, 6, "audio/") == 0) {
    const double values[] = {audio_.level, audio_.low,  audio_.mid,  audio_.high,
                             audio_.onset, audio_.beat, audio_.phase};
    for (size_t i = 0; i < 7; i++)
      if (name.substr(6) == kAudio[i]) return values[i];
    return 0;
  }
  const auto v = midi_values_.find(name);
  if (v != midi_values_.end()) return v->second;
  return name.compare(0, 10, "midi/bend/") == 0 ? 0.5 : 0;  // a bend rests in the middle
}

// ---------------------------------------------------------------------------
// Maps
// ---------------------------------------------------------------------------
bool Modulator::check_map(const std::string &text, const Controls &controls,
                          std::string &err) const {
  Map m;
  if (!Map::parse(text, m, err)) return false;
  if (!has_source(m.source)) {
    err = "no source " + m.source +
          " (tempo/bpm, tempo/phase, lfo/NAME of an --lfo, midi/cc/CH/NUM, midi/note/CH/NUM, "
          "midi/bend/CH" + (analysed_ ? ", audio/level|low|mid|high|onset|beat|phase)" : ")");
    return false;
  }
  const Param *p = controls.param_at(m.path, err);
  return p && mappable(*p, m.path, err);
}

bool Modulator::accepts(const Param &p, const ParamValue &v, const Controls &controls,
                        std::string &why) const {
  if (p.name == "map/add") return check_map(v.text, controls, why);
  if (p.name == "map/remove") {
    Map m;
    if (!Map::parse(v.text, m, why)) return false;
    if (find_map(m) >= 0) return true;
    why = "no map of " + m.source + " onto " + m.path;
    return false;
  }
  if (p.name == "learn") {
    const Param *row = controls.param_at(v.text, why);
    return row && mappable(*row, v.text, why);
  }
  return true;
}

int Modulator::find_map(const Map &m) const {
  for (size_t i = 0; i < maps_.size(); i++)
    if (maps_[i].map.source == m.source && maps_[i].map.path == m.path) return (int)i;
  return -1;
}

// In place of one with the same source and path: a learn replayed, or a
// map given again with another range, changes nothing else.
void Modulator::add_map(const Map &m) {
  const int i = find_map(m);
  if (i >= 0)
    maps_[(size_t)i] = Mapping{m, MapRun(m, fps_), false};
  else
    maps_.push_back(Mapping{m, MapRun(m, fps_), false});
}

std::vector<std::string> Modulator::take_lines() {
  std::vector<std::string> out;
  out.swap(lines_);
  return out;
}

// ---------------------------------------------------------------------------
// Each frame
// ---------------------------------------------------------------------------
void Modulator::poll(Controls &controls, int64_t frame) {
  frame_ = frame;
  std::string said, why;
  if (midi_) {
    events_.clear();
    midi_->take(events_);
    for (const MidiEvent &e : events_)
      controls.set("/" + e.source, {ControlArg::number(e.value)}, said, why);
    const std::string news = midi_->news();
    if (!news.empty()) lines_.push_back(news);
  }
  if (!learned_.empty()) {
    const std::string source = learned_, path = learning_;
    learned_.clear();
    learning_.clear();
    if (controls.set("/map/add", text_arg(source + " " + path), said, why) == ControlStatus::done)
      lines_.push_back("learned " + source + " -> " + path);
    else
      lines_.push_back("learn " + path + ": " + why);
  }

  tempo_.advance(frame);
  if (analysed_) {
    audio_ = analysed_(frame);
    tempo_.hear(audio_);
  }

  // Index by index: a map may drive a row of ours (a tap) but adds none.
  for (size_t i = 0; i < maps_.size(); i++) {
    Mapping &m = maps_[i];
    const Param *p = controls.param_at(m.map.path, why);
    if (!p || !mappable(*p, m.map.path, why)) {
      if (!m.told) lines_.push_back("map " + m.map.text() + ": " + why);
      m.told = true;
      continue;
    }
    m.told = false;
    ControlArgs out;
    if (!m.run.next(source(m.map.source), *p, out)) continue;
    controls.derived = true;
    controls.set(m.map.path, out, said, why);
    controls.derived = false;
  }
  frame_ = frame + 1;  // a tap or a tempo from now on is the next frame's
}

// ---------------------------------------------------------------------------
// The rows
// ---------------------------------------------------------------------------
const ParamTable &Modulator::table() {
  static const ParamTable t = {
      row<Modulator>({"map/add", ParamType::text, 0, 255, 0, "",
                      "SOURCE PATH [MIN MAX] [linear|exp|log|step] [smooth SECONDS]: a source "
                      "drives the parameter at PATH"},
                     nullptr,
                     [](Modulator &m, const ParamValue &v) {
                       Map map;
                       std::string why;
                       if (!Map::parse(v.text, map, why)) return;
                       m.add_map(map);
                       m.last_map_ = "map " + map.text();
                     },
                     [](const Modulator &m) { return m.last_map_; }),
      row<Modulator>({"map/remove", ParamType::text, 0, 255, 0, "",
                      "SOURCE PATH: that map no more"},
                     nullptr,
                     [](Modulator &m, const ParamValue &v) {
                       Map map;
                       std::string why;
                       const int i = Map::parse(v.text, map, why) ? m.find_map(map) : -1;
                       if (i < 0) return;
                       m.maps_.erase(m.maps_.begin() + i);
                       m.last_map_ = "map removed: " + map.source + " " + map.path;
                     },
                     [](const Modulator &m) { return m.last_map_; }),
      row<Modulator>({"learn", ParamType::text, 0, 255, 0, "",
                      "PATH: the next MIDI control moved drives it (a map)"},
                     nullptr, [](Modulator &m, const ParamValue &v) { m.learning_ = v.text; },
                     [](const Modulator &m) { return "learn " + m.learning_ + ": move a control"; }),
      row<Modulator>({"tempo/tap", ParamType::trigger, 0, 0, 0, "",
                      "a beat: the tempo from the last taps, the beat from this one"},
                     nullptr,
                     [](Modulator &m, const ParamValue &) {
                       m.tempo_.advance(m.frame_);
                       m.tempo_.tap(m.frame_);
                     },
                     [](const Modulator &m) {
                       char buf[48];
                       snprintf(buf, sizeof buf, "tempo %.1f bpm", m.tempo_.bpm());
                       return std::string(buf);
                     }),
      row<Modulator>({"tempo/bpm", ParamType::number, 0, 999, 0, "",
                      "the tempo; 0: the audio's (taps and this take it over)"},
                     [](const Modulator &m) {
                       return ParamValue::of(m.tempo_.follows_audio() ? 0 : m.tempo_.bpm());
                     },
                     [](Modulator &m, const ParamValue &v) {
                       m.tempo_.advance(m.frame_);
                       m.tempo_.set_bpm(v.num[0]);
                     },
                     [](const Modulator &m) {
                       if (m.tempo_.follows_audio()) return std::string("tempo from the audio");
                       char buf[48];
                       snprintf(buf, sizeof buf, "tempo %.1f bpm", m.tempo_.bpm());
                       return std::string(buf);
                     }),
  };
  return t;
}

const ParamTable &Modulator::params() const { return table(); }

Param Modulator::midi_row(const std::string &name) {
  const bool bend = name.compare(0, 10, "midi/bend/") == 0;
  return {name, ParamType::number, 0, 1, bend ? 0.5 : 0, "",
          bend ? "pitch bend, 0.5 at rest"
          : name.compare(0, 8, "midi/cc/") == 0 ? "control change, value / 127"
                                                : "note velocity / 127, 0 when off"};
}

const Param *Modulator::param(const std::string &name) const {
  if (const Param *p = Parametric::param(name)) return p;
  if (!midi_name(name)) return nullptr;
  auto it = midi_rows_.find(name);
  if (it != midi_rows_.end()) return &it->second;
  Param p = midi_row(name);
  p.get = [name](const Parametric &o) {
    return ParamValue::of(static_cast<const Modulator &>(o).source(name));
  };
  // The value and, while a learn waits, the control that answers it.
  p.set = [name](Parametric &o, const ParamValue &v) {
    Modulator &m = static_cast<Modulator &>(o);
    m.midi_values_[name] = v.num[0];
    if (!m.learning_.empty() && m.learned_.empty()) m.learned_ = name;
  };
  return &midi_rows_.emplace(name, std::move(p)).first->second;
}

void Modulator::list(FILE *out) {
  fprintf(out, "\nthe modulator (CH: a MIDI channel 1..16, NUM: 0..127):\n");
  print_params(out, "/", table());
  print_params(out, "/", {midi_row("midi/cc/CH/NUM"), midi_row("midi/note/CH/NUM"),
                          midi_row("midi/bend/CH")});
  fprintf(out, "\nsources a map reads, each 0..1:\n"
               "audio/level|low|mid|high|onset|beat|phase   the sound (--audio, --audio-in)\n"
               "tempo/bpm                      the tempo / 240 (120 bpm reads 0.5)\n"
               "tempo/phase                    through each beat, 0 on it\n"
               "lfo/NAME                       an --lfo\n"
               "midi/cc/CH/NUM, midi/note/CH/NUM, midi/bend/CH   MIDI's last values\n");
}
