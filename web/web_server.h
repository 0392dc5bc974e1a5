/*  kolvex - the control surface's HTTP and WebSocket server
 *
 *  Serves the page's files from one folder and carries the page's
 *  messages both ways over WebSockets at /ws. Built on civetweb: a small
 *  C library with its own worker threads and WebSockets in the same
 *  server, nothing else to link.
 *
 *  What it lets in:
 *    files     GET and HEAD of a regular file inside `root`, by its path
 *              ("/" is index.html): any ".." or "." segment, a backslash,
 *              a NUL, a path that resolves (symlinks followed) outside
 *              `root`, a name of a kind the page does not have (only
 *              .html .js .css .png .svg .ico .json) are 404; nothing else
 *              on the machine is ever read.
 *    hosts     bound to a loopback address, a request whose Host is not
 *              127.0.0.1, localhost or [::1] (with any port) is refused
 *              (403): a page elsewhere that renamed itself to our address
 *              cannot reach us.
 *    sockets   GET /ws upgraded when its Origin, if any, is the page's own
 *              (http://HOST where HOST is the request's Host) and, when a
 *              token is set, when /ws?token=TOKEN carries it (compared in
 *              constant time); else 403. At most `max_clients` at once.
 *    messages  text frames up to `max_message` bytes; a bigger one, or a
 *              binary one, is answered with an error and dropped (a
 *              frame many times over it closes the socket). Each
 *              client may send `rate` messages a second (bursts of twice
 *              that): the rest are dropped until it slows down, told to it
 *              and to `on_notice` once per flood.
 *  GET /session answers {"token": true|false}: whether the page must ask
 *  for a token before it opens /ws.
 *
 *  Sending never waits for a browser: send() and broadcast() queue, one
 *  thread a client writes. A client whose queue holds `max_queue` bytes
 *  gets nothing more until it has taken them (a slow or stalled page gets
 *  fewer messages, the caller never waits); queued() tells the caller how
 *  far behind it is.
 *
 *  The callbacks run on the server's threads: whoever sets them makes them
 *  thread safe and quick (queue and return).
 */
#ifndef KOLVEX_WEB_WEB_SERVER_H
#define KOLVEX_WEB_WEB_SERVER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct WebServerOptions {
  std::string addr = "127.0.0.1";  // where to listen
  int port = 0;                    // 0: any free port (port() tells)
  std::string root;                // the page's folder
  std::string token;               // empty: none asked
  size_t max_message = 16 * 1024;  // bytes of one message from a page
  int rate = 200;                  // messages a second from one page
  int max_clients = 16;
  size_t max_queue = 4 << 20;      // bytes queued for one page
};

class WebServer {
 public:
  typedef uint64_t Client;  // a connection's number, from 1, never reused

  WebServer();
  ~WebServer();  // every connection closed, every thread ended
  // Starts listening. False with one line in `err` ("127.0.0.1:8080: the
  // port is in use", "DIR: not a folder that can be read").
  bool start(const WebServerOptions &opt, std::string &err);
  int port() const;  // the port listened on, once started
  void stop();

  // A page has connected (its socket is open and may be sent to).
  std::function<void(Client)> on_open;
  // A text message from a page, whole, within the bounds.
  std::function<void(Client, const std::string &text)> on_message;
  std::function<void(Client)> on_close;
  // A line for the performer (a flood, a refused connection), once each.
  std::function<void(const std::string &line)> on_notice;

  // Queue a text or binary message for one page, or every open one. False
  // when the client is gone or its queue is full (the message is dropped).
  bool send(Client c, const std::string &text);
  bool send_binary(Client c, const std::string &bytes);
  void broadcast(const std::string &text);
  size_t queued(Client c) const;  // bytes not yet written to it
  size_t clients() const;         // open sockets

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  WebServer(const WebServer &) = delete;
  WebServer &operator=(const WebServer &) = delete;
};

// The path a request names as it came (percent-encoded, a query after
// '?' ignored), checked against `root` as start() serves: the file's real
// path, or empty when it is not one to serve. (Apart from
// the network so that the checks can be tested and fuzzed.)
std::string web_file(const std::string &root, const std::string &url_path);

#endif
