#include "cli/output_relay.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace vesk {

namespace {

/// An unended line is passed on unfiltered once it grows this long, so that a script
/// writing without line ends cannot make us hold all of it.
constexpr size_t longest_line = 1 << 16;

/// Bytes read of one stream per drain: the most a pipe holds (its default bound), so that
/// a writer faster than we pass its text on (a runaway loop, a process the script left
/// behind) cannot keep a drain from returning to the wait, and to the stop requests.
constexpr size_t drain_bytes = 1 << 20;

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

output_relay::output_relay(line_filter filter) : filter_(std::move(filter)) {
  for (int i = 0; i < 2; ++i) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      const std::string reason = std::strerror(errno);
      close_fd(read_[0]);
      close_fd(write_[0]);
      throw std::runtime_error("Cannot make a pipe for the output of the build script: " + reason);
    }
    read_[i] = ends[0];
    write_[i] = ends[1];
    // Only our end waits for nothing: the script's writes block as on a terminal.
    ::fcntl(read_[i], F_SETFL, ::fcntl(read_[i], F_GETFL) | O_NONBLOCK);
  }
}

output_relay::~output_relay() {
  for (int i = 0; i < 2; ++i) {
    close_fd(write_[i]);
    close_fd(read_[i]);
  }
}

void output_relay::attach_child() const {
  // dup2 leaves the copies open across the exec; the originals close with it.
  ::dup2(write_[0], 1);
  ::dup2(write_[1], 2);
}

void output_relay::close_child_ends() {
  close_fd(write_[0]);
  close_fd(write_[1]);
}

void output_relay::drain() {
  char chunk[16384];
  for (int i = 0; i < 2; ++i) {
    for (size_t taken = 0; read_[i] >= 0 && taken < drain_bytes;) {
      const ssize_t n = ::read(read_[i], chunk, sizeof chunk);
      if (n > 0) {
        taken += static_cast<size_t>(n);
        pending_[i].append(chunk, static_cast<size_t>(n));
        pass_on(i, false);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || errno != EAGAIN) {
        pass_on(i, true);  // the end of the stream
        close_fd(read_[i]);
      }
      break;
    }
  }
}

void output_relay::finish() {
  drain();
  for (int i = 0; i < 2; ++i) {
    pass_on(i, true);
    close_fd(read_[i]);
  }
}

void output_relay::pass_on(int i, bool all) {
  std::ostream& out = i == 0 ? std::cout : std::cerr;
  std::string& text = pending_[i];
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    out << filter_(text.substr(start, end - start)) << '\n';
  text.erase(0, start);
  if (all && !text.empty()) {
    // The stream's last line, without its line end: a line all the same.
    out << filter_(text);
    text.clear();
  } else if (text.size() >= longest_line) {
    out << text;
    text.clear();
  }
  out.flush();
}

}  // namespace vesk
