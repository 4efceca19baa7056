#include "backend/shown_text.h"

#include <cstdio>

#include "backend/gui_guards.h"
#include "foundation/log_stream.h"

namespace vesk {

std::string escaped_text(const std::string& text) {
  // The repaired form marks each bad byte with U+FFFD, in order: the bytes it stands for
  // are found by walking both texts.
  const std::string repaired = replace_invalid_utf8(text);
  static const std::string mark = "\xEF\xBF\xBD";
  std::string out;
  size_t i = 0;
  for (size_t r = 0; r < repaired.size();) {
    if (repaired.compare(r, mark.size(), mark) == 0 && text.compare(i, mark.size(), mark) != 0) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[i]));
      out += hex;
      ++i;
      r += mark.size();
    } else {
      out += repaired[r++];
      ++i;
    }
  }
  return out;
}

bool unshown_names::admit(const std::string& name, const char* what) {
  if (is_valid_utf8(name)) return true;
  if (warned_.insert(name).second)
    log_warn << "The " << what << " name '" << escaped_text(name)
             << "' is not valid UTF-8 and is not shown to the editor; rename it to use it there." << std::endl;
  return false;
}

bool repair_texts(vesk::json& value) {
  bool repaired = false;
  auto repair = [&repaired](std::string& text) {
    if (is_valid_utf8(text)) return;
    text = replace_invalid_utf8(text);
    repaired = true;
  };
  if (value.is_string()) {
    if (!is_valid_utf8(value.get_string_ref())) {
      value = vesk::json(replace_invalid_utf8(value.get_string_ref()));
      repaired = true;
    }
  } else if (value.is_object()) {
    for (vesk::json::member& m : value.object_members()) {
      repair(m.first);
      repaired = repair_texts(m.second) || repaired;
    }
  } else if (value.is_array()) {
    for (vesk::json& e : value.array_elements()) repaired = repair_texts(e) || repaired;
  }
  return repaired;
}

}  // namespace vesk
