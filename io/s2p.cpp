#include "io/s2p.h"

#include <cstring>
#include <string>

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
  if (payload_length <= frame::small_payload) {
    // Requests and acknowledgements: one write instead of three system calls.
    uint8_t whole[frame::overhead + frame::small_payload];
    std::memcpy(whole, header, sizeof header);
    if (payload_length > 0) std::memcpy(whole + sizeof header, data, payload_length);
    std::memcpy(whole + sizeof header + payload_length, trailer, sizeof trailer);
    out.write(whole, frame::overhead + payload_length);
    return;
  }
  // Each write reads `out` anew: a write that loses the connection unplugs it.
  out.write(header, sizeof header);
  out.write(data, payload_length);
  out.write(trailer, sizeof trailer);
}

void s2p::reset() {
  state = decode_state::hunting;
  offset_ = 0;
  framed_ = false;
  debt_ = 0;
  ++resets_;
}

void s2p::refuse(const std::string& why) {
  state = decode_state::refused;
  if (on_refused) on_refused(why);
}

bool s2p::http_request(const uint8_t* p, size_t n, bool& undecided) const {
  // The methods a browser can be made to send; a model's first byte is 0x55, which
  // starts none of them.
  static const char* const methods[] = {"GET ",     "POST ",    "HEAD ",  "PUT ",  "DELETE ",
                                        "OPTIONS ", "CONNECT ", "TRACE ", "PATCH "};
  undecided = false;
  for (const char* m : methods) {
    const size_t size = std::strlen(m);
    if (std::memcmp(p, m, n < size ? n : size) != 0) continue;
    if (n >= size) return true;
    undecided = true;
  }
  return false;
}

size_t s2p::decode(blob& bytes) {
  if (bytes.data == nullptr) return bytes.size;
  uint8_t* p = static_cast<uint8_t*>(bytes.data);
  const size_t n = bytes.size;
  const uint64_t resets = resets_;
  size_t pos = 0;  // start of the frame being examined; everything before is consumed
  // Consumed bytes pay back checksum work spent in vain, so that spending stays linear
  // in the bytes received.
  const auto consume_to = [&](size_t to) {
    const uint64_t d = to - pos;
    debt_ = debt_ > d ? debt_ - d : 0;
    pos = to;
  };
  // A handler that reset the decoder ended this stream: its bytes are nobody's now.
  const auto finish = [&](size_t used) {
    if (resets_ != resets) return n;
    offset_ += used;
    return used;
  };
  // Before its first frame a stream may only use so many bytes (skipped or held).
  const auto too_far = [&](uint64_t end) {
    if (framed_ || offset_ + end <= first_frame_within) return false;
    refuse("sent no frame within its first " + std::to_string(first_frame_within) + " bytes");
    return true;
  };
  if (state == decode_state::hunting && offset_ == 0 && !framed_ && n > 0) {
    bool undecided = false;
    if (http_request(p, n, undecided)) {
      refuse("sent an HTTP request");
      return finish(n);
    }
    if (undecided) return 0;
  }
  while (pos < n) {
    if (resets_ != resets) return n;
    if (state == decode_state::refused) {
      consume_to(n);
      break;
    }
    if (state == decode_state::hunting) {
      const void* hit = std::memchr(p + pos, frame::sync1, n - pos);
      consume_to(hit == nullptr ? n : static_cast<size_t>(static_cast<const uint8_t*>(hit) - p));
      if (too_far(pos)) continue;
      if (hit == nullptr) break;
      state = decode_state::header;
    }
    if (state == decode_state::header) {
      if (n - pos < frame::header_size) break;
      if (!header_is_valid(p + pos)) {
        consume_to(pos + 1);
        state = decode_state::hunting;
        continue;
      }
      type = p[pos + 2];
      length = read_u32le(p + pos + 4);
      state = decode_state::payload;
    }
    // Payload: 64-bit arithmetic, so no announced length can wrap around.
    const uint64_t total = static_cast<uint64_t>(length) + frame::overhead;
    if (too_far(pos + total)) continue;
    if (n - pos < total) break;
    uint8_t* payload = p + pos + frame::header_size;
    uint16_t sum = frame::fletcher16(payload, length);
    if (payload[length] != static_cast<uint8_t>(sum) || payload[length + 1] != static_cast<uint8_t>(sum >> 8)) {
      debt_ += length;
      consume_to(pos + 1);
      state = decode_state::hunting;
      if (debt_ > checksum_allowance) {
        refuse("sent frames failing their checksum that cost more than " + std::to_string(checksum_allowance) +
               " bytes of checksums beyond the bytes it sent");
      }
      continue;
    }
    state = decode_state::hunting;
    framed_ = true;
    on_packet(type, payload, length);
    if (resets_ != resets) return n;
    consume_to(pos + static_cast<size_t>(total));
  }
  return finish(pos);
}

}  // namespace vesk::io
