#pragma once
// The WebSocket server of the GUI port: the protocol library does handshake and framing,
// this glue feeds it the bytes of each TCP connection and sends the bytes it produces.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "io/event_list.h"
#include "io/tcp.h"
#include "io/tcp_server.h"

namespace vesk::io {

/// What a session talks through.
class websocket_connection {
 public:
  virtual ~websocket_connection() = default;
  /// Sends one text message; before the handshake is complete it is lost silently.
  virtual void send_text(const char* data, size_t length) = 0;
  /// Sends one binary message, likewise.
  virtual void send_binary(const char* data, size_t length) = 0;
  /// The TCP connection's state: from its first writable event until it is lost.
  virtual bool is_connected() = 0;
  /// Bytes of sent messages that still wait for the socket to take them.
  virtual size_t queued_bytes() const = 0;

  std::function<void(std::string)> on_text = [](std::string) {};    ///< one call per text message
  std::function<void(std::string)> on_binary = [](std::string) {};  ///< one call per binary message
  std::function<void()> on_close = [] {};  ///< once, when the TCP connection is gone
};

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

  /// Gets every new connection (before its handshake). Default: drop it.
  std::function<void(std::shared_ptr<websocket_connection>)> on_new_connection;
  /// Asked during each opening handshake with the request's Origin header ("" when it
  /// has none); false refuses the handshake (403) and the connection closes. Default:
  /// accept every origin.
  std::function<bool(const std::string& origin)> accept_origin;

  struct library;  ///< the protocol library's endpoint, kept out of this header

 private:
  std::unique_ptr<library> lib_;
  tcp_server server_;
};

}  // namespace vesk::io
