#include "link_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <utility>

#include "link_codec.h"
#include "signal_printer.h"

namespace linux_runtime {
namespace link {

namespace {

constexpr int64_t ms_ns = 1000000;

/// Milliseconds from `now` until `t`, for poll(): rounded up, never negative.
int until_ms(vesk::time now, vesk::time t) {
  const int64_t ns = (t - now).ns();
  if (ns <= 0) return 0;
  return static_cast<int>((ns + ms_ns - 1) / ms_ns);
}

}  // namespace

client::client(vesk::rt::model& m, uint16_t port, vesk::time start) : session_(m, start), port_(port) {
  if (::pipe2(wake_fds_, O_NONBLOCK | O_CLOEXEC) != 0) wake_fds_[0] = wake_fds_[1] = -1;
  session_.set_wake([this] { wake(); });
}

client::~client() {
  stop();
  for (int fd : wake_fds_)
    if (fd >= 0) ::close(fd);
}

void client::start(std::function<void()> on_quit) {
  if (thread_.joinable()) return;
  session_.on_quit = std::move(on_quit);
  thread_ = std::thread([this] { run(); });
}

void client::stop() {
  stop_ = true;
  wake();
  if (!thread_.joinable()) return;
  thread_.join();
  const uint64_t dropped = session_.dropped();
  if (dropped > 0)
    std::cerr << "vesk-model: the link to the back end fell behind; values of " + std::to_string(dropped) +
                     " run(s) were not sent\n";
}

void client::wake() {
  if (wake_fds_[1] < 0) return;
  const char c = 1;
  // A full pipe already says "look": the byte is not needed then.
  ssize_t n = ::write(wake_fds_[1], &c, 1);
  (void)n;
}

void client::drain_wake() {
  char buf[256];
  while (wake_fds_[0] >= 0 && ::read(wake_fds_[0], buf, sizeof buf) > 0) {
  }
}

void client::pause(int64_t ms) {
  const vesk::time end = vesk::time::now() + vesk::time::ns(ms * ms_ns);
  for (vesk::time now = vesk::time::now(); !stop_ && now < end; now = vesk::time::now()) {
    pollfd p{wake_fds_[0], POLLIN, 0};
    ::poll(&p, wake_fds_[0] >= 0 ? 1 : 0, until_ms(now, end));
    drain_wake();
  }
}

void client::run() {
  while (!stop_) {
    const int fd = connect_once();
    if (fd >= 0) {
      print_line(std::cout, "vesk-model: connected to the back end on port " + std::to_string(port_));
      serve(fd);
      ::close(fd);
      session_.reset();  // no values gather for a connection that is gone
      if (!stop_) print_line(std::cout, "vesk-model: lost the connection to the back end; reconnecting");
    }
    pause(reconnect_period_ms);
  }
}

int client::connect_once() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port_);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && errno == EINPROGRESS) {
    pollfd p[2] = {{fd, POLLOUT, 0}, {wake_fds_[0], POLLIN, 0}};
    const vesk::time end = vesk::time::now() + vesk::time::ns(reconnect_period_ms * ms_ns);
    for (vesk::time now = vesk::time::now(); !stop_ && now < end; now = vesk::time::now()) {
      if (::poll(p, wake_fds_[0] >= 0 ? 2 : 1, until_ms(now, end)) > 0 && p[0].revents != 0) break;
      drain_wake();
    }
    int error = ETIMEDOUT;
    socklen_t len = sizeof error;
    if (p[0].revents != 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) rc = 0;
  }
  if (rc != 0 || stop_) {
    ::close(fd);
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool client::flush(int fd, std::vector<uint8_t>& out, size_t& head) {
  while (head < out.size()) {
    const ssize_t n = ::send(fd, out.data() + head, out.size() - head, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    head += static_cast<size_t>(n);
  }
  out.clear();
  head = 0;
  return true;
}

bool client::receive(int fd, std::vector<uint8_t>& out, size_t head) {
  // Small reads, a few per round, each only while the answers queued so far stay below the
  // limit: a request of 11 bytes may be answered with 4 KiB.
  uint8_t buf[16384];
  for (int round = 0; round < 4 && out.size() - head < send_hard_limit; ++round) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    reader_.feed(buf, static_cast<size_t>(n),
                 [this, &out](uint8_t type, const uint8_t* p, size_t len) { session_.handle(type, p, len, out); });
  }
  return true;
}

void client::serve(int fd) {
  session_.reset();
  reader_.reset();
  std::vector<uint8_t> out;
  size_t head = 0;  // bytes of `out` already sent
  uint32_t counter = 0;
  vesk::time now = vesk::time::now();
  vesk::time next_online = now;
  vesk::time next_parameters = now + vesk::time::ns(parameter_period_ms * ms_ns);

  while (!stop_) {
    now = vesk::time::now();
    const size_t queued = out.size() - head;
    if (now >= next_online) {
      if (queued < send_hard_limit) {
        std::vector<uint8_t> payload;
        put_u32(payload, counter++);
        append_frame(out, packet::online, payload);
      }
      session_.sample_unscheduled(now);
      next_online += vesk::time::ns(online_period_ms * ms_ns);
      if (next_online <= now) next_online = now + vesk::time::ns(online_period_ms * ms_ns);
    }
    if (now >= next_parameters) {
      if (queued < send_soft_limit) session_.append_parameter_values(out);
      next_parameters = now + vesk::time::ns(parameter_period_ms * ms_ns);
    }
    if (out.size() - head < send_soft_limit) session_.take_signal_values(out);
    if (!flush(fd, out, head)) return;

    const bool reading = out.size() - head < send_hard_limit;
    pollfd p[2] = {{fd, static_cast<short>((reading ? POLLIN : 0) | (out.empty() ? 0 : POLLOUT)), 0},
                   {wake_fds_[0], POLLIN, 0}};
    const vesk::time next = next_online < next_parameters ? next_online : next_parameters;
    if (::poll(p, wake_fds_[0] >= 0 ? 2 : 1, until_ms(now, next)) < 0 && errno != EINTR) return;
    if (p[1].revents != 0) drain_wake();
    if ((p[0].revents & POLLIN) != 0 && !receive(fd, out, head)) return;
    if ((p[0].revents & (POLLERR | POLLNVAL)) != 0) return;
    if ((p[0].revents & POLLHUP) != 0 && (p[0].revents & POLLIN) == 0) return;
    // Sent bytes are dropped from the front once they are the larger part.
    if (head > 0 && head >= out.size() / 2) {
      out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(head));
      head = 0;
    }
  }
}

}  // namespace link
}  // namespace linux_runtime
