#pragma once
// Call strings of the call annotations ("@tick: step(a, b) -> y") and the namespace
// prefix of a node.

#include <cstddef>
#include <string>

#include "annotations/block.h"
#include "annotations/parser_state.h"

namespace vesk::annotations {

/// Fills the freshly made call `c` from `call_str`: the method name, the arguments and
/// the return target; with `construct` only the arguments of "(a, b)". Text after the
/// recognised part is ignored; nothing but debug lines is reported.
void parse_call_string(call& c, std::string call_str, bool construct);

/// Reads "a, b, c" at `pos` of `text` into `c.args` (no blanks skipped in front of the
/// first); returns the position after the last argument read, or npos when there was
/// none (then nothing is added).
size_t parse_call_args(call& c, const std::string& text, size_t pos);

/// Every open namespace, outermost first, each followed by "::"; "" for none.
std::string namespace_prefix(const parser_state& state);

}  // namespace vesk::annotations
