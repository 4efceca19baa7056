#pragma once
// Turning user values into generated C++ text that cannot break the
// code around them.

#include <ostream>
#include <string>
#include <vector>

#include "annotations/block.h"
#include "foundation/json.h"

namespace vesk {

/// The value's stream output (a string raw, a number in the format of
/// `format`, a bool as 1 or 0, null as nothing), taken as a text.
std::string stream_text(const vesk::json& value, const std::ostream& format);

/// `text` made safe for the inside of a C++ string literal: a double quote
/// that is not already escaped gets a backslash, line feed, carriage return
/// and tab become \n, \r and \t, other control characters a three-digit octal
/// escape, and a backslash that would escape the closing quote is doubled.
/// Escapes the user wrote on purpose (such as \n) are kept.
std::string escape_cpp_string(const std::string& text);

/// `text` made safe for the end of a // comment: control characters (line
/// ends included) become blanks, and trailing backslashes, which would pull
/// the next line into the comment, are dropped.
std::string comment_text(const std::string& text);

/// The truth of a checkbox value: "true" is true, "false" is false, a text
/// that is wholly a number is true when non-zero, any other text false. A text
/// is replaced in place by the bool it means. A bool is itself, a number is
/// true when non-zero, anything else is false.
bool checkbox_value(vesk::json& value);

/// Whether checkbox_value reads `value` as its writer meant it: a bool, a
/// number, null (unset), "true", "false" or a text that is wholly a number.
/// Any other text, and an object or array, is read as false.
bool checkbox_means_what_written(const vesk::json& value);

/// The text of a parameter's value in an assignment or a function argument:
/// a text parameter as a C++ string literal, a checkbox as true or false (see
/// checkbox_value, which may change `value`), anything else as stream_text.
std::string parameter_value_text(vesk::annotations::parameter& p, vesk::json& value,
                                 const std::ostream& format);

/// The one header a block's configuration asks for: "type_header", else
/// "container_header", each trimmed in place first and counted only when it is
/// then a non-empty text. Empty when neither is.
std::vector<std::string> configured_header(vesk::json& cfg);

/// The first of `items` whose `field` (such as `name` or `var_name`) equals
/// `key`, or null.
template <typename T>
const T* find_item(const std::vector<T>& items, std::string T::*field, const std::string& key) {
  for (const auto& item : items)
    if (item.*field == key) return &item;
  return nullptr;
}

/// The constant or parameter a call argument refers to, if any.
struct argument_ref {
  const vesk::annotations::constant* constant = nullptr;
  const vesk::annotations::parameter* parameter = nullptr;
};

/// Finds what the call argument `arg` of `node` refers to: a constant, then a
/// parameter, whose C++ variable is `arg`; failing that, a constant, then a
/// parameter, whose name is `arg` (the name under which verification accepts
/// call arguments). Neither when `arg` is a pin.
argument_ref find_argument(const vesk::annotations::block_base& node, const std::string& arg);

}  // namespace vesk
