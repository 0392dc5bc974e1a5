// A raw-socket HTTP and WebSocket client for the server's tests: it sends
// exactly what a test asks, wrong or not, which no browser would.
#ifndef KOLVEX_TESTS_WS_CLIENT_H
#define KOLVEX_TESTS_WS_CLIENT_H

#include <cstdint>
#include <string>

namespace kt {

class WsClient {
 public:
  explicit WsClient(int port);
  ~WsClient();

  // One HTTP request (`head` lines end in \r\n); the status line back.
  std::string http(const std::string &request_line, const std::string &head = "",
                   std::string *response = nullptr);
  // The WebSocket handshake on `target` (e.g. "/ws?token=x") with these
  // Host and Origin (empty: none); the status line back (101: upgraded).
  std::string handshake(const std::string &target, const std::string &host = "127.0.0.1",
                 const std::string &origin = "");
  // A masked frame; `claimed` > 0 puts that length in the header instead
  // of the payload's.
  bool send(const std::string &payload, int opcode = 1, bool fin = true, uint64_t claimed = 0);
  // The next frame's opcode and payload; -1 on timeout, 0x8 on close, -2
  // when the socket is closed.
  int read(std::string &payload, int timeout_ms = 2000);
  // Shrinks the socket's receive buffer so that the server's writes stall.
  void stall();

 private:
  bool read_exact(char *buf, size_t n, int timeout_ms);
  int fd_ = -1;
};

}  // namespace kt

#endif
