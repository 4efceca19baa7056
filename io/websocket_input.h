#pragma once
// What a peer of the GUI port sends, followed by the glue only as far as it must be: the
// end of the opening handshake's request, the headers of it that the protocol library
// reads, and what the frames of an unfinished message announce (docs/websocket-glue.md).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesk::io {

/// Follows the frames a peer sends, as far as needed to know what the library holds for
/// the message not yet complete: the payload sizes that its data frames announce (the
/// library sets that much aside when it reads a frame's head).
class frame_meter {
 public:
  /// Takes the next bytes of the frame stream, split anywhere.
  void take(const uint8_t* bytes, size_t length);
  /// Payload bytes announced by the frames of the data message in progress.
  uint64_t unfinished() const { return unfinished_; }

 private:
  /// Collects a frame's head; false when the bytes ran out before it was complete.
  bool take_head(const uint8_t*& bytes, size_t& length);
  /// The head's length once its second byte is known (length form and mask).
  size_t head_length() const;
  void end_frame();

  uint8_t head_[14] = {};
  size_t have_ = 0;
  uint64_t payload_left_ = 0;
  bool data_ = false;
  uint64_t unfinished_ = 0;
};

/// Finds the end of an HTTP request (its empty line) across reads.
class request_end {
 public:
  /// How many of `length` bytes belong to the request; all of them while its end is not
  /// among them, or once it was found.
  size_t part(const char* bytes, size_t length);
  /// Whether the request's end has been found.
  bool found() const { return matched_ == 4; }

 private:
  size_t matched_ = 0;
};

/// The request line and the headers of a whole request (ending in its empty line) that
/// the protocol library reads: Host, Upgrade, Connection, Origin, Content-Length,
/// Transfer-Encoding and the Sec-WebSocket- ones, with their continuation lines, and any
/// line that is no header at all (so the library refuses it as before). A browser sends
/// many more (cookies above all, which do not depend on the port), and the library takes
/// no more than 16000 bytes of request.
std::string library_request(std::string_view request);

}  // namespace vesk::io
