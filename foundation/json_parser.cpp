// Parser of JSON text into vesk::json: iterative, with explicit stacks, forgiving of a few
// errors (reported on log_err with line and column) and fatal on the rest (null result).

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "foundation/json.h"
#include "foundation/log_stream.h"
#include "foundation/memview.h"

namespace vesk {

namespace {

void report_json_parse_error(uint64_t line, uint64_t column, const char* message) {
  log_err << "json_parse_error in line: " << line << "," << column << "  " << message << std::endl;
}

const char* const expecting_value = "expecting object, array, string, number, true, false or null...";
const char* const expecting_key = "expecting key (\"key\")";

// Moves scratch[start..] to the end of `out` and drops it from the scratch stack.
template <class T>
void move_tail(std::vector<T>& scratch, size_t start, std::vector<T>& out) {
  out.reserve(out.size() + scratch.size() - start);
  for (size_t i = start; i < scratch.size(); ++i) out.push_back(std::move(scratch[i]));
  scratch.erase(scratch.begin() + static_cast<std::ptrdiff_t>(start), scratch.end());
}

bool is_number_char(char c) {
  return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
}

// std::stod of the run [p, p + n): the longest valid prefix, with stod's exceptions.
double stod_of_run(const char* p, size_t n) {
  std::string run(p, n);
  errno = 0;
  char* end = nullptr;
  double d = std::strtod(run.c_str(), &end);
  if (end == run.c_str()) throw std::invalid_argument("stod");
  if (errno == ERANGE) throw std::out_of_range("stod");
  return d;
}

// Scans the number run that starts at p[0] (a digit or '-'), sets `n` to its length and
// returns its value as std::stod would. Plain decimals of up to 15 digits are converted
// in the same pass without strtod: an integer mantissa below 2^53 divided by an exact
// power of ten rounds once, exactly as strtod does.
double scan_number(const char* p, size_t len, size_t& n) {
  static const double pow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  size_t i = 0;
  bool negative = p[0] == '-';
  if (negative) ++i;
  uint64_t mantissa = 0;
  size_t digits = 0, frac_digits = 0;
  bool seen_dot = false;
  for (; i < len; ++i) {
    char c = p[i];
    if (c >= '0' && c <= '9') {
      mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
      ++digits;
      frac_digits += seen_dot;
    } else if (c == '.' && !seen_dot) {
      seen_dot = true;
    } else {
      break;
    }
  }
  if (i >= len || !is_number_char(p[i])) {
    n = i;
    if (digits > 0 && digits <= 15) {
      double d = static_cast<double>(mantissa) / pow10[frac_digits];
      return negative ? -d : d;
    }
    return stod_of_run(p, n);
  }
  while (i < len && is_number_char(p[i])) ++i;  // exponent or a malformed run
  n = i;
  return stod_of_run(p, n);
}

#ifdef __SSE2__
// Sixteen bytes at a time: the first of [p, end) that is a double quote or a backslash.
inline size_t plain_run(const char* text, size_t pos, size_t len) {
  const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
  while (len - pos >= 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos));
    int hit = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, quote), _mm_cmpeq_epi8(x, backslash)));
    if (hit != 0) return pos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(hit)));
    pos += 16;
  }
  while (pos < len && text[pos] != '"' && text[pos] != '\\') ++pos;
  return pos;
}

// The first byte from `pos` on that is not a blank (indentation comes in long runs).
inline size_t skip_blanks(const char* text, size_t pos, size_t len) {
  const __m128i blank = _mm_set1_epi8(' ');
  while (len - pos >= 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos));
    unsigned other = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, blank))) & 0xFFFFu;
    if (other != 0) return pos + static_cast<size_t>(__builtin_ctz(other));
    pos += 16;
  }
  while (pos < len && text[pos] == ' ') ++pos;
  return pos;
}
#else
inline size_t plain_run(const char* text, size_t pos, size_t len) {
  while (pos < len && text[pos] != '"' && text[pos] != '\\') ++pos;
  return pos;
}
inline size_t skip_blanks(const char* text, size_t pos, size_t len) {
  while (pos < len && text[pos] == ' ') ++pos;
  return pos;
}
#endif

class parser {
 public:
  parser(const char* text, size_t len) : text_(text), len_(len) {}
  json run();

 private:
  enum state_t { value_expected, object_opened, in_string, in_number, in_literal, after_element, after_member };

  // A key while its object is open: a view into the text, or (when it had escapes) into
  // the decoded keys, which may still grow and so are addressed by offset.
  struct key_ref {
    size_t start = 0;
    size_t len = 0;
    bool decoded = false;
  };
  struct pending_member {
    key_ref key;
    json value;
  };
  struct open_container {
    bool is_object;
    size_t start;
  };

