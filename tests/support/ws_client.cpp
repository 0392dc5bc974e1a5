#include "ws_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace kt {

WsClient::WsClient(int port) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, (sockaddr *)&a, sizeof a) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

WsClient::~WsClient() {
  if (fd_ >= 0) close(fd_);
}

void WsClient::stall() {
  int small = 1024;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
}

bool WsClient::read_exact(char *buf, size_t n, int timeout_ms) {
  while (n > 0) {
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    ssize_t got = recv(fd_, buf, n, 0);
    if (got <= 0) return false;
    buf += got;
    n -= size_t(got);
  }
  return true;
}

std::string WsClient::http(const std::string &request_line, const std::string &head,
                           std::string *response) {
  std::string req = request_line + " HTTP/1.1\r\n" + head + "Connection: close\r\n\r\n";
  if (fd_ < 0 || ::send(fd_, req.data(), req.size(), MSG_NOSIGNAL) != ssize_t(req.size()))
    return "";
  std::string all;
  char c;
  while (read_exact(&c, 1, 2000)) all += c;
  if (response) *response = all;
  return all.substr(0, all.find("\r\n"));
}

std::string WsClient::handshake(const std::string &target, const std::string &host,
                         const std::string &origin) {
  std::string req = "GET " + target + " HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
  if (!host.empty()) req += "Host: " + host + "\r\n";
  if (!origin.empty()) req += "Origin: " + origin + "\r\n";
  req += "\r\n";
  if (fd_ < 0 || ::send(fd_, req.data(), req.size(), MSG_NOSIGNAL) != ssize_t(req.size()))
    return "";
  std::string head;
  char c;
  while (head.find("\r\n\r\n") == std::string::npos && read_exact(&c, 1, 2000)) head += c;
  return head.substr(0, head.find("\r\n"));
}

bool WsClient::send(const std::string &payload, int opcode, bool fin, uint64_t claimed) {
  uint64_t len = claimed ? claimed : payload.size();
  std::string f(1, char((fin ? 0x80 : 0) | opcode));
  if (len < 126) {
    f += char(0x80 | len);
  } else if (len < 65536) {
    f += char(0x80 | 126);
    f += char(len >> 8);
    f += char(len & 0xff);
  } else {
    f += char(0x80 | 127);
    for (int i = 7; i >= 0; --i) f += char((len >> (8 * i)) & 0xff);
  }
  const char mask[4] = {0x11, 0x22, 0x33, 0x44};
  f.append(mask, 4);
  for (size_t i = 0; i < payload.size(); ++i) f += char(payload[i] ^ mask[i % 4]);
  size_t sent = 0;
  while (sent < f.size()) {
    ssize_t n = ::send(fd_, f.data() + sent, f.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += size_t(n);
  }
  return true;
}

int WsClient::read(std::string &payload, int timeout_ms) {
  unsigned char h[2];
  pollfd p = {fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return -1;
  if (!read_exact((char *)h, 2, timeout_ms)) return -2;
  uint64_t len = h[1] & 0x7f;
  int extra = len == 126 ? 2 : len == 127 ? 8 : 0;
  unsigned char ext[8];
  if (extra && !read_exact((char *)ext, extra, timeout_ms)) return -2;
  if (extra) len = 0;
  for (int i = 0; i < extra; ++i) len = (len << 8) | ext[i];
  payload.assign(len, '\0');
  if (len && !read_exact(&payload[0], len, timeout_ms)) return -2;
  return h[0] & 0x0f;
}

}  // namespace kt
