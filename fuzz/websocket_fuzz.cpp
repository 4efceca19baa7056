// libFuzzer target over the WebSocket glue, fed raw client bytes (handshake and frames)
// in chunks drawn from the input. What it checks besides the sanitizers: every feed
// empties the receive buffer and returns, and the server's output stays within the
// input plus a fixed allowance (answers, close frames, pongs), so nothing grows without
// bound and nothing loops on bytes the protocol library refused.

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "foundation/log_stream.h"
#include "io/websocket.h"

namespace {

struct harness {
  vesk::io::event_list loop;
  vesk::io::websocket_server server{loop, vesk::io::end_point{htonl(INADDR_LOOPBACK), 0}};
  std::shared_ptr<vesk::io::websocket_connection> current;
  size_t messages = 0;
  harness() {
    server.memory_limit = 1 << 18;  // small, so that announced messages make it close connections
    server.on_new_connection = [this](std::shared_ptr<vesk::io::websocket_connection> c) {
      c->on_text = [this](std::string) { ++messages; };
      c->on_binary = [this](std::string) { ++messages; };
      current = std::move(c);
    };
  }
};

size_t drain(int fd) {
  size_t total = 0;
  char buffer[65536];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) total += static_cast<size_t>(n);
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (log_stream* s : {&log_debug, &log_info, &log_warn, &log_err}) s->sink = [](const char*, size_t) {};
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static harness h;
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return 0;
  auto connection = std::make_shared<vesk::io::tcp>(h.loop);
  connection->adopt(ends[0]);
  h.server.accept_websocket(connection);
  size_t out = drain(ends[1]);
  uint32_t state = size > 0 ? data[0] | 1u : 1u;
  std::vector<char> chunk;
  for (size_t pos = 0; pos < size;) {
    state = state * 1103515245u + 12345u;
    size_t n = std::min<size_t>(size - pos, 1 + (state >> 16) % 200);
    chunk.assign(data + pos, data + pos + n);
    pos += n;
    vesk::blob view(chunk.data(), chunk.size());
    std::function<size_t(vesk::blob&)> feed = connection->on_new_data;
    if (feed(view) != n) {
      std::fprintf(stderr, "invariant violated: a feed left bytes in the receive buffer\n");
      std::abort();
    }
    out += drain(ends[1]);
  }
  if (out > size + 4096 || !connection->send_queue.empty()) {
    std::fprintf(stderr, "invariant violated: %zu bytes out for %zu in, %zu chunks queued\n", out, size,
                 connection->send_queue.size());
    std::abort();
  }
  h.current.reset();
  // A connection still in its handshake belongs to the server until its socket closes.
  connection->close();
  connection.reset();
  ::close(ends[1]);
  // The loop never waits here; drop the mark the removals left.
  h.loop.changed = false;
  return 0;
}
