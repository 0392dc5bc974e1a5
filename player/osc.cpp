#include "osc.h"

#ifdef KOLVEX_HAVE_LIBLO

#include <arpa/inet.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const size_t kMaxTold = 256;      // addresses remembered as told
const int kMaxPerFrame = 512;     // packets taken between two frames
const int kMaxBundleDepth = 8;

// An address for the log: printable, and not too long.
std::string printable(const std::string &s) {
  std::string out;
  for (unsigned char c : s.substr(0, 80)) {
    if (c >= 0x20 && c < 0x7f) {
      out += (char)c;
    } else {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return s.size() > 80 ? out + "..." : out;
}

uint32_t be32(const uint8_t *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

template <typename T>
T read(const char *at) {
  T v;
  memcpy(&v, at, sizeof v);
  return v;
}

// lo_message is a pointer to void: its owner frees it.
class Message {
 public:
  explicit Message(lo_message m) : m_(m) {}
  ~Message() {
    if (m_) lo_message_free(m_);
  }
  Message(const Message &) = delete;
  Message &operator=(const Message &) = delete;
  lo_message get() const { return m_; }

 private:
  lo_message m_;
};

// The socket, closed with the server.
class OscServer : public ControlSource {
 public:
  OscServer(int fd, bool quiet) : fd_(fd), handler_(quiet), buf_(65536) {
    handler_.reply = [this](const std::string &path, const ControlArgs &value) {
      const std::string bytes = osc_message(path, value);
      if (!bytes.empty())
        sendto(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT, (sockaddr *)&from_, from_len_);
    };
  }
  ~OscServer() override { close(fd_); }
  void poll(Controls &controls, int64_t) override {
    for (int i = 0; i < kMaxPerFrame; i++) {
      from_len_ = sizeof from_;
      const ssize_t n =
          recvfrom(fd_, buf_.data(), buf_.size(), MSG_DONTWAIT, (sockaddr *)&from_, &from_len_);
      if (n >= 0) {
        handler_.handle(controls, buf_.data(), (size_t)n);
        continue;
      }
      // Nothing more; an error is told once and tried again next frame.
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && !told_error_) {
        told_error_ = true;
        fprintf(stderr, "kolvex: OSC: can't receive: %s\n", strerror(errno));
      }
      return;
    }
  }

 private:
  int fd_;
  OscHandler handler_;
  std::vector<uint8_t> buf_;
  bool told_error_ = false;
  sockaddr_storage from_{};  // the sender of the packet being handled
  socklen_t from_len_ = 0;
};

// Numbers as floats (what surfaces take), texts as strings.
lo_message new_message(const ControlArgs &args) {
  lo_message m = lo_message_new();
  for (const ControlArg &a : args) {
    if (a.is_text) lo_message_add_string(m, a.text.c_str());
    else lo_message_add_float(m, (float)a.num);
  }
  return m;
}

class OscFeedback : public ControlSource {
 public:
  explicit OscFeedback(lo_address to) : to_(to) {}
  ~OscFeedback() override { lo_address_free(to_); }
  void poll(Controls &, int64_t) override {}
  void send(const std::string &path, const ControlArgs &args) {
    Message m(new_message(args));
    if (lo_send_message(to_, path.c_str(), m.get()) < 0 && !failed_) {
      failed_ = true;  // a surface that is away: told once
      fprintf(stderr, "kolvex: --osc-feedback: %s\n", lo_address_errstr(to_));
    }
  }

 private:
  lo_address to_;
  bool failed_ = false;
};

}  // namespace

std::string osc_message(const std::string &path, const ControlArgs &args) {
  Message m(new_message(args));
  size_t size = 0;
  void *bytes = lo_message_serialise(m.get(), path.c_str(), nullptr, &size);
  if (!bytes) return "";
  std::string out((const char *)bytes, size);
  free(bytes);
  return out;
}

std::unique_ptr<ControlSource> open_osc_feedback(Controls &controls, const std::string &where,
                                                 std::string &err) {
  const size_t colon = where.rfind(':');
  char *end = nullptr;
  const long port = colon == std::string::npos ? 0 : strtol(where.c_str() + colon + 1, &end, 10);
  if (colon == std::string::npos || colon == 0 || !end || *end || port < 1 || port > 65535) {
    err = "--osc-feedback wants HOST:PORT, not " + where;
    return nullptr;
  }
  lo_address to = lo_address_new(where.substr(0, colon).c_str(), std::to_string(port).c_str());
  if (!to) {
    err = "--osc-feedback " + where + ": not an address";
    return nullptr;
  }
  OscFeedback *f = new OscFeedback(to);
  controls.on_change([f](const std::string &path, const ControlArgs &args) { f->send(path, args); });
  return std::unique_ptr<ControlSource>(f);
}

bool osc_available() { return true; }

void OscHandler::tell(const std::string &path, const std::string &why) {
  if (quiet_ || told_.size() >= kMaxTold || !told_.insert(path).second) return;
  fprintf(stderr, "kolvex: OSC %s: %s\n", printable(path).c_str(), why.c_str());
}

int OscHandler::handle(Controls &controls, const void *data, size_t size) {
  const uint8_t *p = (const uint8_t *)data;
  if (size >= 16 && memcmp(p, "#bundle", 8) == 0) return bundle(controls, p, size, 0);
  return message(controls, data, size);
}

// "#bundle", a time tag, then elements: a 32-bit size and a message or a
// bundle each.
int OscHandler::bundle(Controls &controls, const uint8_t *p, size_t size, int depth) {
  if (depth > kMaxBundleDepth) return 0;
  int done = 0;
  for (size_t at = 16; at + 4 <= size;) {
    const uint32_t n = be32(p + at);
    at += 4;
    if (n > size - at || n % 4) return done;  // malformed: the rest dropped
    if (n >= 16 && memcmp(p + at, "#bundle", 8) == 0) done += bundle(controls, p + at, n, depth + 1);
    else done += message(controls, p + at, n);
    at += n;
  }
  return done;
}

int OscHandler::message(Controls &controls, const void *data, size_t size) {
  // The address must end within the packet before liblo reads it.
  if (size < 4 || size % 4 || !memchr(data, 0, size)) return 0;
  int result = 0;
  Message m(lo_message_deserialise((void *)data, size, &result));
  if (!m.get()) return 0;
  const std::string path((const char *)data);
  const char *types = lo_message_get_types(m.get());
  lo_arg **argv = lo_message_get_argv(m.get());
  ControlArgs args;
  for (int i = 0; types && types[i]; i++) {
    // Null for the types without data (T, F); 64-bit values may lie on a
    // 4-byte boundary: read by copy.
    const char *a = (const char *)argv[i];
    switch (types[i]) {
      case LO_INT32: args.push_back(ControlArg::number(read<int32_t>(a))); break;
      case LO_INT64: args.push_back(ControlArg::number((double)read<int64_t>(a))); break;
      case LO_FLOAT: args.push_back(ControlArg::number(read<float>(a))); break;
      case LO_DOUBLE: args.push_back(ControlArg::number(read<double>(a))); break;
      case LO_STRING:
      case LO_SYMBOL: args.push_back(ControlArg::string(a)); break;
      case LO_TRUE: args.push_back(ControlArg::number(1)); break;
      case LO_FALSE: args.push_back(ControlArg::number(0)); break;
      default:
        tell(path, std::string("an argument of type '") + types[i] + "' is not taken");
        return 0;
    }
  }
  std::string said, why;
  if (path == "/get") {
    ControlArgs value;
    if (args.size() != 1 || !args[0].is_text) why = "wants the PATH to read";
    else if (controls.get(args[0].text, value, why) && reply) reply(args[0].text, value);
    if (!why.empty()) tell(path, why);
    return 0;
  }
  const ControlStatus st = controls.set(path, args, said, why);
  if (st == ControlStatus::done) return 1;
  tell(path, st == ControlStatus::unknown ? "no such control (" + why + ")" : why);
  return 0;
}

std::unique_ptr<ControlSource> open_osc(const std::string &addr, int port, bool quiet,
                                        std::string &err) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons((uint16_t)port);
  if (inet_pton(AF_INET, addr.c_str(), &sa.sin_addr) != 1) {
    err = "--osc-bind " + addr + ": not an IPv4 address";
    return nullptr;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, (sockaddr *)&sa, sizeof sa) != 0) {
    err = "--osc " + std::to_string(port) + " on " + addr + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  return osc_server(fd, quiet);
}

std::unique_ptr<ControlSource> osc_server(int fd, bool quiet) {
  return std::unique_ptr<ControlSource>(new OscServer(fd, quiet));
}

#else  // without liblo

#include <unistd.h>

bool osc_available() { return false; }

std::unique_ptr<ControlSource> open_osc(const std::string &, int, bool, std::string &err) {
  err = "--osc: this kolvex was built without liblo";
  return nullptr;
}

std::unique_ptr<ControlSource> open_osc_feedback(Controls &, const std::string &, std::string &err) {
  err = "--osc-feedback: this kolvex was built without liblo";
  return nullptr;
}

std::string osc_message(const std::string &, const ControlArgs &) { return ""; }

std::unique_ptr<ControlSource> osc_server(int fd, bool) {
  close(fd);
  return nullptr;
}

#endif
