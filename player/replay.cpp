#include "replay.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

#include "lfo.h"
#include "osc.h"
#include "show_inputs.h"

namespace {

// Longest line and most changes a show may have: a hand-edited file
// stays small; a runaway one is refused rather than read whole.
const size_t kMaxLine = 64 * 1024;
const int64_t kMaxFrame = (int64_t)1 << 40;

struct Token {
  std::string text;
  bool quoted;
};

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits a line at blanks; "..." is one token with its escapes read.
bool tokens(const std::string &line, std::vector<Token> &out, std::string &why) {
  out.clear();
  size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) i++;
    if (i == line.size()) return true;
    Token t{"", line[i] == '"'};
    if (!t.quoted) {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
        t.text += line[i++];
      out.push_back(t);
      continue;
    }
    for (i++;; i++) {
      if (i >= line.size()) {
        why = "a quote is not closed";
        return false;
      }
      const char c = line[i];
      if (c == '"') break;
      if (c != '\\') {
        t.text += c;
        continue;
      }
      const char e = i + 1 < line.size() ? line[++i] : '\0';
      if (e == 'n') t.text += '\n';
      else if (e == '"' || e == '\\') t.text += e;
      else if (e == 'x' && i + 2 < line.size() && hex(line[i + 1]) >= 0 && hex(line[i + 2]) >= 0) {
        t.text += (char)(hex(line[i + 1]) * 16 + hex(line[i + 2]));
        i += 2;
      } else {
        why = "an unknown escape in quotes (\\\" \\\\ \\n \\xNN)";
        return false;
      }
    }
    i++;
    out.push_back(t);
  }
}

bool whole_number(const std::string &s, int64_t max, int64_t &out) {
  if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = strtoll(s.c_str(), nullptr, 10);
  return out <= max;
}

ControlArg value(const Token &t) {
  if (!t.quoted) {
    char *end = nullptr;
    errno = 0;
    const double v = strtod(t.text.c_str(), &end);
    if (!t.text.empty() && !*end && errno != ERANGE && std::isfinite(v)) return ControlArg::number(v);
  }
  return ControlArg::string(t.text);
}

// A header line checked by the command line's own reader: the same words
// and limits as there.
bool check_header(const std::vector<std::string> &words, std::string &why) {
  std::vector<std::string> argv_text = {"kolvex"};
  argv_text.insert(argv_text.end(), words.begin(), words.end());
  std::vector<char *> argv;
  for (std::string &w : argv_text) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  PlayerOptions o;
  return parse_args((int)argv_text.size(), argv.data(), o, why);
}

}  // namespace

std::string input_wav(const std::string &show_file) { return show_file + ".wav"; }

std::string input_wav_name(const std::string &show_file) {
  const std::string wav = input_wav(show_file);
  return wav.substr(wav.rfind('/') + 1);  // beside the show: found from it
}

std::string show_token(const ControlArg &arg) {
  if (!arg.is_text) {
    char buf[32];
    snprintf(buf, sizeof buf, "%.6g", arg.num);  // alpha n/255 comes back as n
    return buf;
  }
  std::string out = "\"";
  for (unsigned char c : arg.text) {
    if (c == '"' || c == '\\') out += '\\', out += (char)c;
    else if (c == '\n') out += "\\n";
    else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else out += (char)c;
  }
  return out + "\"";
}

