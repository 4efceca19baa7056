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
