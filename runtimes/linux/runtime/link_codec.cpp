#include "link_codec.h"

#include <cstring>

namespace linux_runtime {
namespace link {

namespace {

constexpr uint8_t sync1 = 0x55;  // 'U'
constexpr uint8_t sync2 = 0x41;  // 'A'

bool header_is_valid(const uint8_t* h) {
  uint8_t check = 0;
  for (int i = 0; i < 8; ++i) check ^= h[i];
  return h[1] == sync2 && h[8] == check && get_u32(h + 4) <= max_payload;
}

}  // namespace

uint16_t fletcher16(const uint8_t* p, size_t n) {
  uint32_t sum1 = 0, sum2 = 0;
  while (n > 0) {
    // 5802 bytes is the longest run whose sums cannot overflow 32 bits.
    const size_t block = n < 5802 ? n : 5802;
    for (size_t i = 0; i < block; ++i) {
      sum1 += p[i];
      sum2 += sum1;
    }
    p += block;
    n -= block;
    sum1 %= 255;
    sum2 %= 255;
  }
  return static_cast<uint16_t>(sum1 | (sum2 << 8));
}

void put_u16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_u64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void append_frame(std::vector<uint8_t>& out, uint8_t type, const uint8_t* p, size_t n) {
  const size_t at = out.size();
  out.push_back(sync1);
  out.push_back(sync2);
  out.push_back(type);
  out.push_back(0);
  put_u32(out, static_cast<uint32_t>(n));
  uint8_t check = 0;
  for (size_t i = at; i < at + 8; ++i) check ^= out[i];
  out.push_back(check);
  if (n > 0) out.insert(out.end(), p, p + n);
  put_u16(out, fletcher16(p, n));
}

void frame_reader::feed(const uint8_t* data, size_t n, const handler& on_packet) {
  if (n > 0) held_.insert(held_.end(), data, data + n);
  const uint8_t* b = held_.data();
  const size_t size = held_.size();
  size_t pos = 0;  // start of the frame being examined; everything before is consumed
  while (pos < size) {
    const void* hit = std::memchr(b + pos, sync1, size - pos);
    if (hit == nullptr) {
      pos = size;
      break;
    }
    pos = static_cast<size_t>(static_cast<const uint8_t*>(hit) - b);
    if (size - pos < header_size) break;
    if (!header_is_valid(b + pos)) {
      ++pos;
      continue;
    }
    const size_t length = get_u32(b + pos + 4);  // at most max_payload: no overflow
    if (size - pos < length + header_size + trailer_size) break;
    const uint8_t* payload = b + pos + header_size;
    const uint16_t sum = fletcher16(payload, length);
    if (payload[length] != static_cast<uint8_t>(sum) || payload[length + 1] != static_cast<uint8_t>(sum >> 8)) {
      ++pos;
      continue;
    }
    on_packet(b[pos + 2], payload, length);
    pos += length + header_size + trailer_size;
  }
  if (pos > 0) held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(pos));
}

}  // namespace link
}  // namespace linux_runtime
