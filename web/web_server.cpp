// The control surface's server on civetweb: files by our own checks (civetweb
// serves nothing by itself), WebSockets through its handlers, one writer
// thread a client so that a stalled page never holds up the caller.
#include "web_server.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <errno.h>
#include <limits.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding, once. False on a broken escape.
bool url_decode(const std::string &in, std::string &out) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    if (i + 2 >= in.size()) return false;
    int hi = hex_digit(in[i + 1]), lo = hex_digit(in[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += char(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::string real_path(const std::string &path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool has_suffix(const std::string &s, const char *suffix) {
  size_t n = strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

const char *content_type(const std::string &path) {
  static const std::pair<const char *, const char *> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".png", "image/png"},
      {".svg", "image/svg+xml"},
      {".ico", "image/x-icon"},
      {".json", "application/json"}};
  for (const auto &t : kTypes)
    if (has_suffix(path, t.first)) return t.second;
  return nullptr;
}

// The Host header's name without its port ("[::1]:80" -> "[::1]").
std::string host_name(const char *host) {
  std::string h = host ? host : "";
  if (!h.empty() && h[0] == '[') return h.substr(0, h.find(']') + 1);
  return h.substr(0, h.find(':'));
}

bool equal_in_constant_time(const std::string &a, const std::string &b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i)
    diff |= (unsigned char)(a[i] ^ b[i % (b.size() ? b.size() : 1)]);
  return diff == 0 && !b.empty();
}

// The value of `key` in a query string, decoded; false when absent.
bool query_value(const char *query, const std::string &key, std::string &value) {
  std::string q = query ? query : "";
  size_t pos = 0;
  while (pos <= q.size()) {
    size_t end = q.find('&', pos);
    if (end == std::string::npos) end = q.size();
    std::string part = q.substr(pos, end - pos);
    if (part.compare(0, key.size() + 1, key + "=") == 0)
      return url_decode(part.substr(key.size() + 1), value);
    pos = end + 1;
  }
  return false;
}

// An IPv4 or IPv6 address and port as the socket calls take them.
struct SocketAddress {
  sockaddr_storage a = {};
  socklen_t len = 0;
  bool parse(const std::string &addr, int port) {
    auto *a4 = reinterpret_cast<sockaddr_in *>(&a);
    auto *a6 = reinterpret_cast<sockaddr_in6 *>(&a);
    if (inet_pton(AF_INET, addr.c_str(), &a4->sin_addr) == 1) {
      a4->sin_family = AF_INET;
      a4->sin_port = htons(port);
      len = sizeof *a4;
    } else if (inet_pton(AF_INET6, addr.c_str(), &a6->sin6_addr) == 1) {
      a6->sin6_family = AF_INET6;
      a6->sin6_port = htons(port);
      len = sizeof *a6;
    }
    return len != 0;
  }
  const sockaddr *get() const { return reinterpret_cast<const sockaddr *>(&a); }
};

// Why civetweb could not listen ("Failed to setup server ports" is all it
// says): a bind of our own tells.
std::string why_not_listening(const std::string &addr, int port) {
  SocketAddress to;
  if (!to.parse(addr, port)) return "not an address to listen on";
  if (to.a.ss_family == AF_INET6 && !mg_check_feature(8))
    return "this civetweb was built without IPv6";
  int fd = socket(to.a.ss_family, SOCK_STREAM, 0), one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  int r = bind(fd, to.get(), to.len), e = errno;
  if (fd >= 0) close(fd);
  if (r == 0) return "cannot listen there";
  if (e == EADDRINUSE) return "the port is in use";
  if (e == EADDRNOTAVAIL) return "not an address of this machine";
  return strerror(e);
}

// Connects to the server's own port until `done`: civetweb's listening
// thread waits up to two seconds for a connection before it sees a stop.
void wake_until(const std::string &addr, int port, const std::atomic<bool> &done) {
  SocketAddress to;
  if (!to.parse(addr == "0.0.0.0" ? "127.0.0.1" : addr == "::" ? "::1" : addr, port)) return;
  while (!done) {
    int fd = socket(to.a.ss_family, SOCK_STREAM, 0);
    if (fd >= 0) {
      connect(fd, to.get(), to.len);
      close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

std::string web_file(const std::string &root, const std::string &url_path) {
  std::string raw = url_path.substr(0, url_path.find('?'));
  std::string path;
  if (raw.empty() || raw[0] != '/' || !url_decode(raw, path)) return "";
  if (path == "/") path = "/index.html";
  // Every segment a plain name: no "", ".", "..", no backslash or NUL.
  for (size_t pos = 1; pos <= path.size();) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    std::string seg = path.substr(pos, end - pos);
    if (seg.empty() || seg == "." || seg == ".." ||
        seg.find_first_of(std::string("\\\0", 2)) != std::string::npos)
      return "";
    pos = end + 1;
  }
  std::string base = real_path(root);
  std::string file = real_path(root + path);
  struct stat st;
  if (base.empty() || file.compare(0, base.size() + 1, base + "/") != 0 ||
      !content_type(file) || stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return "";
  return file;
}

namespace {

// One WebSocket: its writer's queue, and the reader's state (touched only
// by the civetweb thread that reads it).
struct Conn {
  WebServer::Client id = 0;
  mg_connection *conn = nullptr;
  bool open = false;  // under Impl::mu

  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::pair<int, std::string>> queue;
  size_t bytes = 0;  // queued and not yet written
  bool ending = false;
  bool told = false;  // a close frame is written
  std::thread writer;

  // reader side
  std::string message;
  int kind = 0;          // opcode of the message being gathered
  bool too_big = false;  // the message being gathered is dropped
  double tokens = 0;
  std::chrono::steady_clock::time_point last;
  bool flooding = false;
};

}  // namespace

struct WebServer::Impl {
  WebServer *owner;
  WebServerOptions opt;
  std::string root;
  bool loopback = false;
  std::string addr;  // as listened on
  mg_context *ctx = nullptr;
  int port = 0;

  mutable std::mutex mu;
  std::map<Client, std::shared_ptr<Conn>> conns;  // connecting and open
  Client next_id = 1;

  explicit Impl(WebServer *o) : owner(o) {}

  bool host_allowed(const mg_connection *c) const {
    if (!loopback) return true;
    std::string h = host_name(mg_get_header(c, "Host"));
    return h == "127.0.0.1" || h == "localhost" || h == "[::1]";
  }

  void notice(const std::string &line) {
    if (owner->on_notice) owner->on_notice(line);
  }

  std::shared_ptr<Conn> find(Client c) const {
    std::lock_guard<std::mutex> lock(mu);
    auto it = conns.find(c);
    return it != conns.end() && it->second->open ? it->second : nullptr;
  }

  std::vector<std::shared_ptr<Conn>> open_conns() const {
    std::vector<std::shared_ptr<Conn>> all;
    std::lock_guard<std::mutex> lock(mu);
    for (auto &c : conns)
      if (c.second->open) all.push_back(c.second);
    return all;
  }

  bool enqueue(Conn &c, int opcode, const std::string &data, bool bounded) {
    std::lock_guard<std::mutex> lock(c.mu);
    if (c.ending || (bounded && c.bytes + data.size() > opt.max_queue)) return false;
    c.queue.emplace_back(opcode, data);
    c.bytes += data.size();
    c.cv.notify_all();
    return true;
  }

  void reply_error(Conn &c, const std::string &what) {
    std::string text = "{\"type\":\"error\",\"error\":\"" + what + "\"}";
    enqueue(c, MG_WEBSOCKET_OPCODE_TEXT, text, false);
  }

  static void write_loop(Conn *c) {
    pthread_setname_np(pthread_self(), "kolvex-ws");  // told apart in top and /proc
    std::unique_lock<std::mutex> lock(c->mu);
    for (;;) {
      c->cv.wait(lock, [c] { return c->ending || !c->queue.empty(); });
      if (c->ending) return;
      std::pair<int, std::string> m = std::move(c->queue.front());
      c->queue.pop_front();
      lock.unlock();
      int n = mg_websocket_write(c->conn, m.first, m.second.data(), m.second.size());
      lock.lock();
      c->bytes -= m.second.size();
      c->told |= m.first == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE;
      c->cv.notify_all();
      if (n <= 0) {  // the socket is gone: its reader closes it
        c->ending = true;
        c->queue.clear();
        c->bytes = 0;
        return;
      }
    }
  }

  // Refills the bucket; false when this message is over the rate.
  bool take_token(Conn &c) {
    auto now = std::chrono::steady_clock::now();
    double cap = 2.0 * opt.rate;
    double waited = std::chrono::duration<double>(now - c.last).count();
    c.tokens = std::min(cap, c.tokens + opt.rate * waited);
    c.last = now;
    if (c.tokens >= cap) c.flooding = false;
    if (c.tokens >= 1.0) {
      c.tokens -= 1.0;
      return true;
    }
    if (!c.flooding) {
      c.flooding = true;
      reply_error(c, "too many messages: dropped until the page slows down");
      notice("control surface: a page sent too many messages; dropped until it slows down");
    }
    return false;
  }

  int on_data(Conn &c, int bits, const char *data, size_t len) {
    int op = bits & 0x0f;
    bool fin = (bits & 0x80) != 0;
    if (op == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE) return 0;
    if (op == MG_WEBSOCKET_OPCODE_PING) {
      enqueue(c, MG_WEBSOCKET_OPCODE_PONG, std::string(data, len), true);
      return 1;
    }
    if (op == MG_WEBSOCKET_OPCODE_PONG) return 1;
    if (len > 16 * opt.max_message + 1024) return 0;  // no page sends that
    if (op == MG_WEBSOCKET_OPCODE_TEXT || op == MG_WEBSOCKET_OPCODE_BINARY) {
      c.kind = op;
      c.message.clear();
      c.too_big = false;
    } else if (op != MG_WEBSOCKET_OPCODE_CONTINUATION || c.kind == 0) {
      return 0;  // a continuation of nothing
    }
    c.too_big = c.too_big || c.message.size() + len > opt.max_message;
    if (!c.too_big) c.message.append(data, len);
    if (!fin) return 1;
    int kind = c.kind;
    c.kind = 0;
    std::string text;
    text.swap(c.message);
    if (!take_token(c)) return 1;
    if (kind == MG_WEBSOCKET_OPCODE_BINARY)
      reply_error(c, "binary messages are not taken");
    else if (c.too_big)
      reply_error(c, "a message over " + std::to_string(opt.max_message) + " bytes");
    else if (owner->on_message)
      owner->on_message(c.id, text);
    return 1;
  }

  // Refused sockets get a 403 before civetweb closes them (written whole:
  // civetweb's header calls do nothing on an upgrade request).
  static int refuse(const mg_connection *mc) {
    static const char kText[] =
        "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
        "Connection: close\r\n\r\nForbidden";
    mg_write(const_cast<mg_connection *>(mc), kText, sizeof kText - 1);
    return 1;
  }

  int on_connect(const mg_connection *mc) {
    const char *origin = mg_get_header(mc, "Origin");
    const char *host = mg_get_header(mc, "Host");
    std::string token;
    if (!host_allowed(mc)) return refuse(mc);
    if (origin && (!host || std::string(origin) != std::string("http://") + host)) {
      notice("control surface: refused a page from " + std::string(origin));
      return refuse(mc);
    }
    if (!opt.token.empty() &&
        (!query_value(mg_get_request_info(mc)->query_string, "token", token) ||
         !equal_in_constant_time(token, opt.token))) {
      notice("control surface: refused a page without the token");
      return refuse(mc);
    }
    auto c = std::make_shared<Conn>();
    bool full;
    {
      std::lock_guard<std::mutex> lock(mu);
      full = (int)conns.size() >= opt.max_clients;
      if (!full) {
        c->id = next_id++;
        conns[c->id] = c;
      }
    }
    if (full) {
      notice("control surface: turned a page away: " + std::to_string(opt.max_clients) +
             " are open already");
      return refuse(mc);
    }
    c->tokens = 2.0 * opt.rate;
    c->last = std::chrono::steady_clock::now();
    mg_set_user_connection_data(mc, c.get());
    return 0;
  }

  void on_ready(mg_connection *mc) {
    Conn *c = static_cast<Conn *>(mg_get_user_connection_data(mc));
    if (!c) return;
    c->conn = mc;
    c->writer = std::thread(write_loop, c);
    {
      std::lock_guard<std::mutex> lock(mu);
      c->open = true;
    }
    if (owner->on_open) owner->on_open(c->id);
  }

  void on_closed(const mg_connection *mc) {
    Conn *c = static_cast<Conn *>(mg_get_user_connection_data(mc));
    if (!c) return;
    std::shared_ptr<Conn> keep;
    bool was_open;
    {
      std::lock_guard<std::mutex> lock(mu);
      auto it = conns.find(c->id);
      if (it == conns.end()) return;
      keep = it->second;
      was_open = c->open;
      conns.erase(it);
    }
    end_writer(*c);
    mg_set_user_connection_data(mc, nullptr);
    if (was_open && owner->on_close) owner->on_close(c->id);
  }

  static void end_writer(Conn &c) {
    {
      std::lock_guard<std::mutex> lock(c.mu);
      c.ending = true;
      c.cv.notify_one();
    }
    if (c.writer.joinable()) c.writer.join();
  }

  int on_request(mg_connection *mc) {
    const mg_request_info *ri = mg_get_request_info(mc);
    if (!host_allowed(mc)) return reply(mc, 403, "Forbidden");
    std::string method = ri->request_method;
    if (method != "GET" && method != "HEAD") return reply(mc, 405, "Method Not Allowed");
    std::string path = ri->local_uri_raw ? ri->local_uri_raw : "";
    if (path == "/session") {
      std::string body = opt.token.empty() ? "{\"token\":false}" : "{\"token\":true}";
      return send_body(mc, "application/json", body, method == "HEAD");
    }
    std::string file = web_file(root, path);
    if (file.empty()) return reply(mc, 404, "Not Found");
    std::string body;
    if (FILE *f = fopen(file.c_str(), "rb")) {
      char buf[16384];
      for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) body.append(buf, n);
      fclose(f);
    }
    return send_body(mc, content_type(file), body, method == "HEAD");
  }


  int send_body(mg_connection *mc, const char *type, const std::string &body, bool head) {
    mg_response_header_start(mc, 200);
    mg_response_header_add(mc, "Content-Type", type, -1);
    mg_response_header_add(mc, "Content-Length", std::to_string(body.size()).c_str(), -1);
    mg_response_header_add(mc, "Cache-Control", "no-cache", -1);
    mg_response_header_add(mc, "X-Content-Type-Options", "nosniff", -1);
    std::string host = mg_get_header(mc, "Host") ? mg_get_header(mc, "Host") : "";
    std::string csp = "default-src 'self'; img-src 'self' blob: data:; connect-src 'self'";
    if (!host.empty() && host.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:[]") ==
                             std::string::npos)
      csp += " ws://" + host;
    mg_response_header_add(mc, "Content-Security-Policy", csp.c_str(), -1);
    mg_response_header_send(mc);
    if (!head) mg_write(mc, body.data(), body.size());
    return 200;
  }

  static int reply(mg_connection *mc, int status, const char *text) {
    mg_response_header_start(mc, status);
    mg_response_header_add(mc, "Content-Type", "text/plain", -1);
    mg_response_header_add(mc, "Content-Length", std::to_string(strlen(text)).c_str(), -1);
    mg_response_header_send(mc);
    mg_write(mc, text, strlen(text));
    return status;
  }

  // civetweb's C callbacks, into the Impl they were given. Nothing thrown
  // goes back into C: a request fails, a socket is refused or closed.
  template <class F> static int guarded(int fallback, F f) {
    try {
      return f();
    } catch (...) {
      return fallback;
    }
  }
  static int request_cb(mg_connection *c, void *self) {
    return guarded(500, [&] { return static_cast<Impl *>(self)->on_request(c); });
  }
  static int connect_cb(const mg_connection *c, void *self) {
    return guarded(1, [&] { return static_cast<Impl *>(self)->on_connect(c); });
  }
  static void ready_cb(mg_connection *c, void *self) {
    guarded(0, [&] { return static_cast<Impl *>(self)->on_ready(c), 0; });
  }
  static int data_cb(mg_connection *c, int bits, char *data, size_t len, void *self) {
    Conn *conn = static_cast<Conn *>(mg_get_user_connection_data(c));
    Impl *impl = static_cast<Impl *>(self);
    return conn ? guarded(0, [&] { return impl->on_data(*conn, bits, data, len); }) : 0;
  }
  static void close_cb(const mg_connection *c, void *self) {
    guarded(0, [&] { return static_cast<Impl *>(self)->on_closed(c), 0; });
  }
  static int log_cb(const mg_connection *, const char *) { return 1; }
};

WebServer::WebServer() : impl_(new Impl(this)) {}
WebServer::~WebServer() { stop(); }

bool WebServer::start(const WebServerOptions &opt, std::string &err) {
  stop();
  Impl &m = *impl_;
  m.opt = opt;
  m.root = real_path(opt.root);
  struct stat st;
  if (m.root.empty() || stat(m.root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      access(m.root.c_str(), R_OK | X_OK) != 0) {
    err = opt.root + ": not a folder that can be read";
    return false;
  }
  std::string addr = opt.addr == "localhost" ? "127.0.0.1" : opt.addr;
  if (addr.size() > 2 && addr.front() == '[' && addr.back() == ']')
    addr = addr.substr(1, addr.size() - 2);
  m.loopback = addr.compare(0, 4, "127.") == 0 || addr == "::1";
  m.addr = addr;
  std::string where = opt.addr + ":" + std::to_string(opt.port);
  std::string listen =
      (addr.find(':') != std::string::npos ? "[" + addr + "]" : addr) + ":" +
      std::to_string(opt.port);
  std::string threads = std::to_string(opt.max_clients + 4);
  // decode_url off: the request's path reaches us as sent, decoded once by
  // web_file() (civetweb would decode it and cut it at a %00).
  const char *options[] = {"listening_ports", listen.c_str(), "num_threads", threads.c_str(),
                           "decode_url", "no", "request_timeout_ms", "10000",
                           "websocket_timeout_ms", "2000", "enable_websocket_ping_pong", "no",
                           nullptr};
  mg_callbacks callbacks{};
  callbacks.log_message = Impl::log_cb;
  mg_init_data init{&callbacks, &m, options};
  char text[256] = "";
  unsigned code = 0;
  mg_error_data error{&code, text, sizeof text};
  m.ctx = mg_start2(&init, &error);
  if (!m.ctx) {
    err = where + ": " + why_not_listening(addr, opt.port);
    return false;
  }
  mg_server_port ports[1];
  m.port = mg_get_server_ports(m.ctx, 1, ports) == 1 ? ports[0].port : opt.port;
  mg_set_request_handler(m.ctx, "/", Impl::request_cb, &m);
  mg_set_websocket_handler(m.ctx, "/ws", Impl::connect_cb, Impl::ready_cb, Impl::data_cb,
                           Impl::close_cb, &m);
  return true;
}

int WebServer::port() const { return impl_->port; }

void WebServer::stop() {
  Impl &m = *impl_;
  if (!m.ctx) return;
  // A page told "going away" answers with its own close, which ends its
  // reader at once instead of at civetweb's next two-second look.
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
  for (auto &c : m.open_conns()) {
    std::unique_lock<std::mutex> lock(c->mu);
    c->queue.emplace_front(MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, "\x03\xe9");  // going away
    c->bytes += 2;
    c->cv.notify_all();
    c->cv.wait_until(lock, until, [&] { return c->told || c->ending; });
  }
  std::atomic<bool> stopped{false};
  std::thread waker(wake_until, m.addr, m.port, std::cref(stopped));
  mg_stop(m.ctx);  // closes every socket: the close handlers end the writers
  stopped = true;
  waker.join();
  m.ctx = nullptr;
  std::map<Client, std::shared_ptr<Conn>> left;
  {
    std::lock_guard<std::mutex> lock(m.mu);
    left.swap(m.conns);
  }
  for (auto &c : left) Impl::end_writer(*c.second);
}

bool WebServer::send(Client c, const std::string &text) {
  auto conn = impl_->find(c);
  return conn && impl_->enqueue(*conn, MG_WEBSOCKET_OPCODE_TEXT, text, true);
}

bool WebServer::send_binary(Client c, const std::string &bytes) {
  auto conn = impl_->find(c);
  return conn && impl_->enqueue(*conn, MG_WEBSOCKET_OPCODE_BINARY, bytes, true);
}

void WebServer::broadcast(const std::string &text) {
  for (auto &c : impl_->open_conns()) impl_->enqueue(*c, MG_WEBSOCKET_OPCODE_TEXT, text, true);
}

size_t WebServer::queued(Client c) const {
  auto conn = impl_->find(c);
  if (!conn) return 0;
  std::lock_guard<std::mutex> lock(conn->mu);
  return conn->bytes;
}

size_t WebServer::clients() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  size_t n = 0;
  for (auto &c : impl_->conns) n += c.second->open ? 1 : 0;
  return n;
}
