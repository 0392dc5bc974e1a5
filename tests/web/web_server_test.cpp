// The control surface's server as a hostile page or a stray program would
// meet it: which files, hosts, origins and tokens get in, and what a page
// that sends too much or reads too little does to the others.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "test_support.h"
#include "web_server.h"
#include "ws_client.h"

namespace {

typedef std::unique_ptr<kt::WsClient> Socket;
const char kOk[] = "HTTP/1.1 200 OK", kMissing[] = "HTTP/1.1 404 Not Found",
           kForbidden[] = "HTTP/1.1 403 Forbidden";

struct Server : ::testing::Test {
  kt::TempDir root, outside;
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::string> messages, notices;
  std::vector<WebServer::Client> opened, closed;
  WebServer server;  // last: stopped before what its callbacks touch

  void SetUp() override {
    for (const char *name : {"/index.html", "/app.js", "/notes.txt", "/a\\b.js"})
      kt::write_file(root.path + name, {'x'});
    kt::write_file(outside.path + "/secret.js", {'s'});
    mkdir((root.path + "/d.html").c_str(), 0755);
    EXPECT_EQ(symlink((outside.path + "/secret.js").c_str(), (root.path + "/out.js").c_str()), 0);
    EXPECT_EQ(symlink("app.js", (root.path + "/in.js").c_str()), 0);
    EXPECT_EQ(symlink("notes.txt", (root.path + "/txt.js").c_str()), 0);
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
  WebServerOptions options() {
    WebServerOptions o;
    o.root = root.path;
    o.max_message = 1000;
    return o;
  }
  bool start(const WebServerOptions &o) {
    std::string err;
    return server.start(o, err);
  }
  // How many `list` holds once it holds n, or after a while.
  template <class T> size_t wait_for(const T &list, size_t n) {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait_for(lock, std::chrono::seconds(2), [&] { return list.size() >= n; });
    return list.size();
  }
  std::string last_message() {
    std::lock_guard<std::mutex> lock(mu);
    return messages.empty() ? "" : messages.back();
  }
  std::string host() { return "127.0.0.1:" + std::to_string(server.port()); }
  Socket socket(const std::string &target = "/ws", const std::string &origin = "") {
    Socket c(new kt::WsClient(server.port()));
    bool in = c->handshake(target, host(), origin) == "HTTP/1.1 101 Switching Protocols";
    return in ? std::move(c) : nullptr;
  }
  std::string status(const std::string &request, const std::string &host = "127.0.0.1") {
    return kt::WsClient(server.port()).http(request, "Host: " + host + "\r\n");
  }
};

TEST_F(Server, ServesOnlyThePagesOwnFiles) {
  ASSERT_TRUE(start(options()));
  const std::string outside_name = outside.path.substr(outside.path.rfind('/') + 1);
  const std::pair<std::string, const char *> rows[] = {
      {"GET /", kOk}, {"GET /app.js?v=2", kOk}, {"HEAD /app.js", kOk},
      {"GET /in.js", kOk},                       // a link within the folder
      {"GET /out.js", kMissing},                 // a link out of it
      {"GET /txt.js", kMissing},                 // a link to a kind it has not
      {"GET /../" + outside_name + "/secret.js", kMissing},
      {"GET /d.html/../app.js", kMissing},
      {"GET /d.html/%2e%2e/app.js", kMissing},
      {"GET /d.html/%252e%252e/app.js", kMissing},  // decoded once
      {"GET /./app.js", kMissing},
      {"GET //app.js", kMissing},
      {"GET /%2fapp.js", kMissing},
      {"GET /a%5cb.js", kMissing},
      {"GET /index.html%00.png", kMissing},
      {"GET /d.html", kMissing},     // a folder
      {"GET /notes.txt", kMissing},  // not a kind the page has
      {"POST /app.js", "HTTP/1.1 405 Method Not Allowed"},
  };
  for (const auto &r : rows) EXPECT_EQ(status(r.first), r.second) << r.first;
  std::string response;
  kt::WsClient(server.port()).http("GET /app.js", "Host: localhost\r\n", &response);
  for (const char *line :
       {"Content-Type: text/javascript", "X-Content-Type-Options: nosniff",
        "Cache-Control: no-cache", "Content-Security-Policy: default-src 'self'"})
    EXPECT_TRUE(kt::contains(response, line)) << line << " in " << response;
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
    WebServerOptions o = options();
    o.token = r.token;
    ASSERT_TRUE(start(o));
    std::string origin = std::string(r.origin) == "self" ? "http://" + host() : r.origin;
    EXPECT_EQ(socket(r.target, origin) != nullptr, r.in) << r.target << " " << origin;
    std::string body;
    EXPECT_EQ(kt::WsClient(server.port()).http("GET /session", "Host: [::1]:1\r\n", &body), kOk);
    EXPECT_TRUE(kt::contains(body, *r.token ? "{\"token\":true}" : "{\"token\":false}"));
    // Another name for our address: a page elsewhere that renamed itself.
    EXPECT_EQ(status("GET /", "evil.example"), kForbidden);
    EXPECT_EQ(status("GET /session", "evil.example:80"), kForbidden);
    EXPECT_EQ(kt::WsClient(server.port()).handshake(r.target, "evil.example"), kForbidden);
  }
}

TEST_F(Server, TakesMessagesWithinTheirBounds) {
  ASSERT_TRUE(start(options()));
  Socket a = socket(), other = socket();
  ASSERT_TRUE(a && other);
  struct Row { std::string payload; int opcode; bool fin; const char *arrives; };
  const Row rows[] = {
      {std::string(1000, 'a'), 1, true, nullptr},  // nullptr: as sent
      {std::string(1001, 'b'), 1, true, "error"},
      {"bin", 2, true, "error"},
      {"pie", 1, false, ""},
      {"ces", 0, true, "pieces"},
      {"after", 1, true, nullptr},
      {"p", 9, true, "pong"},
  };
  size_t delivered = 0;
  std::string reply;
  for (const Row &r : rows) {
    ASSERT_TRUE(a->send(r.payload, r.opcode, r.fin));
    if (!r.arrives || std::string(r.arrives) == "pieces") {
      ASSERT_EQ(wait_for(messages, ++delivered), delivered);
      EXPECT_EQ(last_message(), r.arrives ? r.arrives : r.payload);
    } else if (std::string(r.arrives) == "error") {
      EXPECT_EQ(a->read(reply), 1);
      EXPECT_TRUE(kt::contains(reply, "\"type\":\"error\"")) << reply;
    } else if (std::string(r.arrives) == "pong") {
      EXPECT_EQ(a->read(reply), 0xa);
    }
  }
  // A frame far over the bound ends its socket; one whose header claims
  // 1 GiB and never comes holds only its own; the others go on.
  ASSERT_TRUE(a->send(std::string(20000, 'c')));
  EXPECT_EQ(a->read(reply), -2);
  Socket claim = socket();
  ASSERT_TRUE(claim && claim->send("", 1, true, uint64_t(1) << 30));
  ASSERT_TRUE(other->send("still here"));
  ASSERT_EQ(wait_for(messages, delivered + 1), delivered + 1);
  EXPECT_EQ(last_message(), "still here");
}

TEST_F(Server, DropsAFloodAndSaysSoOnce) {
  WebServerOptions o = options();
  o.rate = 20;
  ASSERT_TRUE(start(o));
  Socket a = socket();
  ASSERT_TRUE(a);
  for (int i = 0; i < 5 * o.rate; ++i) ASSERT_TRUE(a->send("m"));
  std::string reply;
  EXPECT_EQ(a->read(reply), 1);
  EXPECT_TRUE(kt::contains(reply, "too many")) << reply;
  EXPECT_EQ(a->read(reply, 100), -1);  // once a flood
  EXPECT_EQ(wait_for(notices, 1), 1u);
  const size_t taken = wait_for(messages, 0);
  EXPECT_GE(taken, size_t(2 * o.rate));
  EXPECT_LE(taken, size_t(2 * o.rate + o.rate / 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(2000 / o.rate));
  ASSERT_TRUE(a->send("again"));
  EXPECT_EQ(wait_for(messages, taken + 1), taken + 1);
}

TEST_F(Server, SendsWithoutWaitingForASlowPage) {
  WebServerOptions o = options();
  o.max_queue = 1 << 20;
  o.max_clients = 3;
  ASSERT_TRUE(start(o));
  Socket a = socket(), b = socket(), stalled = socket();  // clients 1, 2, 3
  ASSERT_TRUE(a && b && stalled);
  stalled->stall();
  ASSERT_EQ(wait_for(opened, 3), 3u);
  EXPECT_EQ(server.clients(), 3u);
  EXPECT_FALSE(socket());  // one too many
  EXPECT_EQ(wait_for(notices, 1), 1u);
  for (const char *m : {"one", "two"}) server.broadcast(m);
  std::string got;
  for (kt::WsClient *c : {a.get(), b.get()})
    for (const char *m : {"one", "two"}) {
      EXPECT_EQ(c->read(got), 1);
      EXPECT_EQ(got, m);
    }
  // The stalled page's socket fills, then its queue: send() says no, at once.
  int accepted = 0;
  while (server.send(3, std::string(64 << 10, 'x')) && accepted < 1000) ++accepted;
  EXPECT_LT(accepted, 1000);
  EXPECT_GT(server.queued(3), 0u);
  EXPECT_TRUE(server.send(1, "free") && server.send_binary(1, std::string("\0\1", 2)));
  EXPECT_EQ(a->read(got), 1);
  EXPECT_EQ(got, "free");
  EXPECT_EQ(a->read(got), 2);
  EXPECT_EQ(got, std::string("\0\1", 2));
  b.reset();
  ASSERT_EQ(wait_for(closed, 1), 1u);
  EXPECT_EQ(closed[0], 2u);
  EXPECT_EQ(server.clients(), 2u);
  EXPECT_FALSE(server.send(2, "gone"));
  // Stopped with pages connected, a stalled one among them; the port again.
  o.port = server.port();
  server.stop();
  EXPECT_EQ(a->read(got), 0x8);  // told, so that a page knows
  ASSERT_TRUE(start(o));
  EXPECT_TRUE(socket() != nullptr);
}

TEST_F(Server, SaysWhyItCannotStart) {
  ASSERT_TRUE(start(options()));
  const std::string used = std::to_string(server.port()), none = root.path + "/none";
  struct Row { const char *addr; std::string port, root, err; };
  const Row rows[] = {
      {"127.0.0.1", used, root.path, "127.0.0.1:" + used + ": the port is in use"},
      {"1.2.3.400", "0", root.path, "1.2.3.400:0: not an address to listen on"},
      {"192.0.2.1", "0", root.path, "192.0.2.1:0: not an address of this machine"},
      {"127.0.0.1", "0", none, none + ": not a folder that can be read"},
  };
  for (const Row &r : rows) {
    WebServer other;
    WebServerOptions o = options();
    o.addr = r.addr;
    o.port = std::stoi(r.port);
    o.root = r.root;
    std::string err;
    EXPECT_FALSE(other.start(o, err));
    EXPECT_EQ(err, r.err);
  }
}

}  // namespace