bool parse_show(const std::string &text, const std::string &name, Show &out, std::string &err) {
  out = Show();
  std::istringstream in(text);
  std::string line;
  int n = 0;
  // One line, whatever bytes the file quoted.
  auto fail = [&](const std::string &why) {
    err = name + ":" + std::to_string(n) + ": ";
    for (unsigned char c : why.substr(0, 200)) err += c < 0x20 || c == 0x7f ? '?' : (char)c;
    return false;
  };
  std::vector<Token> t;
  std::string why;
  while (std::getline(in, line)) {
    n++;
    if (line.size() > kMaxLine) return fail("a line longer than 64 KiB");
    if (!tokens(line, t, why)) return fail(why);
    if (t.empty() || t[0].text[0] == '#') continue;
    if (out.end) return fail("nothing comes after the end");
    const std::string &word = t[0].text;
    int64_t frame;
    if (whole_number(word, kMaxFrame, frame)) {
      if (t.size() < 2) return fail("a frame without a change");
      if (out.layers.empty()) return fail("a change before any layer");
      if (!out.changes.empty() && frame < out.changes.back().frame)
        return fail("frame " + word + " comes before frame " +
                    std::to_string(out.changes.back().frame));
      if (t[1].text == "end" && !t[1].quoted) {
        if (t.size() != 2) return fail("the end takes no value");
        if (frame == 0) return fail("the end at frame 0 is no show");
        out.end = frame;
        continue;
      }
      if (t[1].quoted || t[1].text[0] != '/') return fail("a change is FRAME /PATH VALUE...");
      ShowChange c{frame, t[1].text, {}, n};
      for (size_t i = 2; i < t.size(); i++) c.args.push_back(value(t[i]));
      out.changes.push_back(c);
      continue;
    }
    if (!out.changes.empty()) return fail("the stack comes before the changes: " + word);
    std::vector<std::string> words;
    for (size_t i = 1; i < t.size(); i++) words.push_back(t[i].text);
    if (word == "layer") {
      if (words.empty()) return fail("a layer without its name");
      if (!check_header(words, why)) return fail(why);
      out.layers.push_back(words);
      continue;
    }
    if (word == "lfo") {
      std::string text;
      for (const std::string &w : words) text += (text.empty() ? "" : " ") + w;
      Lfo lfo;
      if (!Lfo::parse(text, lfo, why)) return fail(why);
      out.lfos.push_back(lfo.text());
      continue;
    }
    if (words.size() != 1) return fail(word + " takes one value");
    if (word == "size" || word == "fps" || word == "seed" || word == "plugin-dir" ||
        word == "bank" || word == "audio") {
      if (!check_header({"--" + word, words[0], "layer_gen"}, why)) return fail(why);
    } else {
      return fail("unknown line " + word +
                  " (size, fps, seed, plugin-dir, bank, audio, layer, lfo, or FRAME /PATH)");
    }
    int64_t v = 0;
    if (word == "size") {
      sscanf(words[0].c_str(), "%dx%d", &out.width, &out.height);
    } else if (word == "fps" && whole_number(words[0], 200, v)) {
      out.fps = (int)v;
    } else if (word == "seed" && whole_number(words[0], 0xFFFFFFFFLL, v)) {
      out.seed = (uint32_t)v;
    } else if (word == "plugin-dir") {
      out.plugin_dir = words[0];
    } else if (word == "bank") {
      out.banks.push_back(words[0]);
    } else if (word == "audio") {
      out.audio = words[0];
    }
  }
  n++;
  if (out.layers.empty()) return fail("no layer");
  return true;
}

bool read_show(const std::string &file, Show &out, std::string &err) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    err = file + ": " + strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return parse_show(text.str(), file, out, err);
}

bool show_options(const Show &show, const PlayerOptions &command, PlayerOptions &out,
                  std::string &err) {
  std::vector<std::string> words = {"kolvex"};
  for (const auto &layer : show.layers) words.insert(words.end(), layer.begin(), layer.end());
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(&w[0]);
  PlayerOptions layers;
  if (!parse_args((int)words.size(), argv.data(), layers, err)) return false;
  out = command;
  out.replay_file.clear();
  out.layers = layers.layers;
  out.lfos = show.lfos;
  out.lfos.insert(out.lfos.end(), command.lfos.begin(), command.lfos.end());
  out.fps = show.fps;
  out.has_seed = true;
  out.seed = show.seed;
  if (out.plugin_dir.empty()) out.plugin_dir = show.plugin_dir;
  // The show's bank, then what this command line adds.
  out.banks = show.banks;
  out.banks.insert(out.banks.end(), command.banks.begin(), command.banks.end());
  // The show's sound, unless this command line brings another.
  if (command.audio_file.empty()) out.audio_file = show_audio_path(command.replay_file, show.audio);
  if (!command.size_given) out.width = show.width, out.height = show.height;
  if (!out.seconds) out.frames = show.end;
  // The show's canvas is its recorded size; the engine scales it to the
  // screen, positions and all.
  out.canvas_w = show.width;
  out.canvas_h = show.height;
  return true;
}

// ---------------------------------------------------------------------------
// Recording
// ---------------------------------------------------------------------------
// A word of the stack: bare where it reads back as it is.
static std::string word(const std::string &w) {
  const bool bare = !w.empty() && w[0] != '#' && w[0] != '"' &&
                    std::all_of(w.begin(), w.end(), [](unsigned char c) {
                      return c > 0x20 && c < 0x7f && c != '"' && c != '\\';
                    });
  return bare ? w : show_token(ControlArg::string(w));
}

ShowRecorder::~ShowRecorder() {
  if (fd_ >= 0) ::close(fd_);
}

