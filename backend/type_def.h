#pragma once
// Decoding of the model's signal and parameter definitions (packets 17 and 18) straight
// into the JSON text that the back-end state publishes as "signal_def" and
// "parameter_def". No JSON value is built: each entry would cost far more memory than its
// bytes on the link, and the text is what the editor gets anyway.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

/// Composite definitions nest at most this deep; a deeper one comes from a broken or
/// hostile model and would otherwise cost a stack frame per byte.
constexpr int max_type_def_depth = 32;

/// Thrown when decoding would pass the room it was given.
struct definition_room_exhausted : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// What one list may still grow by.
struct definition_room {
  size_t entries = SIZE_MAX;   ///< entries (each record and each member counts one)
  size_t text_end = SIZE_MAX;  ///< the most bytes the list's text may reach
};

/// One list of definitions as the back-end state publishes it: the text of the JSON
/// array exactly as the state message writes it (two-blank indent, its elements three
/// levels deep, as in {"cmd": ..., "state": {"signal_def": [...]}}), and each record's
/// name in list order for the subscriptions. An empty text stands for null (no model).
class definition_list {
 public:
  /// Depth of the elements in the state message.
  static constexpr int element_depth = 3;

  /// Starts an empty array: the elements follow. `expected` bytes of text are reserved
  /// ahead: address space only, which costs no memory until it is written, while growing
  /// would copy the text again and again.
  void open(size_t expected = 0);
  /// Closes the array; nothing may be appended afterwards.
  void close();
  /// Null again, with the memory given back.
  void clear();
  /// Whether it is an array (a model's list) rather than null.
  bool published() const { return !text_.empty(); }
  /// The JSON text ("" for null; see published).
  const std::string& text() const { return text_; }
  /// Records in the list.
  size_t size() const { return name_ends_.size(); }
  /// The name of record `k` (below size()).
  std::string_view name(size_t k) const;

  /// Decodes the records {u8 name length; name; type definition} of one batch and
  /// appends each to the list. Returns "" when the whole payload was decoded, otherwise
  /// why the rest of it was dropped (the records before stay). A member list cut short
  /// writes "error def" to log_debug and keeps the members decoded so far; a record that
  /// nests deeper than max_type_def_depth is dropped with the rest of the batch. Each
  /// entry takes one from room.entries, and the text must stay within room.text_end,
  /// checked as each entry is taken: past either, definition_room_exhausted is thrown
  /// (the list is then incomplete and of no further use).
  std::string append_batch(const uint8_t* bytes, size_t length, definition_room& room);

 private:
  std::string text_;
  std::string names_;                 ///< the names one after the other
  std::vector<uint32_t> name_ends_;   ///< where each name ends in names_
};

}  // namespace vesk
