#pragma once
// Model-link frames: writing them to a sink and cutting them out of a received byte
// stream, however it is chunked. The layout is described in docs/model-link-frames.md.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "io/blob.h"
#include "io/byte_stream.h"

namespace vesk::io {

/// Fixed parts of a frame.
namespace frame {
constexpr uint8_t sync1 = 0x55;                      ///< 'U'
constexpr uint8_t sync2 = 0x41;                      ///< 'A'
constexpr size_t header_size = 9;                    ///< sync, type, 0, length, header check
constexpr size_t trailer_size = 2;                   ///< Fletcher-16
constexpr size_t overhead = header_size + trailer_size;
/// Larger announced payloads count as a bad header: a corrupt length would otherwise
/// hold every later frame back while up to 4 GiB are collected.
constexpr uint32_t max_payload = 64u << 20;

/// Frames with payloads up to this size are written in one piece; larger ones as header,
/// payload and checksum, without copying the payload.
constexpr uint32_t small_payload = 256;

/// Fletcher-16 of the payload: sum1 in the low byte (sent first), sum2 in the high byte.
uint16_t fletcher16(const void* data, size_t length);
/// Writes the 9-byte header of a frame into `out`.
void write_header(uint8_t out[header_size], uint8_t type, uint32_t length);
}  // namespace frame

/// Stream to packet: writes frames to its sink and decodes the bytes of its source.
/// Decoding costs time linear in the bytes received, whatever they are: a stream that
/// would cost more is refused (see `on_refused`).
class s2p {
 public:
  /// Gets one valid frame: its type, its payload (in the receive buffer) and length.
  using packet_handler = std::function<void(unsigned long type, void* data, unsigned long length)>;
  /// Told why the stream is no model link ("sent ..."); from then on every byte is
  /// consumed unread.
  using refusal_handler = std::function<void(const std::string& why)>;
  enum class decode_state { hunting, header, payload, refused };

  s2p();

  /// Keeps the source and installs the decoder as its handler.
  void set_source(const source& from);
  /// Writes one frame: in one write up to frame::small_payload payload bytes, else in
  /// three (header, payload, checksum).
  void send_packet(uint8_t type, const void* data, uint32_t length);
  /// The decoder: consumes what it can of the unconsumed received bytes and returns the
  /// count. An incomplete frame is left in place and examined again, extended, next time.
  size_t decode(blob& bytes);
  /// Abandons a decode in progress and starts a new stream: back to hunting. A decode
  /// running right now (this was called from a handler) consumes the rest of its bytes
  /// and stops.
  void reset();

  sink out{static_cast<sink::null_impl*>(nullptr)};  ///< where frames go
  source in;                                         ///< where bytes come from
  packet_handler on_packet;                          ///< gets every valid frame
  /// Runs when the stream starts with an HTTP request line (a web page can make a
  /// browser send one to any port), when its first valid frame does not end within
  /// `first_frame_within` bytes, or when frames that fail their checksum have cost more
  /// than `checksum_allowance` bytes of checksumming beyond the bytes consumed. Default:
  /// nothing.
  refusal_handler on_refused;
  decode_state state = decode_state::hunting;
  uint8_t type = 0;     ///< of the frame whose header was accepted
  uint32_t length = 0;  ///< payload length of that frame
  size_t first_frame_within = 1u << 20;  ///< bytes from the start of a stream
  size_t checksum_allowance = 4u << 20;  ///< bytes checksummed in vain, refilled by consumed bytes

 private:
  /// Refuses the stream: state refused, then on_refused.
  void refuse(const std::string& why);
  /// Whether the stream starts with an HTTP request line; `undecided` while the bytes
  /// could still become one.
  bool http_request(const uint8_t* p, size_t n, bool& undecided) const;

  uint64_t resets_ = 0;
  uint64_t offset_ = 0;      ///< bytes of the stream consumed before the current call
  bool framed_ = false;      ///< a valid frame has come on this stream
  uint64_t debt_ = 0;        ///< checksum bytes spent in vain, less the bytes consumed since
};

}  // namespace vesk::io