bool ShowRecorder::open(const std::string &file, const PlayerOptions &opt, uint32_t seed,
                        std::string &err) {
  file_ = file;
  fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    err = "--record " + file + ": " + strerror(errno);
    return false;
  }
  std::string head = "# kolvex show: the stack as it started, then FRAME /PATH VALUE... a change\n";
  // The canvas: a replay recorded again keeps its show's size.
  char buf[96];
  snprintf(buf, sizeof buf, "size %dx%d\nfps %d\nseed %u\n", opt.canvas_w ? opt.canvas_w : opt.width,
           opt.canvas_w ? opt.canvas_h : opt.height, opt.fps, seed);
  head += buf;
  if (!opt.plugin_dir.empty()) head += "plugin-dir " + word(opt.plugin_dir) + "\n";
  for (const std::string &bank : opt.banks) head += "bank " + word(bank) + "\n";
  if (!opt.audio_file.empty()) head += "audio " + word(opt.audio_file) + "\n";
  if (!opt.audio_in.empty()) head += "audio " + word(input_wav_name(file)) + "\n";
  for (const LayerSpec &l : opt.layers) {
    head += "layer " + word(l.source);
    for (const std::string &a : l.args) head += " " + word(a);
    head += "\n";
  }
  for (const std::string &lfo : opt.lfos) head += "lfo " + lfo + "\n";
  if (put(head)) return true;
  err = "--record " + file + ": " + strerror(errno);
  ::close(fd_);
  fd_ = -1;
  return false;
}

// A line whole or not at all: a short write is cut back to the last whole
// line, so the file always reads as a show. Each goes to the file at once:
// a player killed keeps its show up to its last change.
bool ShowRecorder::put(const std::string &line) {
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
    if (n > 0) {
      done += (size_t)n;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      const int why = n < 0 ? errno : ENOSPC;
      if (done && ftruncate(fd_, kept_) == 0) lseek(fd_, kept_, SEEK_SET);
      errno = why;
      return false;
    }
  }
  kept_ += (off_t)line.size();
  return true;
}

// The first failure ends the record (a show with a change missing would
// replay as something else), told once.
void ShowRecorder::fail(int64_t frame) {
  fprintf(stderr, "kolvex: --record %s: %s; the show ends before frame %lld\n", file_.c_str(),
          strerror(errno), (long long)frame);
  ::close(fd_);
  fd_ = -1;
}

void ShowRecorder::change(int64_t frame, const std::string &path, const ControlArgs &applied) {
  if (fd_ < 0) return;
  std::string line = std::to_string(frame) + " " + path;
  for (const ControlArg &a : applied) line += " " + show_token(a);
  if (!put(line + "\n")) fail(frame);
}

void ShowRecorder::end(int64_t frame) {
  if (fd_ < 0) return;
  if (frame > 0 && !put(std::to_string(frame) + " end\n")) {
    fail(frame);
    return;
  }
  ::close(fd_);
  fd_ = -1;
}

// ---------------------------------------------------------------------------
// Playing
// ---------------------------------------------------------------------------
void ShowPlayer::poll(Controls &controls, int64_t frame) {
  for (; next_ < show_.changes.size() && show_.changes[next_].frame <= frame; next_++) {
    const ShowChange &c = show_.changes[next_];
    std::string said, why;
    if (controls.set(c.path, c.args, said, why) == ControlStatus::done) continue;
    refused_++;
    if (!quiet_ && told_.insert(c.path).second)
      fprintf(stderr, "kolvex: line %d: %s skipped: %s\n", c.line, c.path.c_str(), why.c_str());
  }
}

bool attach_controls(Player &player, const PlayerOptions &opt, const Show &show,
                     ShowRecorder &recorder, std::string &err) {
  if (!show.layers.empty())
    player.add_source(std::unique_ptr<ControlSource>(
        new ShowPlayer(show, opt.quiet)));
  if (opt.osc_port) {
    std::unique_ptr<ControlSource> osc = open_osc(opt.osc_bind, opt.osc_port, opt.quiet, err);
    if (!osc) return false;
    player.add_source(std::move(osc));
  }
  if (!opt.osc_feedback.empty()) {
    std::unique_ptr<ControlSource> feedback =
        open_osc_feedback(*player.controls(), opt.osc_feedback, err);
    if (!feedback) return false;
    player.add_source(std::move(feedback));
  }
  if (!opt.record_file.empty()) {
    if (!recorder.open(opt.record_file, opt, opt.has_seed ? opt.seed : 2004, err)) return false;
    // Programme frames: a pause lasts in the record as long as it was held.
    Player *p = &player;
    player.controls()->on_change([&recorder, p](const std::string &path, const ControlArgs &applied) {
      if (path == "/screenshot" || path == "/quit") return;  // not the show's
      if (p->controls()->derived) return;  // a map's: the replay makes it again
      recorder.change(p->frame(), path, applied);
    });
  }
  for (const std::string &map : opt.maps) {
    std::string said, why;
    if (player.controls()->set("/map/add", {ControlArg::string(map)}, said, why) !=
        ControlStatus::done) {
      err = "--map '" + map + "': " + why;
      return false;
    }
  }
  const bool live_input = !opt.audio_in.empty() && !opt.record_file.empty();
  if (!player.start_inputs(live_input ? input_wav(opt.record_file) : "", err)) return false;
  return true;
}