  bool at_end() const { return pos_ >= len_; }
  char peek() const { return text_[pos_]; }
  void consume() { ++pos_; }
  // The column is the count of characters consumed since the last counted line feed (that
  // one included), or since the start on the first line.
  uint64_t column() const { return pos_ - line_base_; }
  void new_line() {
    ++line_;
    line_base_ = pos_;
  }
  // Skips white space; false when the text ended.
  bool skip_ws() {
    while (pos_ < len_) {
      char c = text_[pos_];
      if (c == ' ') {
        pos_ = skip_blanks(text_, pos_ + 1, len_);
      } else if (c == '\t' || c == '\r') {
        ++pos_;
      } else if (c == '\n') {
        new_line();
        ++pos_;
      } else {
        return true;
      }
    }
    return false;
  }
  void report(const char* message) { report_json_parse_error(line_, column(), message); }

  // Stores a completed value; true when it is the result (no container open).
  bool store(json&& value);
  bool close_container();
  // Reads a string from its opening quote; the text is either a range of the input (no
  // escapes: `plain` set) or the decoded text in `decoded_`, appended from `from` on.
  void read_string(size_t& start, size_t& len, bool& plain);

  const char* text_;
  size_t len_;
  size_t pos_ = 0;
  uint64_t line_ = 0;
  size_t line_base_ = 0;
  state_t state_ = value_expected;
  bool key_flag_ = false;
  json result_;
  // Open containers, innermost last. Their members and elements collect on two shared
  // scratch stacks and move into an exactly sized vector when the container closes, so
  // a container is allocated once instead of growing step by step; keys are copied once,
  // then.
  std::vector<open_container> containers_;
  std::vector<key_ref> keys_;
  std::vector<pending_member> member_scratch_;
  json::elements element_scratch_;
  std::string decoded_keys_;
  std::string decoded_;
};

bool parser::store(json&& value) {
  if (containers_.empty()) {
    result_ = std::move(value);
    return true;
  }
  if (containers_.back().is_object) {
    member_scratch_.push_back({keys_.back(), std::move(value)});
    state_ = after_member;
  } else {
    element_scratch_.push_back(std::move(value));
    state_ = after_element;
  }
  return false;
}

bool parser::close_container() {
  open_container top = containers_.back();
  containers_.pop_back();
  json done;
  if (top.is_object) {
    keys_.pop_back();
    done = json::make_object();
    json::members& out = done.object_members();
    out.reserve(member_scratch_.size() - top.start);
    for (size_t i = top.start; i < member_scratch_.size(); ++i) {
      pending_member& m = member_scratch_[i];
      if (m.key.decoded)
        out.emplace_back(decoded_keys_.substr(m.key.start, m.key.len), std::move(m.value));
      else
        out.emplace_back(std::piecewise_construct, std::forward_as_tuple(text_ + m.key.start, m.key.len),
                         std::forward_as_tuple(std::move(m.value)));
    }
    member_scratch_.erase(member_scratch_.begin() + static_cast<std::ptrdiff_t>(top.start), member_scratch_.end());
    if (keys_.empty()) decoded_keys_.clear();  // no key of an open object refers to them now
  } else {
    done = json::make_array(nullptr, 0);
    move_tail(element_scratch_, top.start, done.array_elements());
  }
  consume();
  return store(std::move(done));
}

void parser::read_string(size_t& start, size_t& len, bool& plain) {
  consume();  // opening quote
  // The common case: no escape before the closing quote.
  const size_t run = plain_run(text_, pos_, len_);
  if (run >= len_ || text_[run] == '"') {
    start = pos_;
    len = run - pos_;
    plain = true;
    pos_ = run;
    if (pos_ < len_) consume();  // closing quote
    return;
  }
  plain = false;
  decoded_.clear();
  size_t seg = pos_;
  pos_ = run;
  for (;;) {
    decoded_.append(text_ + seg, pos_ - seg);
    consume();
    char e = static_cast<char>(memview_get_u8(text_, len_, pos_));
    switch (e) {
      case 'n': decoded_ += '\n'; break;
      case 'r': decoded_ += '\r'; break;
      case '"': decoded_ += '"'; break;
      case 't': decoded_ += '\t'; break;
      case '\\': decoded_ += '\\'; break;
      case '/': decoded_ += '/'; break;
      case 'b': decoded_ += '\b'; break;
      case 'f': decoded_ += '\f'; break;
      case 'u': {
        // The four hex digits are skipped, never past the end of the text.
        pos_ += std::min<size_t>(4, len_ - pos_ - 1);
        break;
      }
      default:
        report("un allowed escape");
        break;
    }
    consume();
    seg = pos_;
    pos_ = plain_run(text_, pos_, len_);
    if (pos_ >= len_ || text_[pos_] == '"') break;
  }
  decoded_.append(text_ + seg, pos_ - seg);
  if (pos_ < len_) consume();  // closing quote
  start = 0;
  len = decoded_.size();
}

