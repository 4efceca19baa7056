#include "io/tcp.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "foundation/bt_exception.h"

namespace vesk::io {

bool is_peer_loss(int error) {
  switch (error) {
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETUNREACH:
    case ENETDOWN:
    case ENETRESET:
    case ENOTCONN:
      return true;
    default:
      return false;
  }
}

io_base::io_base(event_list& l, size_t rx_size) : event(l), rx_buffer(new uint8_t[rx_size]), rx_capacity(rx_size) {
  on_new_data = [](blob& b) { return b.size; };
  on_event_in = [this] { receive(); };
}

io_base::~io_base() = default;

void io_base::queue_copy(const void* data, size_t length) {
  send_chunk chunk;
  chunk.bytes.reset(new uint8_t[length]);
  if (length > 0) std::memcpy(chunk.bytes.get(), data, length);  // an empty write may come without data
  chunk.size = length;
  send_queue.push_back(std::move(chunk));
  queued_ += length;
}

void io_base::pop_chunk() {
  queued_ -= send_queue.front().size - send_queue.front().offset;
  send_queue.pop_front();
}

void io_base::receive() {
  if (!rx_buffer) throw_bt_exception("io_base: no_input_buffer set, but data received!");
  if (fd <= 0) return;  // closed: a standard descriptor is never read
  ssize_t n = ::read(fd, rx_buffer.get() + rx_fill, rx_capacity - rx_fill);
  if (n < 0) {
    int error = errno;
    // Spurious wake-ups and signals: nothing to read now, the loop asks again.
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) return;
    if (!is_peer_loss(error)) throw_bt_exception(std::string("io_base rcv_error:") + std::strerror(error));
    n = 0;  // the peer is gone: the same as end of input
  }
  std::shared_ptr<io_base> keep = weak_from_this().lock();
  if (n == 0) {
    close_fd();
    std::function<void()> hup = on_event_hup;
    hup();
    return;
  }
  rx_fill += static_cast<size_t>(n);
  ++reads_;
  blob view(rx_buffer.get(), rx_fill);
  // From a copy: the consumer may replace on_new_data or drop this connection.
  std::function<size_t(blob&)> consumer = on_new_data;
  size_t used = consumer(view);
  if (used > rx_fill) used = rx_fill;
  rx_fill -= used;
  if (used > 0 && rx_fill > 0) std::memmove(rx_buffer.get(), rx_buffer.get() + used, rx_fill);
  if (rx_fill == rx_capacity) {
    // A consumer waiting for a longer message left the buffer full: make room.
    size_t grown = static_cast<size_t>(static_cast<double>(rx_capacity) * 1.2);
    std::unique_ptr<uint8_t[]> bigger(new uint8_t[grown]);
    std::memcpy(bigger.get(), rx_buffer.get(), rx_fill);
    rx_buffer = std::move(bigger);
    rx_capacity = grown;
  }
}

tcp::tcp(event_list& l) : io_base(l, 131072) {
  on_connected = [] {};
  on_all_sent = [] {};
  on_disconnected = [] {};
  on_event_out = [this] { drain(); };
  on_event_hup = [this] {
    connected = false;
    std::function<void()> cb = on_disconnected;
    cb();
  };
}

tcp::~tcp() {
  on_connected = nullptr;
  on_all_sent = nullptr;
  on_disconnected = nullptr;
}

void tcp::adopt(int socket_fd) {
  fd = socket_fd;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  registration.events = EPOLLIN | EPOLLOUT;
  register_fd();
}

void tcp::drop_queue() {
  // Nothing of it can leave a closed socket.
  send_queue.clear();
  queued_ = 0;
}

void tcp::lose() {
  // The user may drop its last pointer in on_disconnected; the caller holds one.
  std::function<void()> cb = on_disconnected;
  cb();
  close_fd();
  connected = false;
  drop_queue();
}

void tcp::close() {
  if (fd <= 0) return;
  std::shared_ptr<io_base> keep = weak_from_this().lock();
  close_fd();
  connected = false;
  drop_queue();
  std::function<void()> cb = on_disconnected;
  cb();
}

void tcp::send(const void* data, size_t length) {
  if (fd <= 0) return;  // closed: the data is dropped
  if (!send_queue.empty()) {
    queue_copy(data, length);
    return;
  }
  std::shared_ptr<io_base> keep = weak_from_this().lock();
  ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
  if (n < 0) {
    int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
      queue_copy(data, length);
    } else if (is_peer_loss(error)) {
      lose();
      return;
    } else if (error == ENOTSOCK || error == EBADF) {
      return;
    } else {
      throw_bt_exception("error tcp::send [" + std::to_string(error) + "]: " + std::strerror(error));
    }
  } else if (static_cast<size_t>(n) < length) {
    queue_copy(static_cast<const uint8_t*>(data) + n, length - static_cast<size_t>(n));
  }
  // Asking for the writable event also after a complete send makes it report on_all_sent.
  modify_mask(EPOLLIN | EPOLLOUT);
}

void tcp::drain() {
  std::shared_ptr<io_base> keep = weak_from_this().lock();
  if (!connected) {
    std::function<void()> cb = on_connected;
    cb();
    if (fd <= 0) return;  // closed by its own on_connected
    connected = true;
  }
  if (send_queue.empty()) {
    modify_mask(EPOLLIN);
    std::function<void()> cb = on_all_sent;
    cb();
    return;
  }
  while (!send_queue.empty() && fd > 0) {
    send_chunk& chunk = send_queue.front();
    ssize_t n = ::send(fd, chunk.bytes.get() + chunk.offset, chunk.size - chunk.offset, MSG_NOSIGNAL);
    if (n < 0) {
      int error = errno;
      if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) break;
      lose();
      return;
    }
    chunk.offset += static_cast<size_t>(n);
    queued_ -= static_cast<size_t>(n);
    if (chunk.offset < chunk.size) break;
    pop_chunk();
  }
  modify_mask(EPOLLIN | EPOLLOUT);
}

}  // namespace vesk::io
