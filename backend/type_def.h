#pragma once
// Decoding of the model's signal and parameter definitions (packets 17 and 18) into the
// JSON that the back-end state publishes as "signal_def" and "parameter_def".
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/json.h"

namespace vesk {

/// Composite definitions nest at most this deep; a deeper one comes from a broken or
/// hostile model and would otherwise cost a stack frame per byte.
constexpr int max_type_def_depth = 32;

/// Decodes one type definition starting at `consumed` (which must be below `length`) and
/// advances `consumed` past it: {"type": code} and, for the composite codes 13 and 100,
/// "member": [...] with each member's "name" after its other keys. A member list cut
/// short writes "error def" to log_debug and keeps the members decoded so far. Throws
/// std::length_error when the nesting passes max_type_def_depth.
vesk::json parse_type_def(const uint8_t* bytes, size_t length, size_t& consumed, int depth = 0);

/// Decodes the records {u8 name length; name; type definition} of one definition batch
/// and appends each, with "name" added, to `list`. Returns "" when the whole payload was
/// decoded, otherwise why the rest of it was dropped (the records before stay appended).
std::string parse_definition_batch(const uint8_t* bytes, size_t length, vesk::json& list);

}  // namespace vesk
