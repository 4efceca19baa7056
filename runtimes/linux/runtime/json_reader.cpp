#include "json_reader.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace linux_runtime {

namespace {

// Deep nesting is no valid use of the runtime's files; the limit keeps a hostile text
// from exhausting the stack.
constexpr int max_depth = 200;

class parser {
 public:
  explicit parser(const std::string& text) : s_(text) {}

  json_value document() {
    json_value v = value(0);
    skip_space();
    if (pos_ != s_.size()) fail("unexpected text after the value");
    return v;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    size_t line = 1;
    for (size_t i = 0; i < pos_ && i < s_.size(); ++i)
      if (s_[i] == '\n') ++line;
    throw std::runtime_error("line " + std::to_string(line) + ": " + what);
  }

  void skip_space() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }

  bool take(const char* word) {
    size_t n = std::char_traits<char>::length(word);
    if (s_.compare(pos_, n, word) != 0) return false;
    pos_ += n;
    return true;
  }

  json_value value(int depth) {
    if (depth > max_depth) fail("values nested too deeply");
    skip_space();
    if (pos_ >= s_.size()) fail("a value is missing");
    json_value v;
    char c = s_[pos_];
    if (c == '{') {
      v.kind = json_value::object_t;
      ++pos_;
      skip_space();
      if (pos_ < s_.size() && s_[pos_] == '}') {
        ++pos_;
        return v;
      }
      for (;;) {
        skip_space();
        if (pos_ >= s_.size() || s_[pos_] != '"') fail("a member name in double quotes is expected");
        std::string key = string_text();
        skip_space();
        if (pos_ >= s_.size() || s_[pos_] != ':') fail("':' is expected after a member name");
        ++pos_;
        v.members.emplace_back(std::move(key), value(depth + 1));
        skip_space();
        if (pos_ < s_.size() && s_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < s_.size() && s_[pos_] == '}') {
          ++pos_;
          return v;
        }
        fail("',' or '}' is expected in an object");
      }
    }
    if (c == '[') {
      v.kind = json_value::array_t;
      ++pos_;
      skip_space();
      if (pos_ < s_.size() && s_[pos_] == ']') {
        ++pos_;
        return v;
      }
      for (;;) {
        v.items.push_back(value(depth + 1));
        skip_space();
        if (pos_ < s_.size() && s_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < s_.size() && s_[pos_] == ']') {
          ++pos_;
          return v;
        }
        fail("',' or ']' is expected in an array");
      }
    }
    if (c == '"') {
      v.kind = json_value::string_t;
      v.text = string_text();
      return v;
    }
    if (take("true")) {
      v.kind = json_value::bool_t;
      v.boolean = true;
      return v;
    }
    if (take("false")) {
      v.kind = json_value::bool_t;
      return v;
    }
    if (take("null")) return v;
    if (c == '-' || (c >= '0' && c <= '9')) {
      // Only JSON's own number form: strtod alone also takes "0x10", "1." or "-.5".
      const size_t begin = pos_;
      if (c == '-') ++pos_;
      if (pos_ < s_.size() && s_[pos_] == '0') {
        ++pos_;
      } else if (!digits()) {
        fail("a number cannot be read");
      }
      if (pos_ < s_.size() && s_[pos_] == '.' && (++pos_, !digits())) fail("a number cannot be read");
      if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
        ++pos_;
        if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
        if (!digits()) fail("a number cannot be read");
      }
      v.number = std::strtod(s_.substr(begin, pos_ - begin).c_str(), nullptr);
      if (!std::isfinite(v.number)) fail("a number cannot be read");
      v.kind = json_value::number_t;
      return v;
    }
    fail(std::string("unexpected character '") + c + "'");
  }

  /// Skips decimal digits; false when there was none.
  bool digits() {
    const size_t from = pos_;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
    return pos_ != from;
  }

  unsigned hex4() {
    if (pos_ + 4 > s_.size()) fail("a \\u escape needs four hex digits");
    unsigned u = 0;
    for (int i = 0; i < 4; ++i) {
      char h = s_[pos_++];
      u <<= 4;
      if (h >= '0' && h <= '9') u |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f') u |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') u |= static_cast<unsigned>(h - 'A' + 10);
      else fail("a \\u escape needs four hex digits");
    }
    return u;
  }

  static void append_utf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  std::string string_text() {
    ++pos_;  // the opening quote
    std::string out;
    for (;;) {
      if (pos_ >= s_.size()) fail("a string is not closed");
      char c = s_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) fail("a control character stands in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) fail("a string is not closed");
      char e = s_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned cp = hex4();
          if (cp >= 0xD800 && cp < 0xDC00 && s_.compare(pos_, 2, "\\u") == 0) {
            pos_ += 2;
            unsigned low = hex4();
            if (low < 0xDC00 || low > 0xDFFF) fail("a surrogate pair is broken");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          append_utf8(out, cp);
          break;
        }
        default:
          fail(std::string("unknown escape '\\") + e + "'");
      }
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
};

}  // namespace

const json_value* json_value::find(const std::string& key) const {
  if (kind != object_t) return nullptr;
  for (const auto& m : members)
    if (m.first == key) return &m.second;
  return nullptr;
}

json_value parse_json(const std::string& text) { return parser(text).document(); }

json_value read_json_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot be opened");
  std::ostringstream text;
  text << in.rdbuf();
  try {
    return parse_json(text.str());
  } catch (const std::exception& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

}  // namespace linux_runtime
