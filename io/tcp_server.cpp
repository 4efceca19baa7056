#include "io/tcp_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "foundation/bt_exception.h"
#include "foundation/log_stream.h"

namespace vesk::io {

namespace {

/// Errors of accept(2) that concern one pending connection only: skip it, take the next.
bool concerns_one_connection(int error) {
  switch (error) {
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case EPERM:  // refused by a firewall rule
      return true;
    default:
      return false;
  }
}

/// The process or the system is out of a resource; the server itself is fine.
bool is_exhaustion(int error) { return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM; }

}  // namespace

tcp_server::tcp_server(event_list& l, end_point where) : event(l), alive_(std::make_shared<char>()) {
  on_new_connection = [](std::shared_ptr<tcp>) {};
  fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw_bt_exception(std::string("tcp_server::connect: ") + std::strerror(errno));
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  int one = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0)
    throw_bt_exception(std::string("tcp_server::connect: Address-reuse failed: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(where.port);
  address.sin_addr.s_addr = where.address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0)
    throw_bt_exception("tcp_server::connect: Error binding to port " + std::to_string(where.port) + ": " +
                       std::strerror(errno));
  if (::listen(fd, 100) < 0)
    throw_bt_exception(std::string("tcp_server::connect: Error after listen... ") + std::strerror(errno));
  spare_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  on_event_in = [this] { accept_pending(); };
  register_fd();
}

tcp_server::~tcp_server() {
  alive_.reset();
  if (spare_fd_ > 0) ::close(spare_fd_);
  on_new_connection = nullptr;
}

uint16_t tcp_server::local_port() const {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (fd <= 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) < 0) return 0;
  return ntohs(address.sin_port);
}

void tcp_server::refuse_one() {
  if (spare_fd_ <= 0) return;
  ::close(spare_fd_);
  int pending = ::accept(fd, nullptr, nullptr);
  if (pending > 0) ::close(pending);
  spare_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void tcp_server::accept_pending() {
  std::weak_ptr<char> alive = alive_;
  while (fd > 0) {
    int socket_fd = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket_fd < 0) {
      int error = errno;
      if (error == EAGAIN || error == EWOULDBLOCK) return;
      if (error == EINTR || concerns_one_connection(error)) continue;
      if (is_exhaustion(error)) {
        // Level-triggered: a pending connection left in the queue would wake the loop
        // at once, forever. Refuse it (when descriptors are what is missing) and go on.
        peer_lines::cause refused(refusals_);
        log_err << "tcp_server::epoll_in: " << std::strerror(error) << ", connection refused" << std::endl;
        if (error == EMFILE || error == ENFILE) refuse_one();
        return;
      }
      throw_bt_exception(std::string("tcp_server::epoll_in: ") + std::strerror(error));
    }
    auto connection = std::make_shared<tcp>(list);
    connection->adopt(socket_fd);
    // From a copy: the callback may destroy this server.
    std::function<void(std::shared_ptr<tcp>)> handler = on_new_connection;
    handler(std::move(connection));
    if (alive.expired()) return;
  }
}

}  // namespace vesk::io
