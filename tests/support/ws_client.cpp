#include "ws_client.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kt {

WsClient::WsClient(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd_, (sockaddr *)&a, sizeof a);
}

WsClient::~WsClient() { close(fd_); }

void WsClient::stall() {
  int small = 1024;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
}

bool WsClient::read_exact(char *buf, size_t n, int timeout_ms) {
  for (ssize_t got = 0; n > 0; buf += got, n -= size_t(got)) {
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0 || (got = recv(fd_, buf, n, 0)) <= 0) return false;
  }
  return true;
}

bool WsClient::write_all(const std::string &bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += size_t(n);
  }
  return true;
}

std::string WsClient::http(const std::string &request, const std::string &head, std::string *all) {
  std::string got;
  char c;
  if (write_all(request + " HTTP/1.1\r\n" + head + "Connection: close\r\n\r\n"))
    while (read_exact(&c, 1, 2000)) got += c;
  if (all) *all = got;
  return got.substr(0, got.find("\r\n"));
}

std::string WsClient::handshake(const std::string &target, const std::string &host,
                                const std::string &origin) {
  std::string head;
  char c;
  if (write_all("GET " + target + " HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" +
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
                (host.empty() ? "" : "Host: " + host + "\r\n") +
                (origin.empty() ? "" : "Origin: " + origin + "\r\n") + "\r\n"))
    while (head.find("\r\n\r\n") == std::string::npos && read_exact(&c, 1, 2000)) head += c;
  return head.substr(0, head.find("\r\n"));
}

bool WsClient::send(const std::string &payload, int opcode, bool fin, uint64_t claimed) {
  const uint64_t len = claimed ? claimed : payload.size();
  const int size_bytes = len < 126 ? 0 : len < 65536 ? 2 : 8;
  std::string f(1, char((fin ? 0x80 : 0) | opcode));
  f += char(0x80 | (size_bytes == 0 ? len : size_bytes == 2 ? 126 : 127));
  for (int i = size_bytes - 1; i >= 0; --i) f += char((len >> (8 * i)) & 0xff);
  const char mask[4] = {0x11, 0x22, 0x33, 0x44};
  f.append(mask, 4);
  for (size_t i = 0; i < payload.size(); ++i) f += char(payload[i] ^ mask[i % 4]);
  return write_all(f);
}

int WsClient::read(std::string &payload, int timeout_ms) {
  unsigned char h[10];
  pollfd p = {fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return -1;
  timeout_ms = std::max(timeout_ms, 2000);  // a frame begun is read whole
  if (!read_exact((char *)h, 2, timeout_ms)) return -2;
  const int size_bytes = (h[1] & 0x7f) == 126 ? 2 : (h[1] & 0x7f) == 127 ? 8 : 0;
  uint64_t len = size_bytes ? 0 : h[1] & 0x7f;
  if (!read_exact((char *)h + 2, size_bytes, timeout_ms)) return -2;
  for (int i = 0; i < size_bytes; ++i) len = (len << 8) | h[2 + i];
  payload.assign(len, '\0');
  return read_exact(&payload[0], len, timeout_ms) ? h[0] & 0x0f : -2;
}

}  // namespace kt
