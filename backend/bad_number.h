#pragma once
// A message of the editor whose text holds a number the JSON parser cannot read (out of
// the range of a double, or a run without digits) fails as a whole. What failed is found
// again in its text, so that the line names the command, the key and the number instead
// of the conversion's bare "stod".
#include <string>

namespace vesk {

/// The first number of a JSON text that cannot be read as a double, and where it stands.
struct bad_number {
  std::string cmd;        ///< the text of the top-level "cmd" member before or after it, "" for none
  std::string key;        ///< the key it is the value of, or of the array it is in; as written
  bool in_array = false;  ///< an element of the array of `key`
  std::string run;        ///< the number as written
  bool out_of_range = false;  ///< converts, but lies outside a double's range; else it has no digits
};

/// Finds the first number of `text` that strtod reads no number from, or only one out of
/// range: the numbers the parser throws on. False when there is none.
bool find_bad_number(const std::string& text, bad_number& found);

/// The error line naming it: `write_prj_config: the number 1e400 of key "model" is out of
/// the range of a double; nothing done.`
std::string bad_number_line(const bad_number& found);

}  // namespace vesk
