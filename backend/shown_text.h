#pragma once
// Texts from the file system on their way to the editor, whose messages must be valid
// UTF-8: a name the editor may send back to open a file is left out when it is not (an
// altered name could name another file), any other text is repaired, and either is said
// once, in a form a log line can hold.
#include <set>
#include <string>

#include "foundation/json.h"

namespace vesk {

/// `text` with each byte that starts no well-formed UTF-8 sequence written as \xNN.
std::string escaped_text(const std::string& text);

/// The names left out of what the editor is shown, each warned about once.
class unshown_names {
 public:
  /// Whether `name` (a `what`, as "file", "model") may be shown: it is valid UTF-8. For a
  /// name that is not, the first call warns, naming it escaped, and every call gives false.
  bool admit(const std::string& name, const char* what);

 private:
  std::set<std::string> warned_;
};

/// Replaces every text of `value` (keys and strings, at any depth) that is not valid UTF-8
/// by its repaired form (each bad byte as U+FFFD); true when one was.
bool repair_texts(vesk::json& value);

}  // namespace vesk
