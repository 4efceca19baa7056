#pragma once
// A listening IPv4 socket that hands every accepted connection to a callback.

#include <cstdint>
#include <functional>
#include <memory>

#include "foundation/log_stream.h"
#include "io/event_list.h"
#include "io/tcp.h"

namespace vesk::io {

/// Listens on an end point (SO_REUSEADDR, backlog 100) and accepts on the event loop.
class tcp_server : public event {
 public:
  /// Opens, binds and registers the socket; throws with the system's error text.
  tcp_server(event_list& list, end_point where);
  ~tcp_server() override;

  /// The port actually bound (the kernel's choice when the end point asked for 0).
  uint16_t local_port() const;

  /// Gets each accepted connection. Default: drop it, which closes it.
  std::function<void(std::shared_ptr<tcp>)> on_new_connection;

  /// Error lines a second about connections refused while the process is out of
  /// descriptors or memory: each connection attempt would make one.
  static constexpr size_t max_refusal_lines_per_second = 20;

 private:
  void accept_pending();
  /// Frees one pending connection while the process is out of descriptors.
  void refuse_one();

  int spare_fd_ = -1;                ///< held back for refuse_one
  std::shared_ptr<char> alive_;      ///< expires with this object
  peer_lines refusals_{"tcp_server", max_refusal_lines_per_second};  ///< the lines about refused connections
};

}  // namespace vesk::io
