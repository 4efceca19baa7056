#include "generators/code_text.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace vesk {

std::string stream_text(const vesk::json& value, const std::ostream& format) {
  std::ostringstream os;
  os.flags(format.flags());
  os.precision(format.precision());
  os << value;
  return os.str();
}

std::string escape_cpp_string(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\\') {
      // A backslash before a printable character is an escape the user meant;
      // at the end, or before a control character, it stands for itself.
      if (i + 1 < text.size()) {
        unsigned char next = static_cast<unsigned char>(text[i + 1]);
        if (next >= 0x20 && next != 0x7f) {
          out += '\\';
          out += static_cast<char>(next);
          ++i;
          continue;
        }
      }
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      // Always three digits, so that a following digit is not taken in.
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", static_cast<unsigned>(c));
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string comment_text(const std::string& text) {
  std::string out = text;
  for (char& ch : out) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) ch = ' ';
  }
  // A backslash at the end of a line comment (even followed by blanks)
  // splices the next line into the comment.
  for (;;) {
    size_t last = out.find_last_not_of(' ');
    if (last == std::string::npos || out[last] != '\\') break;
    out.erase(last);
  }
  return out;
}

namespace {

// Whether `s` is, from its first to its last character, one finite number.
bool is_whole_number(const std::string& s, double& d) {
  // strtod would skip leading white space, which is not part of a number.
  if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
  const char* begin = s.c_str();
  char* end = nullptr;
  d = std::strtod(begin, &end);
  return end == begin + s.size() && std::isfinite(d);
}

}  // namespace

bool checkbox_value(vesk::json& value) {
  switch (value.type()) {
    case vesk::json::bool_t:
      return value.get_bool();
    case vesk::json::number_t:
      return value.get_double() != 0;
    case vesk::json::string_t: {
      std::string s = value.get_string();
      double d = 0;
      bool b = false;
      if (s == "true")
        b = true;
      else if (s == "false")
        b = false;
      else if (is_whole_number(s, d))
        b = d != 0;
      value = vesk::json(b);
      return b;
    }
    default:
      return false;
  }
}

bool checkbox_means_what_written(const vesk::json& value) {
  if (!value.is_string()) return !value.is_object() && !value.is_array();
  const std::string& s = value.get_string_ref();
  double d = 0;
  return s == "true" || s == "false" || is_whole_number(s, d);
}

std::string parameter_value_text(vesk::annotations::parameter& p, vesk::json& value,
                                 const std::ostream& format) {
  if (p.is_string()) return "\"" + escape_cpp_string(stream_text(value, format)) + "\"";
  if (p.form == "checkbox") return checkbox_value(value) ? "true" : "false";
  return stream_text(value, format);
}

std::vector<std::string> configured_header(vesk::json& cfg) {
  for (const char* key : {"type_header", "container_header"}) {
    if (!cfg.contains(key)) continue;
    vesk::json& value = cfg[key];
    value.trim();
    if (value.is_string() && value != "") return {value.get_string()};
  }
  return {};
}

argument_ref find_argument(const vesk::annotations::block_base& node, const std::string& arg) {
  using vesk::annotations::constant;
  using vesk::annotations::parameter;
  if (const auto* c = find_item(node.constants, &constant::var_name, arg)) return {c, nullptr};
  if (const auto* p = find_item(node.parameters, &parameter::var_name, arg)) return {nullptr, p};
  if (const auto* c = find_item(node.constants, &constant::name, arg)) return {c, nullptr};
  if (const auto* p = find_item(node.parameters, &parameter::name, arg)) return {nullptr, p};
  return {};
}

}  // namespace vesk
