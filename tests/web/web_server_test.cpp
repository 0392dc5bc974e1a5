// The control surface's server as a hostile page or a stray program would
// meet it: which files, hosts, origins and tokens get in, and what a page
// that sends too much or reads too little does to the others.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "test_support.h"
#include "web_server.h"
#include "ws_client.h"

namespace {

struct Server : ::testing::Test {
  kt::TempDir root, outside;
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::string> messages, notices;
  std::vector<WebServer::Client> opened, closed;
  WebServer server;  // last: stopped before what its callbacks touch

  void SetUp() override {
    kt::write_file(root.path + "/index.html", {'<', 'p', '>'});
    kt::write_file(root.path + "/app.js", {'1', ';'});
    kt::write_file(root.path + "/notes.txt", {'x'});
    kt::write_file(root.path + "/a\\b.js", {'x'});
    kt::write_file(outside.path + "/secret.js", {'s'});
    mkdir((root.path + "/d.html").c_str(), 0755);
    EXPECT_EQ(symlink((outside.path + "/secret.js").c_str(), (root.path + "/out.js").c_str()), 0);
    EXPECT_EQ(symlink("app.js", (root.path + "/in.js").c_str()), 0);
    server.on_open = [this](WebServer::Client c) { add(opened, c); };
    server.on_close = [this](WebServer::Client c) { add(closed, c); };
    server.on_message = [this](WebServer::Client, const std::string &t) { add(messages, t); };
    server.on_notice = [this](const std::string &l) { add(notices, l); };
  }
  template <class T, class V> void add(T &list, const V &v) {
    std::lock_guard<std::mutex> lock(mu);
    list.push_back(v);
    cv.notify_all();
  }
  bool start(const std::string &token = "", int rate = 200, size_t max_queue = 4 << 20,
             int port = 0) {
    WebServerOptions o;
    o.root = root.path;
    o.token = token;
    o.rate = rate;
    o.max_queue = max_queue;
    o.max_message = 1000;
    o.port = port;
    std::string err;
    return server.start(o, err);
  }
  // Waits until `count` of `list` (under the lock) reaches n.
  template <class T> size_t wait_for(const T &list, size_t n, int ms = 2000) {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return list.size() >= n; });
    return list.size();
  }
  // An open socket, or one refused (null).
  std::unique_ptr<kt::WsClient> socket(const std::string &target = "/ws",
                                       const std::string &origin = "") {
    std::unique_ptr<kt::WsClient> c(new kt::WsClient(server.port()));
    return c->handshake(target, "127.0.0.1:" + std::to_string(server.port()), origin) ==
                   "HTTP/1.1 101 Switching Protocols"
               ? std::move(c)
               : nullptr;
  }
  std::string status(const std::string &line, const std::string &host = "127.0.0.1") {
    return kt::WsClient(server.port()).http(line, "Host: " + host + "\r\n");
  }
};

TEST_F(Server, ServesOnlyThePagesOwnFiles) {
  ASSERT_TRUE(start());
  const std::string out_name = outside.path.substr(outside.path.rfind('/') + 1) + "/secret.js";
  struct Row { std::string request; const char *status; };
  const Row rows[] = {
      {"GET /", "HTTP/1.1 200 OK"},
      {"GET /app.js", "HTTP/1.1 200 OK"},
      {"HEAD /app.js", "HTTP/1.1 200 OK"},
      {"GET /in.js", "HTTP/1.1 200 OK"},             // a link within the folder
      {"GET /app.js?v=2", "HTTP/1.1 200 OK"},
      {"GET /d.html/../app.js", "HTTP/1.1 404 Not Found"},
      {"GET /d.html/%2e%2e/app.js", "HTTP/1.1 404 Not Found"},
      {"GET /d.html/%252e%252e/app.js", "HTTP/1.1 404 Not Found"},  // decoded once
      {"GET /d.html/../../x.js", "HTTP/1.1 404 Not Found"},
      {"GET /../" + out_name, "HTTP/1.1 404 Not Found"},
      {"GET /./app.js", "HTTP/1.1 404 Not Found"},
      {"GET //app.js", "HTTP/1.1 404 Not Found"},
      {"GET /%2fapp.js", "HTTP/1.1 404 Not Found"},
      {"GET /a%5cb.js", "HTTP/1.1 404 Not Found"},
      {"GET /out.js", "HTTP/1.1 404 Not Found"},     // a link out of the folder
      {"GET /d.html", "HTTP/1.1 404 Not Found"},     // a folder
      {"GET /notes.txt", "HTTP/1.1 404 Not Found"},  // not a kind the page has
      {"GET /index.html%00.png", "HTTP/1.1 404 Not Found"},
      {"POST /app.js", "HTTP/1.1 405 Method Not Allowed"},
  };
  for (const Row &r : rows) EXPECT_EQ(status(r.request), r.status) << r.request;
  std::string response;
  kt::WsClient(server.port()).http("GET /app.js", "Host: localhost\r\n", &response);
  EXPECT_TRUE(kt::contains(response, "Content-Type: text/javascript")) << response;
  EXPECT_TRUE(kt::contains(response, "X-Content-Type-Options: nosniff"));
  EXPECT_TRUE(kt::contains(response, "Content-Security-Policy: default-src 'self'"));
}

