#include "io/s2p.h"

#include <cstring>

namespace vesk::io {

namespace frame {

uint16_t fletcher16(const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t sum1 = 0, sum2 = 0;
  while (length > 0) {
    // 5802 bytes is the longest run whose sums cannot overflow 32 bits.
    size_t block = length < 5802 ? length : 5802;
    length -= block;
    for (size_t i = 0; i < block; ++i) {
      sum1 += p[i];
      sum2 += sum1;
    }
    p += block;
    sum1 %= 255;
    sum2 %= 255;
  }
  return static_cast<uint16_t>(sum1 | (sum2 << 8));
}

void write_header(uint8_t out[header_size], uint8_t type, uint32_t length) {
  out[0] = sync1;
  out[1] = sync2;
  out[2] = type;
  out[3] = 0;
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(length >> (8 * i));
  out[8] = 0;
  for (int i = 0; i < 8; ++i) out[8] ^= out[i];
}

}  // namespace frame

namespace {

uint32_t read_u32le(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool header_is_valid(const uint8_t* h) {
  uint8_t check = 0;
  for (int i = 0; i < 8; ++i) check ^= h[i];
  return h[1] == frame::sync2 && h[8] == check && read_u32le(h + 4) <= frame::max_payload;
}

}  // namespace

s2p::s2p() = default;

void s2p::set_source(const source& from) {
  in = from;
  in.on_new_data = [this](blob& b) { return decode(b); };
}

void s2p::send_packet(uint8_t packet_type, const void* data, uint32_t payload_length) {
  uint8_t header[frame::header_size];
  frame::write_header(header, packet_type, payload_length);
  uint16_t sum = frame::fletcher16(data, payload_length);
  uint8_t trailer[frame::trailer_size] = {static_cast<uint8_t>(sum), static_cast<uint8_t>(sum >> 8)};
  // Each write reads `out` anew: a write that loses the connection unplugs it.
  out.write(header, sizeof header);
  out.write(data, payload_length);
  out.write(trailer, sizeof trailer);
}

void s2p::reset() {
  state = decode_state::hunting;
  ++resets_;
}

size_t s2p::decode(blob& bytes) {
  if (bytes.data == nullptr) return bytes.size;
  uint8_t* p = static_cast<uint8_t*>(bytes.data);
  const size_t n = bytes.size;
  size_t pos = 0;  // start of the frame being examined; everything before is consumed
  while (pos < n) {
    if (state == decode_state::hunting) {
      const void* hit = std::memchr(p + pos, frame::sync1, n - pos);
      if (hit == nullptr) return n;
      pos = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
      state = decode_state::header;
    }
    if (state == decode_state::header) {
      if (n - pos < frame::header_size) return pos;
      if (!header_is_valid(p + pos)) {
        ++pos;
        state = decode_state::hunting;
        continue;
      }
      type = p[pos + 2];
      length = read_u32le(p + pos + 4);
      state = decode_state::payload;
    }
    // Payload: 64-bit arithmetic, so no announced length can wrap around.
    const uint64_t total = static_cast<uint64_t>(length) + frame::overhead;
    if (n - pos < total) return pos;
    uint8_t* payload = p + pos + frame::header_size;
    uint16_t sum = frame::fletcher16(payload, length);
    if (payload[length] != static_cast<uint8_t>(sum) || payload[length + 1] != static_cast<uint8_t>(sum >> 8)) {
      ++pos;
      state = decode_state::hunting;
      continue;
    }
    const uint64_t resets = resets_;
    state = decode_state::hunting;
    on_packet(type, payload, length);
    // Unplugged by the handler: these bytes belong to a link that no longer exists.
    if (resets_ != resets) return n;
    pos += static_cast<size_t>(total);
  }
  return pos;
}

}  // namespace vesk::io
