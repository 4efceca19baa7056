#pragma once
// A small blocking WebSocket client (RFC 6455) for the editor stand-in: connects to a
// port on 127.0.0.1, sends masked text messages and reads the server's messages.
#include <cstdint>
#include <string>

namespace vesk::gui {

/// One message from the server.
struct ws_message {
  uint8_t opcode = 0;  ///< 1 text, 2 binary, 8 close
  std::string payload;
};

class ws_client {
 public:
  ws_client() = default;
  ~ws_client();
  ws_client(const ws_client&) = delete;
  ws_client& operator=(const ws_client&) = delete;

  /// Connects and completes the opening handshake; false (with `error` set) when either fails.
  bool connect(uint16_t port);
  /// Sends one text message.
  bool send_text(const std::string& text);
  /// Waits up to `timeout_ms` for the next whole message; false on time-out or when the
  /// connection is gone (then `closed` is set). Pings are answered on the way.
  bool next(ws_message& out, int timeout_ms);

  bool closed = false;
  std::string error;

 private:
  bool send_frame(uint8_t opcode, const std::string& payload);
  /// Reads what is there into the buffer; false when the connection ended.
  bool fill(int timeout_ms);
  /// Cuts one frame off the buffer; false when it is incomplete.
  bool take_frame(bool& fin, uint8_t& opcode, std::string& payload);

  int fd_ = -1;
  std::string in_;
  std::string partial_;    ///< a fragmented message being collected
  uint8_t partial_op_ = 0;
};

/// Standard Base64 with padding (used for the handshake key).
std::string base64_encode(const std::string& bytes);

}  // namespace vesk::gui
