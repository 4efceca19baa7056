#pragma once
// The hash of every table keyed by names that a file or a peer chooses. A hash of a fixed,
// public key lets anyone make many names of one hash and turn each such table into a list
// searched in quadratic time; this one is keyed at random at each start (SipHash), so no set
// of names written beforehand costs more than linear time.

#include <cstddef>
#include <cstdint>
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

/// SipHash-1-3 of `bytes` under `key`: the tables' hash, fast on short names.
uint64_t siphash13(const hash_key& key, std::string_view bytes);
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
