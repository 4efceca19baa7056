#pragma once
// Positions of text keys in a sequence its user holds, found by their hash: the pin lists
// of a view are ordered maps searched linearly, and a view of many pins looks each name up
// in one of these instead, at no allocation and no copy of a key per entry. The keys are
// names a file or a peer chooses, so they are hashed under the process's random key.

#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/keyed_hash.h"

namespace vesk {

/// Maps each key of a sequence to the position of its first entry. It holds no key: the
/// key at a recorded position is read through `key_at`, so the sequence may move in memory
/// and grow, but an entry once recorded keeps its key while the index is used.
class key_index {
 public:
  /// Reads the key at a position: a callable of at most two words that copies as bytes (a
  /// lambda holding a reference or `this`), kept in place and called through one pointer,
  /// without the allocation and the emptiness check of a std::function.
  class key_at {
   public:
    template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, key_at>>>
    key_at(F f) : call_([](const void* f, size_t i) { return std::string_view((*static_cast<const F*>(f))(i)); }) {
      static_assert(sizeof(F) <= sizeof(held_) && alignof(F) <= alignof(void*) && std::is_trivially_copyable_v<F>,
                    "key_at holds a small callable that copies as bytes");
      new (held_) F(f);
    }
    /// The key at `pos`.
    std::string_view operator()(size_t pos) const { return call_(held_, pos); }

   private:
    std::string_view (*call_)(const void*, size_t);
    alignas(void*) unsigned char held_[2 * sizeof(void*)];
  };
  /// What find gives for a key without a position.
  static constexpr size_t none = static_cast<size_t>(-1);

  /// An empty index over the sequence `key_of` reads; room for `expected` keys is made.
  /// `key` is the hash's key: the process's, unless a benchmark shows another.
  explicit key_index(key_at key_of, size_t expected = 0, const hash_key& key = process_hash_key());
  /// The position recorded for `key`, or none.
  size_t find(std::string_view key) const;
  /// The position recorded for `key`, and false; for a key without one, `pos` is recorded
  /// and true given: the entry at `pos` must hold the key before the index is used again.
  /// Positions are below 2^32 - 1 (std::length_error for others), as those of every
  /// sequence a parse may build are.
  std::pair<size_t, bool> insert(std::string_view key, size_t pos);

 private:
  /// Eight bytes, so that more of a large index stays in the cache: a view of many pins
  /// spends its time on the first look at each slot.
  struct slot {
    uint32_t hash = 0;       ///< the low bits of the key's hash
    uint32_t pos = free_pos;
  };
  static constexpr uint32_t free_pos = UINT32_MAX;
  /// Up to this many keys are kept in a list searched from the front, not hashed: most
  /// objects have a few members, where comparing a few names costs less than hashing one,
  /// and the bound keeps every search short whatever the names.
  static constexpr size_t few = 4;
  /// The slot that holds `key`, else the free one where it would go.
  size_t slot_of(std::string_view key, uint32_t hash) const;
  /// The list entry that holds `key`, else used_.
  size_t listed(std::string_view key) const;
  /// Makes room for `keys` keys with at most half the slots used; the listed keys move to
  /// the slots at the first call.
  void grow(size_t keys);

  /// The low 32 bits of the hash of `key`, all that a slot keeps of it.
  uint32_t hash_of(std::string_view key) const { return static_cast<uint32_t>(siphash13(hash_key_, key)); }

  key_at key_of_;
  hash_key hash_key_;
  uint32_t few_[few] = {};   ///< while slots_ is empty: the positions of the used_ keys
  std::vector<slot> slots_;  ///< none, or a power of two of them
  size_t used_ = 0;
};

}  // namespace vesk
