#include "backend/bad_number.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "backend/gui_guards.h"

namespace vesk {

namespace {

bool starts_number(char c) { return c == '-' || (c >= '0' && c <= '9'); }

// The characters of a number run, as the parser takes them.
bool in_number(char c) {
  return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
}

bool is_blank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Whether strtod fails on the run as the parser's conversion does; `range` tells how.
bool fails(const std::string& run, bool& range) {
  errno = 0;
  char* end = nullptr;
  std::strtod(run.c_str(), &end);
  range = errno == ERANGE;
  return end == run.c_str() || range;
}

// A part of the text as it is shown in the line: cut, and repaired where it is no UTF-8.
std::string shown(const std::string& text) {
  constexpr size_t longest = 60;
  return replace_invalid_utf8(text.size() > longest ? text.substr(0, longest - 3) + "..." : text);
}

}  // namespace

bool find_bad_number(const std::string& text, bad_number& found) {
  found = bad_number();
  // Parts of the text, never copied while scanning: a message may hold millions of values.
  using part = std::string_view;
  const part all(text);
  std::vector<part> keys;     // of each open object or array: the key it is the value of
  std::vector<bool> arrays;   // whether each is an array
  part last_string, key;
  bool keyed = false;  // a ':' came after the last string: the next value is that key's
  bool have = false;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (is_blank(c) || c == ',') {
      ++i;
      continue;
    }
    if (c == ':') {
      key = last_string;
      keyed = true;
      ++i;
      continue;
    }
    // The key of the value that starts here, or of the array it is an element of.
    const bool element = !keyed && !arrays.empty() && arrays.back();
    const part value_key = keyed ? key : element ? keys.back() : part();
    keyed = false;
    if (c == '"') {
      size_t j = i + 1;
      while (j < text.size() && text[j] != '"') j += text[j] == '\\' ? 2 : 1;
      last_string = all.substr(i + 1, std::min(j, text.size()) - i - 1);
      if (value_key == "cmd" && keys.size() == 1 && !element && found.cmd.empty()) found.cmd = std::string(last_string);
      i = j + 1;
    } else if (c == '{' || c == '[') {
      keys.push_back(value_key);
      arrays.push_back(c == '[');
      ++i;
    } else if (c == '}' || c == ']') {
      if (!keys.empty()) {
        keys.pop_back();
        arrays.pop_back();
      }
      ++i;
    } else if (starts_number(c)) {
      size_t j = i;
      while (j < text.size() && in_number(text[j])) ++j;
      bool range = false;
      if (!have && fails(text.substr(i, j - i), range)) {
        have = true;
        found.key = std::string(value_key);
        found.in_array = element;
        found.run = text.substr(i, j - i);
        found.out_of_range = range;
      }
      i = j;
    } else {
      ++i;  // a literal's letters, or what the parser skips
    }
    if (have && !found.cmd.empty()) return true;
  }
  return have;
}

std::string bad_number_line(const bad_number& found) {
  const std::string where = found.key.empty() ? ""
                            : found.in_array  ? " in the array of key \"" + shown(found.key) + "\""
                                              : " of key \"" + shown(found.key) + "\"";
  return (found.cmd.empty() ? std::string("A message of the editor") : shown(found.cmd)) + ": the number " +
         shown(found.run) + where +
         (found.out_of_range ? " is out of the range of a double" : " has no digits") + "; nothing done.";
}

}  // namespace vesk
