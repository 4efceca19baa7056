#include "foundation/keyed_hash.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace vesk {

namespace {

inline uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

/// The eight bytes at `p` as a little-endian word.
inline uint64_t word_at(const unsigned char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return w;
}

/// The four bytes at `p` as a little-endian word.
inline uint64_t half_at(const unsigned char* p) {
  uint32_t w;
  std::memcpy(&w, p, sizeof w);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  w = __builtin_bswap32(w);
#endif
  return w;
}

struct sip_state {
  uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
};

/// SipHash-c-d: `c` rounds per message word, `d` rounds at the end.
template <int c, int d>
uint64_t siphash(const hash_key& key, std::string_view bytes) {
  sip_state s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL, key.k0 ^ 0x6c7967656e657261ULL,
              key.k1 ^ 0x7465646279746573ULL};
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  const size_t whole = n & ~size_t{7};
  for (size_t i = 0; i < whole; i += 8) {
    const uint64_t m = word_at(p + i);
    s.v3 ^= m;
    for (int r = 0; r < c; ++r) s.round();
    s.v0 ^= m;
  }
  // The last word: the bytes left over and the length's low byte on top.
  uint64_t last = static_cast<uint64_t>(n) << 56;
  const size_t rest = n - whole;
  const unsigned char* t = p + whole;
  if (rest >= 4) {
    // Two words of four that overlap where rest < 8; the bytes they share are alike.
    last |= half_at(t) | (half_at(t + rest - 4) << (8 * (rest - 4)));
  } else if (rest > 0) {
    last |= static_cast<uint64_t>(t[0]) | static_cast<uint64_t>(t[rest / 2]) << (8 * (rest / 2)) |
            static_cast<uint64_t>(t[rest - 1]) << (8 * (rest - 1));
  }
  s.v3 ^= last;
  for (int r = 0; r < c; ++r) s.round();
  s.v0 ^= last;
  s.v2 ^= 0xff;
  for (int r = 0; r < d; ++r) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

/// Sixteen bytes from getrandom(); should the call be missing or fail, from random_device.
hash_key random_key() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t r = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (r > 0) {
      got += static_cast<size_t>(r);
    } else if (r < 0 && errno != EINTR) {
      break;
    }
  }
  if (got < sizeof bytes) {
    std::random_device rd;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(rd());
  }
  return hash_key{word_at(bytes), word_at(bytes + 8)};
}

}  // namespace

const hash_key& process_hash_key() {
  static const hash_key key = random_key();
  return key;
}

uint64_t siphash13(const hash_key& key, std::string_view bytes) { return siphash<1, 3>(key, bytes); }

uint64_t siphash24(const hash_key& key, std::string_view bytes) { return siphash<2, 4>(key, bytes); }

}  // namespace vesk
