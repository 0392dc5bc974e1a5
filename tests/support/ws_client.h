// A raw-socket HTTP and WebSocket client for the server's tests: it sends
// exactly what a test asks, wrong or not, which no browser would.
#ifndef KOLVEX_TESTS_WS_CLIENT_H
#define KOLVEX_TESTS_WS_CLIENT_H

#include <cstdint>
#include <string>

namespace kt {

class WsClient {
 public:
  explicit WsClient(int port);  // to 127.0.0.1
  ~WsClient();
  // One request ("GET /x", header lines each ending in \r\n): the status
  // line back, and the whole response in `all`.
  std::string http(const std::string &request, const std::string &head, std::string *all = nullptr);
  // The WebSocket handshake with this Host and Origin (empty: none sent):
  // the status line back.
  std::string handshake(const std::string &target, const std::string &host,
                        const std::string &origin = "");
  // A masked frame; `claimed` > 0 goes in the header instead of the size.
  bool send(const std::string &payload, int opcode = 1, bool fin = true, uint64_t claimed = 0);
  // The next frame's opcode and payload; -1 on timeout, -2 once closed.
  int read(std::string &payload, int timeout_ms = 2000);
  void stall();  // a receive buffer so small that the server's writes stall

 private:
  bool read_exact(char *buf, size_t n, int timeout_ms);
  bool write_all(const std::string &bytes);
  int fd_ = -1;
};

}  // namespace kt

#endif