TEST_F(Server, LetsInOnlyItsOwnHostsOriginsAndToken) {
  struct Row { const char *token, *target, *origin; bool in; };
  const Row rows[] = {
      {"", "/ws", "", true},
      {"", "/ws", "self", true},
      {"", "/ws", "http://evil.example", false},
      {"s3 cret", "/ws", "", false},
      {"s3 cret", "/ws?token=s3", "", false},
      {"s3 cret", "/ws?token=s3%20cret!", "", false},
      {"s3 cret", "/ws?a=1&token=s3%20cret", "self", true},
  };
  for (const Row &r : rows) {
    ASSERT_TRUE(start(r.token));
    std::string self = "http://127.0.0.1:" + std::to_string(server.port());
    std::string origin = std::string(r.origin) == "self" ? self : r.origin;
    EXPECT_EQ(socket(r.target, origin) != nullptr, r.in) << r.token << " " << r.target << " " << origin;
    EXPECT_EQ(status("GET /session"), "HTTP/1.1 200 OK");
    std::string body;
    kt::WsClient(server.port()).http("GET /session", "Host: [::1]:1\r\n", &body);
    EXPECT_TRUE(kt::contains(body, *r.token ? "{\"token\":true}" : "{\"token\":false}"));
    // Another name for our address: a page elsewhere that renamed itself.
    EXPECT_EQ(status("GET /", "evil.example"), "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(status("GET /session", "evil.example:80"), "HTTP/1.1 403 Forbidden");
    kt::WsClient evil(server.port());
    EXPECT_EQ(evil.handshake(r.target, "evil.example", ""), "HTTP/1.1 403 Forbidden");
    server.stop();
  }
}

TEST_F(Server, TakesMessagesWithinTheirBounds) {
  ASSERT_TRUE(start());
  auto a = socket(), other = socket();
  ASSERT_TRUE(a && other);
  std::string reply;
  struct Row { std::string payload; int opcode; bool delivered; };
  const Row rows[] = {
      {std::string(1000, 'a'), 1, true},
      {std::string(1001, 'b'), 1, false},
      {"bin", 2, false},
      {"after", 1, true},
  };
  size_t delivered = 0;
  for (const Row &r : rows) {
    ASSERT_TRUE(a->send(r.payload, r.opcode));
    if (r.delivered) {
      ASSERT_EQ(wait_for(messages, ++delivered), delivered);
      EXPECT_EQ(messages.back(), r.payload);
    } else {
      EXPECT_EQ(a->read(reply), 1);
      EXPECT_TRUE(kt::contains(reply, "\"type\":\"error\"")) << reply;
    }
  }
  // In pieces, whole once it ends.
  ASSERT_TRUE(a->send("pie", 1, false) && a->send("ces", 0, true));
  ASSERT_EQ(wait_for(messages, delivered + 1), delivered + 1);
  EXPECT_EQ(messages.back(), "pieces");
  ASSERT_TRUE(a->send("p", 9));
  EXPECT_EQ(a->read(reply), 0xa);
  // A frame far over the bound ends its socket; one whose header claims
  // 1 GiB and never comes holds only its own; the others go on.
  ASSERT_TRUE(a->send(std::string(20000, 'c')));
  EXPECT_EQ(a->read(reply), -2);
  auto claim = socket();
  ASSERT_TRUE(claim && claim->send("", 1, true, uint64_t(1) << 30));
  ASSERT_TRUE(other->send("still here"));
  ASSERT_EQ(wait_for(messages, delivered + 2), delivered + 2);
  EXPECT_EQ(messages.back(), "still here");
}

TEST_F(Server, DropsAFloodAndSaysSoOnce) {
  const int rate = 20;
  ASSERT_TRUE(start("", rate));
  auto a = socket();
  ASSERT_TRUE(a);
  for (int i = 0; i < 5 * rate; ++i) ASSERT_TRUE(a->send("m"));
  ASSERT_TRUE(a->send("last"));
  std::string reply;
  EXPECT_EQ(a->read(reply), 1);
  EXPECT_TRUE(kt::contains(reply, "too many")) << reply;
  EXPECT_EQ(a->read(reply, 100), -1);  // once a flood
  EXPECT_EQ(wait_for(notices, 1), 1u);
  {
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_LE(messages.size(), size_t(2 * rate + 2));
    EXPECT_GE(messages.size(), size_t(2 * rate));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1000 / rate * 2));
  size_t before = wait_for(messages, 0);
  ASSERT_TRUE(a->send("again"));
  EXPECT_EQ(wait_for(messages, before + 1), before + 1);
}

