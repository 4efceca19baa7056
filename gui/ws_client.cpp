#include "gui/ws_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace vesk::gui {

std::string base64_encode(const std::string& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) v |= uint8_t(bytes[i + 2]);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? alphabet[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? alphabet[v & 63] : '=';
  }
  return out;
}

ws_client::~ws_client() {
  if (fd_ >= 0) ::close(fd_);
}

bool ws_client::connect(uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    error = std::string("cannot connect to 127.0.0.1:") + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::random_device rd;
  std::string nonce(16, '\0');
  for (char& c : nonce) c = static_cast<char>(rd());
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " +
                              base64_encode(nonce) + "\r\nSec-WebSocket-Version: 13\r\n\r\n";
  if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    error = "handshake not sent";
    return false;
  }
  size_t end;
  while ((end = in_.find("\r\n\r\n")) == std::string::npos) {
    if (!fill(5000)) {
      error = "no handshake answer";
      return false;
    }
  }
  const bool ok = in_.compare(0, 12, "HTTP/1.1 101") == 0;
  if (!ok) error = "handshake refused: " + in_.substr(0, in_.find("\r\n"));
  in_.erase(0, end + 4);
  return ok;
}

bool ws_client::send_text(const std::string& text) { return send_frame(1, text); }

bool ws_client::send_frame(uint8_t opcode, const std::string& payload) {
  std::string f;
  f += static_cast<char>(0x80 | opcode);
  const uint64_t n = payload.size();
  if (n < 126) {
    f += static_cast<char>(0x80 | n);
  } else if (n <= 0xffff) {
    f += static_cast<char>(0x80 | 126);
    for (int i = 1; i >= 0; --i) f += static_cast<char>(n >> (8 * i));
  } else {
    f += static_cast<char>(0x80 | 127);
    for (int i = 7; i >= 0; --i) f += static_cast<char>(n >> (8 * i));
  }
  std::random_device rd;
  const uint32_t m = rd();
  const char key[4] = {char(m >> 24), char(m >> 16), char(m >> 8), char(m)};
  f.append(key, 4);
  for (size_t i = 0; i < n; ++i) f += static_cast<char>(payload[i] ^ key[i % 4]);
  size_t done = 0;
  while (done < f.size()) {
    ssize_t w = ::send(fd_, f.data() + done, f.size() - done, MSG_NOSIGNAL);
    if (w <= 0) {
      closed = true;
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

bool ws_client::fill(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return !closed;
  char buf[65536];
  ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
  if (n <= 0) {
    closed = true;
    return false;
  }
  in_.append(buf, static_cast<size_t>(n));
  return true;
}

bool ws_client::take_frame(bool& fin, uint8_t& opcode, std::string& payload) {
  if (in_.size() < 2) return false;
  const auto at = [&](size_t i) { return static_cast<uint8_t>(in_[i]); };
  uint64_t n = at(1) & 0x7f;
  size_t head = 2;
  if (n >= 126) {
    const size_t width = n == 126 ? 2 : 8;
    if (in_.size() < 2 + width) return false;
    n = 0;
    for (size_t i = 0; i < width; ++i) n = n << 8 | at(2 + i);
    head += width;
  }
  if (in_.size() - head < n) return false;
  fin = (at(0) & 0x80) != 0;
  opcode = at(0) & 0x0f;
  payload = in_.substr(head, n);
  in_.erase(0, head + n);
  return true;
}

bool ws_client::next(ws_message& out, int timeout_ms) {
  for (;;) {
    bool fin = false;
    uint8_t op = 0;
    std::string payload;
    while (take_frame(fin, op, payload)) {
      if (op == 9) {  // ping
        send_frame(10, payload);
        continue;
      }
      if (op == 10) continue;
      if (op == 8) {
        closed = true;
        out = {8, payload};
        return false;
      }
      if (op != 0) {
        partial_op_ = op;
        partial_.clear();
      }
      partial_ += payload;
      if (fin) {
        out = {partial_op_, partial_};
        partial_.clear();
        return true;
      }
    }
    if (closed) return false;
    size_t before = in_.size();
    if (!fill(timeout_ms) || in_.size() == before) return false;
  }
}

}  // namespace vesk::gui
