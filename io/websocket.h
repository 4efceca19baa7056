#pragma once
// The WebSocket server of the GUI port: the protocol library does handshake and framing,
// this glue feeds it the bytes of each TCP connection and sends the bytes it produces.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/log_stream.h"
#include "io/event_list.h"
#include "io/tcp.h"
#include "io/tcp_server.h"
#include "io/timer.h"

namespace vesk::io {

/// What a session talks through.
class websocket_connection {
 public:
  virtual ~websocket_connection() = default;
  /// Sends one text message; before the handshake is complete it is lost silently.
  virtual void send_text(const char* data, size_t length) = 0;
  /// Sends one binary message, likewise.
  virtual void send_binary(const char* data, size_t length) = 0;
  /// Whether the TCP connection is still open (from the hand-over until it is lost or closed).
  virtual bool is_connected() = 0;
  /// Bytes of sent messages that still wait for the socket to take them.
  virtual size_t queued_bytes() const = 0;
  /// Starts the closing handshake with `code` and `reason`. The connection keeps itself
  /// alive after its user let go and closes the socket when the peer answers, or after
  /// close_wait_ms when it does not.
  virtual void close(uint16_t code, const std::string& reason) = 0;
  /// Closes the socket at once and drops what waits to be sent: for a peer that reads
  /// nothing, to which not even a close frame would get through. on_close runs.
  virtual void drop() = 0;

  /// How long a closing handshake that we started waits for the peer's answer.
  static constexpr unsigned close_wait_ms = 2000;

  /// Bytes that may wait to be sent before the peer counts as not reading (0: no bound).
  /// Everything queued counts, the library's own frames (pongs, close frames) too, so a
  /// peer cannot grow the queue by making the library answer it. Passing the bound runs
  /// on_overflow and then drop().
  size_t queue_limit = 0;

  std::function<void(std::string)> on_text = [](std::string) {};    ///< one call per text message
  std::function<void(std::string)> on_binary = [](std::string) {};  ///< one call per binary message
  std::function<void()> on_close = [] {};  ///< once, when the TCP connection is gone
  /// Once, when queue_limit is passed, with the bytes waiting; on_close follows.
  std::function<void(size_t)> on_overflow = [](size_t) {};
  /// What the log lines that its input causes count against: the server's own budget of
  /// handshake lines until its user points it at another (which must outlive it).
  peer_lines* lines = nullptr;
};

class websocket_connection_impl;

/// Accepts TCP connections on an end point and makes a WebSocket connection of each.
class websocket_server {
 public:
  /// Builds the protocol endpoint, then the TCP server (whose errors pass through).
  websocket_server(event_list& list, end_point where);
  virtual ~websocket_server();

  /// Wraps an accepted TCP connection and hands the result to on_new_connection.
  void accept_websocket(std::shared_ptr<tcp> connection);
  /// The port actually bound.
  uint16_t local_port() const;

  /// Gets every connection whose opening handshake was accepted; a refused or failed one
  /// never gets here. Default: drop it.
  std::function<void(std::shared_ptr<websocket_connection>)> on_new_connection;
  /// Asked during each opening handshake with the request's Origin header ("" when it
  /// has none); false refuses the handshake (403) and the connection closes. Default:
  /// accept every origin.
  std::function<bool(const std::string& origin)> accept_origin;
  /// Asked once for each accepted TCP connection, before anything of it is read; false
  /// closes it at once, so that it never reaches a handshake nor the list of those in
  /// progress. What it logs counts against the handshakes' lines. Default: accept it.
  std::function<bool(const tcp& connection)> accept_peer;

  /// What all connections may hold together: handshakes in progress, messages not yet
  /// complete (the size their frames announce, which the library sets aside at once) and
  /// bytes waiting to be sent, lingering connections included. Past it, connections are
  /// dropped, the largest first; the newest one handed out that its user has neither closed
  /// nor dropped (the editor's session) goes last. One warning per round names the bound.
  size_t memory_limit = 128u << 20;

  /// How long a connection may take for its opening handshake: between one and two of these.
  static constexpr unsigned handshake_wait_ms = 10000;
  /// Connections that may be in their opening handshake at once; a further one closes the
  /// oldest, so half-sent handshakes can neither pile up nor keep the editor out.
  static constexpr size_t max_pending_handshakes = 64;
  /// Bytes a connection may send before its handshake is complete: the request line and
  /// headers, as much as browsers send with the cookies of every local web tool (a request
  /// with a body is refused by the library with 413). Past it the request is answered 431.
  static constexpr size_t max_handshake_bytes = 32u << 10;
  /// Log lines within one second that connections cause before their handshake is
  /// accepted (requests refused with 431, origins refused, a full list of handshakes, the
  /// library's own errors): any local process may connect as fast as it likes. Past it,
  /// requests are answered all the same, their lines counted (peer_lines).
  static constexpr size_t max_handshake_lines_per_second = 20;
  /// The largest message a peer may send (the library fails the connection with 1009
  /// past it); an editor's largest file save must fit.
  static constexpr size_t max_message_bytes = 32000000;
  /// Only this version of the protocol is spoken (RFC 6455); the drafts before it have
  /// no message bound, so their handshakes are refused (426) and the socket closed.
  static constexpr int protocol_version = 13;

  struct library;  ///< the protocol library's endpoint and the connections still in their handshake

 private:
  /// Hands a connection whose handshake was just accepted to on_new_connection.
  void hand_over(websocket_connection_impl* pending);
  /// Forgets a connection that ended during its handshake.
  void forget(websocket_connection_impl* pending);
  /// Closes the connections that were already waiting at the previous tick.
  void expire_handshakes();

  std::shared_ptr<library> lib_;  ///< shared with the connections, which may outlive the server
  tcp_server server_;
  timer handshake_timer_;
  bool noted_full_ = false;  ///< the debug line on a full handshake list was written since it last had room
};

}  // namespace vesk::io