json parser::run() {
  for (;;) {
    switch (state_) {
      case value_expected: {
        if (!skip_ws()) return json();
        char c = peek();
        if (c == '{') {
          containers_.push_back({true, member_scratch_.size()});
          keys_.emplace_back();
          consume();
          state_ = object_opened;
        } else if (c == '[') {
          containers_.push_back({false, element_scratch_.size()});
          consume();
        } else if (c == '"') {
          state_ = in_string;
        } else if ((c >= '0' && c <= '9') || c == '-') {
          state_ = in_number;
        } else if (c == 't' || c == 'f' || c == 'n') {
          state_ = in_literal;
        } else if (c == ']' && !containers_.empty()) {
          if (close_container()) return std::move(result_);
        } else {
          report(expecting_value);
          return json();
        }
        break;
      }
      case object_opened: {
        if (!skip_ws()) return json();
        char c = peek();
        if (c == '"') {
          key_flag_ = true;
          state_ = in_string;
        } else if (c == '}') {
          if (close_container()) return std::move(result_);
        } else {
          report(expecting_key);
          return json();
        }
        break;
      }
      case in_string: {
        size_t start = 0, len = 0;
        bool plain = true;
        read_string(start, len, plain);
        if (key_flag_) {
          key_flag_ = false;
          key_ref& k = keys_.back();
          if (plain) {
            k = {start, len, false};
          } else {
            k = {decoded_keys_.size(), len, true};
            decoded_keys_ += decoded_;
          }
          for (;;) {
            if (at_end()) return json();
            char c = peek();
            if (c == ' ' || c == '\t' || c == '\r') {
              consume();
            } else if (c == '\n') {
              new_line();
              consume();
            } else if (c == ':') {
              consume();
              break;
            } else {
              report("expecting : after key");
              consume();
            }
          }
          state_ = value_expected;
        } else {
          json v = plain ? json(std::string(text_ + start, len)) : json(std::string(decoded_));
          if (store(std::move(v))) return std::move(result_);
        }
        break;
      }
      case in_number: {
        size_t n = 0;
        double d = scan_number(text_ + pos_, len_ - pos_, n);
        pos_ += n;
        if (store(json(d))) return std::move(result_);
        break;
      }
      case in_literal: {
        char c = peek();
        const char* word = c == 't' ? "true" : c == 'f' ? "false" : "null";
        const char* message = c == 't'   ? "expecting object, array, string, number, true, false or null... 2"
                              : c == 'f' ? "expecting object, array, string, number, true, false or null... 3"
                                         : "expecting object, array, string, number, true, false or null... 4";
        size_t n = c == 'f' ? 5 : 4;
        if (len_ - pos_ < n || std::memcmp(text_ + pos_, word, n) != 0) {
          report(message);
          return json();
        }
        pos_ += n;
        json v = c == 't' ? json(true) : c == 'f' ? json(false) : json();
        if (store(std::move(v))) return std::move(result_);
        break;
      }
      case after_member: {
        if (!skip_ws()) return json();
        char c = peek();
        if (c == ',') {
          consume();
          if (!skip_ws()) return json();
          if (peek() != '"') {
            report(expecting_key);
            return json();
          }
          key_flag_ = true;
          state_ = in_string;
        } else if (c == '}') {
          if (close_container()) return std::move(result_);
        } else {
          report("expecting , or }");
          consume();
        }
        break;
      }
      case after_element: {
        if (!skip_ws()) return json();
        char c = peek();
        if (c == ',') {
          consume();
          state_ = value_expected;
        } else if (c == ']') {
          if (close_container()) return std::move(result_);
        } else {
          report("expecting , or ]");
          consume();
        }
        break;
      }
    }
  }
}

}  // namespace

bool json::skip_whitespace(uint64_t& line, uint64_t& column, char c) {
  if (c == '\n') {
    ++line;
    column = 0;
    return true;
  }
  return c == ' ' || c == '\t' || c == '\r';
}

json json::parse(const char* text, size_t len) {
  if (len == 0) return json();
  return parser(text, len).run();
}

}  // namespace vesk