TEST_F(Server, SendsWithoutWaitingForASlowPage) {
  ASSERT_TRUE(start("", 200, 1 << 20));
  auto a = socket(), b = socket(), stalled = socket();
  ASSERT_TRUE(a && b && stalled);
  stalled->stall();
  ASSERT_EQ(wait_for(opened, 3), 3u);
  EXPECT_EQ(server.clients(), 3u);
  for (const char *m : {"one", "two"}) server.broadcast(m);
  for (auto *c : {a.get(), b.get()}) {
    std::string got;
    for (const char *m : {"one", "two"}) {
      EXPECT_EQ(c->read(got), 1);
      EXPECT_EQ(got, m);
    }
  }
  // The stalled page's socket fills, then its queue: send() says no, at once.
  std::string big(64 << 10, 'x');
  int accepted = 0;
  while (server.send(opened[2], big) && accepted < 1000) ++accepted;
  EXPECT_LT(accepted, 1000);
  EXPECT_GT(server.queued(opened[2]), 0u);
  EXPECT_TRUE(server.send(opened[0], "free"));
  std::string got;
  EXPECT_EQ(a->read(got), 1);
  EXPECT_EQ(got, "free");
  b.reset();
  ASSERT_EQ(wait_for(closed, 1), 1u);
  EXPECT_EQ(closed[0], opened[1]);
  EXPECT_EQ(server.clients(), 2u);
  EXPECT_FALSE(server.send(opened[1], "gone"));
  // Stopping with pages connected, a stalled one among them; then the same
  // port again.
  int port = server.port();
  server.stop();
  ASSERT_TRUE(start("", 200, 1 << 20, port));
  EXPECT_TRUE(socket() != nullptr);
}

TEST_F(Server, SaysWhyItCannotStart) {
  ASSERT_TRUE(start());
  const std::string used = std::to_string(server.port());
  struct Row { const char *addr; std::string port, root, err; };
  const Row rows[] = {
      {"127.0.0.1", used, root.path, "127.0.0.1:" + used + ": the port is in use"},
      {"1.2.3.400", "0", root.path, "1.2.3.400:0: not an address to listen on"},
      {"192.0.2.1", "0", root.path, "192.0.2.1:0: not an address of this machine"},
      {"127.0.0.1", "0", root.path + "/none", root.path + "/none: not a folder that can be read"},
  };
  for (const Row &r : rows) {
    WebServer other;
    WebServerOptions o;
    o.addr = r.addr;
    o.port = std::stoi(r.port);
    o.root = r.root;
    std::string err;
    EXPECT_FALSE(other.start(o, err));
    EXPECT_EQ(err, r.err);
  }
}

}  // namespace
