#include "foundation/key_index.h"

#include <stdexcept>
#include <string>

namespace vesk {

key_index::key_index(key_at key_of, size_t expected, const hash_key& key)
    : key_of_(std::move(key_of)), hash_key_(key) {
  if (expected > few) grow(expected);
}

size_t key_index::slot_of(std::string_view key, uint32_t hash) const {
  // Linear probing; half the slots or more are free, so a run ends soon.
  const size_t mask = slots_.size() - 1;
  for (size_t s = hash & mask;; s = (s + 1) & mask) {
    const slot& e = slots_[s];
    if (e.pos == free_pos || (e.hash == hash && key_of_(e.pos) == key)) return s;
  }
}

size_t key_index::listed(std::string_view key) const {
  size_t i = 0;
  while (i < used_ && key_of_(few_[i]) != key) ++i;
  return i;
}

size_t key_index::find(std::string_view key) const {
  if (slots_.empty()) {
    const size_t i = listed(key);
    return i < used_ ? few_[i] : none;
  }
  const uint32_t pos = slots_[slot_of(key, hash_of(key))].pos;
  return pos == free_pos ? none : pos;
}

std::pair<size_t, bool> key_index::insert(std::string_view key, size_t pos) {
  if (pos >= free_pos) throw std::length_error("key_index: position " + std::to_string(pos) + " past its bound");
  if (slots_.empty()) {
    const size_t i = listed(key);
    if (i < used_) return {few_[i], false};
    if (used_ < few) {
      few_[used_++] = static_cast<uint32_t>(pos);
      return {pos, true};
    }
  }
  grow(used_ + 1);
  const uint32_t hash = hash_of(key);
  slot& e = slots_[slot_of(key, hash)];
  if (e.pos != free_pos) return {e.pos, false};
  e = slot{hash, static_cast<uint32_t>(pos)};
  ++used_;
  return {pos, true};
}

void key_index::grow(size_t keys) {
  if (2 * keys <= slots_.size()) return;
  size_t n = 16;
  while (n < 2 * keys) n *= 2;
  std::vector<slot> old(n);
  old.swap(slots_);
  const size_t mask = n - 1;
  auto place = [&](slot e) {
    size_t s = e.hash & mask;
    while (slots_[s].pos != free_pos) s = (s + 1) & mask;
    slots_[s] = e;
  };
  if (old.empty()) {
    // The listed keys, hashed now; none of them repeats another.
    for (size_t i = 0; i < used_; ++i) place(slot{hash_of(key_of_(few_[i])), few_[i]});
    return;
  }
  for (const slot& e : old) {
    if (e.pos != free_pos) place(e);
  }
}

}  // namespace vesk
