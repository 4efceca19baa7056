#pragma once
// Test helpers of the event loop's tests: descriptor counts, pipes watched by the loop.

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <string>

#include "io/event_list.h"

namespace vesk::io::test_util {

/// Descriptors open in this process.
inline long open_fd_count() {
  namespace fs = std::filesystem;
  return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

/// A pipe whose read end the loop watches; `on_read` runs per readable event after the
/// handler has taken one byte.
struct pipe_event : event {
  int writer = -1;
  std::function<void()> on_read = [] {};
  explicit pipe_event(event_list& list) : event(list) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    fd = ends[0];
    writer = ends[1];
    on_event_in = [this] {
      char c;
      ssize_t n = ::read(fd, &c, 1);
      (void)n;
      std::function<void()> cb = on_read;
      cb();
    };
    on_event_hup = [] {};
    register_fd();
  }
  ~pipe_event() override {
    if (writer > 0) ::close(writer);
  }
  void poke() {
    ssize_t n = ::write(writer, "x", 1);
    (void)n;
  }
  void hang_up() {
    ::close(writer);
    writer = -1;
  }
};

}  // namespace vesk::io::test_util

#include <sys/socket.h>

#include <memory>

#include "io/tcp.h"

namespace vesk::io::test_util {

/// A connection object over one end of a socket pair; `peer` is the other end, blocking.
struct paired {
  std::shared_ptr<tcp> connection;
  int peer = -1;
  explicit paired(event_list& loop) : connection(std::make_shared<tcp>(loop)) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
    connection->adopt(ends[0]);
    peer = ends[1];
  }
  ~paired() {
    if (peer > 0) ::close(peer);
  }
  void write(const std::string& bytes) {
    ssize_t n = ::write(peer, bytes.data(), bytes.size());
    (void)n;
  }
  /// Everything the connection sent so far.
  std::string read_all() {
    std::string out;
    char buffer[65536];
    for (;;) {
      ssize_t n = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n <= 0) return out;
      out.append(buffer, static_cast<size_t>(n));
    }
  }
};

}  // namespace vesk::io::test_util
