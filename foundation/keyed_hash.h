#pragma once
// The hash of every table keyed by names that a file or a peer chooses. A hash of a fixed,
// public key lets anyone make many names of one hash and turn each such table into a list
// searched in quadratic time; this one is keyed at random at each start (SipHash), so no set
// of names written beforehand costs more than linear time.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vesk {

/// A 128-bit SipHash key, its two halves as little-endian words.
struct hash_key {
  uint64_t k0 = 0;
  uint64_t k1 = 0;
};

/// The key of this process, drawn from the system's random source at first use and kept
/// until the process ends.
const hash_key& process_hash_key();

namespace sip {

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

inline uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

/// The four words SipHash mixes.
struct state {
  uint64_t v0, v1, v2, v3;

  /// One SipRound.
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

/// SipHash-c-d: `c` rounds per message word, `d` rounds at the end. Here, so that a table's
/// hash of a short name is inlined where it is looked up, not called.
template <int c, int d>
inline uint64_t hash(const hash_key& key, std::string_view bytes) {
  state s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL, key.k0 ^ 0x6c7967656e657261ULL,
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

}  // namespace sip

/// SipHash-1-3 of `bytes` under `key`: the tables' hash, fast on short names.
inline uint64_t siphash13(const hash_key& key, std::string_view bytes) { return sip::hash<1, 3>(key, bytes); }
/// SipHash-2-4 of `bytes` under `key`: the reference form, whose published values check the
/// rounds both forms share.
uint64_t siphash24(const hash_key& key, std::string_view bytes);

/// The hash of a name under the process's key.
inline uint64_t name_hash(std::string_view name) { return siphash13(process_hash_key(), name); }

/// The Hash argument of an unordered map or set keyed by names (std::string or
/// std::string_view): the name's hash under the process's key.
struct name_hasher {
  size_t operator()(std::string_view name) const { return static_cast<size_t>(name_hash(name)); }
};

}  // namespace vesk
