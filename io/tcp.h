#pragma once
// Non-blocking IPv4 TCP connections on the event loop: a growing receive buffer and a
// send queue that holds what the socket would not take yet.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "io/blob.h"
#include "io/event_list.h"

namespace vesk::io {

/// An IPv4 address (network byte order) and a port (host order); address 0 = all interfaces.
struct end_point {
  uint32_t address = 0;
  uint16_t port = 0;
};

/// A descriptor with a receive buffer and a send queue. Held by shared pointer, so that
/// handlers can keep it alive while callbacks that may drop it run.
class io_base : public event, public std::enable_shared_from_this<io_base> {
 public:
  /// Allocates the receive buffer with `rx_size` bytes and installs the receive handler.
  io_base(event_list& list, size_t rx_size);
  ~io_base() override;

  /// Sends at once or queues a copy; never blocks.
  virtual void send(const void* data, size_t length) = 0;

  /// Gets every read as a view of all unconsumed bytes; returns how many it consumed
  /// (the rest is offered again, extended, at the next read). Default: drop everything.
  std::function<size_t(blob&)> on_new_data;

  /// One queued piece of outgoing data.
  struct send_chunk {
    std::unique_ptr<uint8_t[]> bytes;  ///< a copy of the data
    size_t size = 0;                   ///< bytes in `bytes`
    size_t offset = 0;                 ///< bytes already sent
  };

  std::unique_ptr<uint8_t[]> rx_buffer;  ///< received, not yet consumed bytes at the front
  size_t rx_capacity = 0;                ///< size of rx_buffer
  size_t rx_fill = 0;                    ///< bytes held
  std::deque<send_chunk> send_queue;     ///< oldest first

  /// Bytes queued and not yet taken by the socket; lets a producer notice a reader that
  /// falls behind before memory grows without bound.
  size_t queued_bytes() const { return queued_; }
  /// Reads that delivered bytes so far. Whatever one read delivers was sent by the peer
  /// before anything written while it is being consumed, so this tells a reply from
  /// bytes sent ahead of the request.
  uint64_t reads() const { return reads_; }

 protected:
  /// Queues a copy of `length` bytes.
  void queue_copy(const void* data, size_t length);
  /// One read into the buffer and its hand-over to on_new_data (the receive handler).
  void receive();
  /// Drops the front chunk of the send queue.
  void pop_chunk();

  size_t queued_ = 0;  ///< sum of the unsent bytes in send_queue
  uint64_t reads_ = 0;  ///< reads that delivered bytes
};

/// One connected socket. Made by tcp_server; users set the callbacks after construction.
class tcp : public io_base {
 public:
  /// A connection object without a descriptor (131072-byte receive buffer).
  explicit tcp(event_list& list);
  ~tcp() override;

  /// Takes an open socket: non-blocking, TCP_NODELAY, registered for input and output.
  void adopt(int socket_fd);

  void send(const void* data, size_t length) override;

  /// Closes from our side: the descriptor is closed and on_disconnected runs (once).
  void close();

  bool connected = false;                ///< true from the first writable event until lost
  std::function<void()> on_connected;    ///< first writable event
  std::function<void()> on_all_sent;     ///< the send queue was seen empty
  std::function<void()> on_disconnected; ///< the connection was lost or closed

 private:
  void drain();
  void lose();
  /// Frees what waits to be sent once the socket is closed.
  void drop_queue();
};

/// Whether a socket error means the peer or the path to it is gone (not a program error).
bool is_peer_loss(int error);

}  // namespace vesk::io
