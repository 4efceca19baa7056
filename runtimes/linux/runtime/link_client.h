#pragma once
// The model's end of the link to the back end: a thread that connects as a TCP client to
// 127.0.0.1:<port>, reconnects every second while the back end is away, keeps the back
// end's watchdog fed with an online counter, and passes packets between the socket and
// the protocol session. The rasters never wait for it: they hand their values to the
// session, which wakes this thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include <vesk/rt/model.h>
#include <vesk/time.h>

#include "link_codec.h"
#include "link_session.h"

namespace linux_runtime {
namespace link {

constexpr int64_t online_period_ms = 500;     ///< the back end's watchdog allows 2500 ms
constexpr int64_t parameter_period_ms = 1000; ///< subscribed parameters are resent this often
constexpr int64_t reconnect_period_ms = 1000; ///< wait between connection attempts
/// Signal and parameter values are framed only while less than this waits to be sent,
/// so a slow back end sees fewer values instead of an ever longer queue.
constexpr size_t send_soft_limit = 256 * 1024;
/// Above this, nothing more is read from the back end until the queue drains.
constexpr size_t send_hard_limit = 4 * 1024 * 1024;

class client {
 public:
  /// `start` is time 0 of the value time stamps.
  client(vesk::rt::model& m, uint16_t port, vesk::time start);
  ~client();
  client(const client&) = delete;
  client& operator=(const client&) = delete;

  /// Starts the link thread; `on_quit` runs in it when the back end sends "quit".
  void start(std::function<void()> on_quit);
  /// Ends the link thread and closes the connection.
  void stop();
  /// Raster threads: raster `raster` finished a run due (or fired) at `when`.
  void tick(size_t raster, vesk::time when) { session_.tick(raster, when); }

 private:
  void run();
  /// A connected socket, or -1 (refused, timed out or stopping).
  int connect_once();
  /// Serves one connection until it is lost or the link stops.
  void serve(int fd);
  /// Sends what the socket takes now; false when the connection is lost.
  bool flush(int fd, std::vector<uint8_t>& out, size_t& head);
  /// Reads what has arrived and handles it, appending the answers to `out` (of which
  /// `head` bytes are sent); false when the connection is lost.
  bool receive(int fd, std::vector<uint8_t>& out, size_t head);
  /// Sleeps up to `ms` or until stop().
  void pause(int64_t ms);
  void wake();
  void drain_wake();

  session session_;
  frame_reader reader_;
  const uint16_t port_;
  int wake_fds_[2] = {-1, -1};  ///< self-pipe: readable when the thread should look
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace link
}  // namespace linux_runtime
