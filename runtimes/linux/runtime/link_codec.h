#pragma once
// Frames of the link to the back end (docs/model-link.md): building them into an output
// buffer and cutting them out of the received byte stream, however it is chunked. The
// runtime has its own small codec, since it is built from nothing but its own folder.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace linux_runtime {
namespace link {

/// Packet types, back end to model and model to back end.
namespace packet {
constexpr uint8_t connect = 0;
constexpr uint8_t request_signal_defs = 1;
constexpr uint8_t request_parameter_defs = 2;
constexpr uint8_t set_daq_list = 3;
constexpr uint8_t set_paq_list = 4;
constexpr uint8_t parameter_values = 5;
constexpr uint8_t command = 6;
constexpr uint8_t online = 16;
constexpr uint8_t signal_defs = 17;
constexpr uint8_t parameter_defs = 18;
constexpr uint8_t daq_list_ack = 19;
constexpr uint8_t paq_list_ack = 20;
constexpr uint8_t daq_data = 32;
constexpr uint8_t paq_data = 33;
}  // namespace packet

constexpr size_t header_size = 9;   ///< 'U', 'A', type, 0, u32 length, header check
constexpr size_t trailer_size = 2;  ///< Fletcher-16 of the payload
/// Larger announced payloads count as a bad header, so a corrupt length cannot make the
/// reader collect up to 4 GiB.
constexpr uint32_t max_payload = 64u << 20;

/// Fletcher-16 of `n` bytes: sum1 in the low byte (sent first), sum2 in the high byte.
uint16_t fletcher16(const uint8_t* p, size_t n);

/// Appends little-endian integers.
void put_u16(std::vector<uint8_t>& out, uint16_t v);
void put_u32(std::vector<uint8_t>& out, uint32_t v);
void put_u64(std::vector<uint8_t>& out, uint64_t v);
/// Reads a little-endian u32.
uint32_t get_u32(const uint8_t* p);

/// Appends one whole frame of `type` with the payload `p`, `n` bytes (n <= max_payload).
void append_frame(std::vector<uint8_t>& out, uint8_t type, const uint8_t* p, size_t n);
inline void append_frame(std::vector<uint8_t>& out, uint8_t type, const std::vector<uint8_t>& payload) {
  append_frame(out, type, payload.data(), payload.size());
}

/// Cuts valid frames out of received bytes. Garbage and damaged frames are skipped: the
/// reader resynchronises one byte after the start of a bad frame.
class frame_reader {
 public:
  /// Gets one valid frame: type, payload and its length (valid during the call only).
  using handler = std::function<void(uint8_t type, const uint8_t* payload, size_t length)>;

  /// Adds received bytes and hands every complete valid frame to `on_packet`.
  void feed(const uint8_t* data, size_t n, const handler& on_packet);
  /// Forgets everything held (a new connection starts afresh).
  void reset() { held_.clear(); }
  /// Bytes held back: the start of a frame still incomplete.
  size_t held() const { return held_.size(); }

 private:
  std::vector<uint8_t> held_;
};

}  // namespace link
}  // namespace linux_runtime
