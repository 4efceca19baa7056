#pragma once
// A small WebSocket client for tests and benchmarks: a fixed-key handshake, masked
// frames with 7-, 16- and 64-bit lengths, and a parser of the server's frames. It talks
// to 127.0.0.1 only and runs on the caller's thread, interleaved with the event loop.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "io/event_list.h"

namespace vesk::io::test_client {

/// The key of RFC 6455's example and the accept value the server must answer with.
constexpr const char* fixed_key = "dGhlIHNhbXBsZSBub25jZQ==";
constexpr const char* fixed_accept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

/// The opening handshake request with the fixed key.
inline std::string handshake_request() {
  return std::string("GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n") +
         "Sec-WebSocket-Key: " + fixed_key + "\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

/// One client frame: FIN flag, opcode, the shortest length form and, unless `masked` is
/// false, the payload masked with `mask`.
inline std::string frame(uint8_t opcode, const std::string& payload, bool fin = true, bool masked = true,
                         uint32_t mask = 0x37fa213d) {
  std::string out;
  out += static_cast<char>((fin ? 0x80 : 0) | opcode);
  const uint8_t mask_bit = masked ? 0x80 : 0;
  uint64_t n = payload.size();
  if (n < 126) {
    out += static_cast<char>(mask_bit | n);
  } else if (n <= 0xffff) {
    out += static_cast<char>(mask_bit | 126);
    for (int i = 1; i >= 0; --i) out += static_cast<char>(n >> (8 * i));
  } else {
    out += static_cast<char>(mask_bit | 127);
    for (int i = 7; i >= 0; --i) out += static_cast<char>(n >> (8 * i));
  }
  if (!masked) return out + payload;
  uint8_t key[4] = {uint8_t(mask >> 24), uint8_t(mask >> 16), uint8_t(mask >> 8), uint8_t(mask)};
  out.append(reinterpret_cast<char*>(key), 4);
  size_t start = out.size();
  out += payload;
  for (size_t i = 0; i < payload.size(); ++i) out[start + i] = static_cast<char>(out[start + i] ^ key[i % 4]);
  return out;
}

/// A frame the server sent.
struct server_frame {
  bool fin = false;
  uint8_t opcode = 0;
  std::string payload;
};

/// Cuts one unmasked frame from `bytes` at `pos`; returns its length, 0 when incomplete.
inline size_t parse_frame(const std::string& bytes, size_t pos, server_frame& out) {
  const auto at = [&](size_t i) { return static_cast<uint8_t>(bytes[pos + i]); };
  size_t have = bytes.size() - pos;
  if (have < 2) return 0;
  uint64_t n = at(1) & 0x7f;
  size_t head = 2;
  if (n == 126 || n == 127) {
    size_t width = n == 126 ? 2 : 8;
    if (have < 2 + width) return 0;
    n = 0;
    for (size_t i = 0; i < width; ++i) n = n << 8 | at(2 + i);
    head += width;
  }
  if (have - head < n) return 0;
  out.fin = (at(0) & 0x80) != 0;
  out.opcode = at(0) & 0x0f;
  out.payload = bytes.substr(pos + head, n);
  return head + n;
}

/// Runs one wait of the loop if it has something ready within `timeout_ms`, so callers
/// never sit in the loop's own 1000 ms time-out. Returns whether it ran.
inline bool run_ready(event_list& loop, int timeout_ms) {
  pollfd p{loop.epoll_fd, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return false;
  loop.wait_and_dispatch();
  return true;
}

/// A non-blocking client socket connected to 127.0.0.1:`port`, with the bytes received.
struct client {
  int fd = -1;
  std::string received;  ///< everything the server sent, unparsed part first
  size_t parsed = 0;     ///< bytes of `received` already returned as frames or handshake

  explicit client(uint16_t port) : client(port, ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
  /// The same over a socket made elsewhere (another user's, one bound to another local
  /// address), connected to `to` (network byte order); takes the descriptor.
  client(uint16_t port, int socket_fd, uint32_t to = htonl(INADDR_LOOPBACK)) : fd(socket_fd) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = to;
    // Blocking connect: the listening socket's backlog completes it without the loop.
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      fd = -1;
      return;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  ~client() {
    if (fd > 0) ::close(fd);
  }
  client(const client&) = delete;
  client& operator=(const client&) = delete;

  /// Writes all bytes, running the loop whenever the socket is full.
  void send_raw(event_list& loop, const std::string& bytes) {
    size_t done = 0;
    for (int rounds = 0; done < bytes.size() && rounds < 100000; ++rounds) {
      ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n > 0) done += static_cast<size_t>(n);
      else if (n < 0 && errno != EAGAIN) return;
      else run_ready(loop, 5);
    }
  }

  /// Reads what has arrived; false once the server closed (end of input or reset).
  bool poll_input(int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return true;
    char buffer[65536];
    for (;;) {
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        received.append(buffer, static_cast<size_t>(n));
        continue;
      }
      return n < 0 && errno == EAGAIN;
    }
  }

  /// Runs the loop and reads until `done` holds, the server closed, or `rounds` passed.
  template <class Pred>
  bool pump_until(event_list& loop, Pred done, int rounds = 200) {
    for (int i = 0; i < rounds; ++i) {
      if (done()) return true;
      bool open = poll_input(0);
      if (done()) return true;
      if (!open) return false;
      run_ready(loop, 5);
      poll_input(0);
    }
    return done();
  }

  /// Completes the opening handshake; returns the server's response head ("" on failure).
  std::string handshake(event_list& loop) {
    send_raw(loop, handshake_request());
    std::string head;
    pump_until(loop, [&] { return received.find("\r\n\r\n", parsed) != std::string::npos; });
    size_t end = received.find("\r\n\r\n", parsed);
    if (end == std::string::npos) return head;
    head = received.substr(parsed, end + 4 - parsed);
    parsed = end + 4;
    return head;
  }

  /// The next complete server frame, running the loop as needed; false when none came.
  bool next_frame(event_list& loop, server_frame& out, int rounds = 200) {
    size_t used = 0;
    pump_until(loop, [&] { return (used = parse_frame(received, parsed, out)) > 0; }, rounds);
    if (used == 0) return false;
    parsed += used;
    return true;
  }

  /// Sends an abortive close (RST) instead of an orderly one.
  void reset() {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
    fd = -1;
  }
};

}  // namespace vesk::io::test_client
