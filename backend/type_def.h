#pragma once
// Decoding of the model's signal and parameter definitions (packets 17 and 18) into the
// JSON that the back-end state publishes as "signal_def" and "parameter_def".
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "foundation/json.h"

namespace vesk {

/// Composite definitions nest at most this deep; a deeper one comes from a broken or
/// hostile model and would otherwise cost a stack frame per byte.
constexpr int max_type_def_depth = 32;

/// Thrown when decoding would make more entries than it was given room for.
struct definition_room_exhausted : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// Decodes one type definition starting at `consumed` (which must be below `length`) and
/// advances `consumed` past it: {"type": code} and, for the composite codes 13 and 100,
/// "member": [...] with each member's "name" after its other keys. A member list cut
/// short writes "error def" to log_debug and keeps the members decoded so far. Throws
/// std::length_error when the nesting passes max_type_def_depth. Each entry made (the
/// definition and each member) takes one from `room`; none left throws
/// definition_room_exhausted, since each costs far more memory than its bytes.
vesk::json parse_type_def(const uint8_t* bytes, size_t length, size_t& consumed, size_t& room, int depth = 0);

/// Decodes the records {u8 name length; name; type definition} of one definition batch
/// and appends each, with "name" added, to `list`. Returns "" when the whole payload was
/// decoded, otherwise why the rest of it was dropped (the records before stay appended).
/// Entries take from `room` as in parse_type_def.
std::string parse_definition_batch(const uint8_t* bytes, size_t length, vesk::json& list, size_t& room);
/// The same without a bound on the entries.
std::string parse_definition_batch(const uint8_t* bytes, size_t length, vesk::json& list);

}  // namespace vesk
