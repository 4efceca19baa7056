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
// Names json::max_depth; a text nested deeper ends the parse with a null result, so its
// cost stays bounded by the depth, not by the length of the text.
const char* const too_deep_message = "nesting deeper than 10000 levels";
static_assert(json::max_depth == 10000, "the message names the depth");
// Names json::max_values; the parse stops at the value past the bound, so a text of many
// tiny values costs what the bound costs, not a multiple of its length.
const char* const too_many_message = "more than 1000000 values in one text";
static_assert(json::max_values == 1000000, "the message names the count");

bool is_number_char(char c) {
  return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
}

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

// Whether `c` can begin a value (the cases of the parser's value switch that build one).
bool starts_value(char c) {
  return c == '{' || c == '[' || c == '"' || c == '-' || is_digit(c) || c == 't' || c == 'f' || c == 'n';
}

// The value of a hex digit, or -1.
inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads up to four hex digits at text[at, len); returns how many were digits (4: all of
// them, `unit` then holds their value).
inline size_t hex4(const char* text, size_t at, size_t len, uint32_t& unit) {
  size_t n = 0;
  unit = 0;
  for (; n < 4 && at + n < len; ++n) {
    const int v = hex_value(text[at + n]);
    if (v < 0) break;
    unit = unit << 4 | static_cast<uint32_t>(v);
  }
  return n;
}

// Appends the UTF-8 bytes of the code point `cp` (at most U+10FFFF, no surrogate).
void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
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
inline double scan_number(const char* p, size_t len, size_t& n) {
  static const double pow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  static const uint64_t exact_pow10[] = {1,           10,           100,           1000,
                                         10000,       100000,       1000000,       10000000,
                                         100000000,   1000000000,   10000000000,   100000000000,
                                         1000000000000, 10000000000000, 100000000000000, 1000000000000000};
  const bool negative = p[0] == '-';
  size_t i = negative;
  uint64_t mantissa = 0;
  while (i < len && is_digit(p[i])) mantissa = mantissa * 10 + static_cast<uint64_t>(p[i++] - '0');
  size_t digits = i - negative, frac_digits = 0;
  const uint64_t whole = mantissa;
  if (i < len && p[i] == '.') {
    const size_t frac_start = ++i;
    while (i < len && is_digit(p[i])) mantissa = mantissa * 10 + static_cast<uint64_t>(p[i++] - '0');
    frac_digits = i - frac_start;
    digits += frac_digits;
  }
  if (i >= len || !is_number_char(p[i])) {
    n = i;
    if (digits > 0 && digits <= 15) {
      double d;
      if (frac_digits == 0 || mantissa == whole * exact_pow10[frac_digits])
        d = static_cast<double>(whole);  // a fraction of zeros only: no division needed
      else
        d = static_cast<double>(mantissa) / pow10[frac_digits];
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

// The end of a string without escapes that closes within the sixteen bytes at `pos`: the
// position of its closing quote, or 0 when that is not the case. Only the quote search
// lies on the path to the next position; the backslash test merely confirms it.
inline size_t short_plain_end(const char* text, size_t pos, size_t len) {
  if (len - pos < 16) return 0;
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos));
  const unsigned quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('"'))));
  const unsigned escapes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('\\'))));
  // Backslashes at or before the first quote: (quotes ^ (quotes - 1)) covers it and below.
  if (quotes == 0 || (escapes & (quotes ^ (quotes - 1))) != 0) return 0;
  return pos + static_cast<size_t>(__builtin_ctz(quotes));
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
inline size_t short_plain_end(const char*, size_t, size_t) { return 0; }
inline size_t plain_run(const char* text, size_t pos, size_t len) {
  while (pos < len && text[pos] != '"' && text[pos] != '\\') ++pos;
  return pos;
}
inline size_t skip_blanks(const char* text, size_t pos, size_t len) {
  while (pos < len && text[pos] == ' ') ++pos;
  return pos;
}
#endif

// A key while its object is open: a view into the text, or (when it had escapes) into the
// decoded keys, which may still grow and so are addressed by offset.
struct key_ref {
  size_t start = 0;
  size_t len = 0;
  bool decoded = false;
};
// Built in place (emplace_back with these constructors): a brace-initialised temporary
// would be written field by field and read back whole, which stalls.
struct pending_member {
  pending_member(const key_ref& k, json&& v) : key(k), value(std::move(v)) {}
  key_ref key;
  json value;
};
struct open_container {
  open_container(bool object, size_t first) : is_object(object), start(first) {}
  bool is_object;
  size_t start;  // first member or element on its scratch stack
  key_ref key;   // objects: the key of the member being read
};

// Open containers, innermost last. Their members and elements collect on two shared
// scratch stacks and move into an exactly sized vector when the container closes, so a
// container is allocated once instead of growing step by step, and keys are copied once.
// The stacks of a thread are kept from one parse to the next, so they do not grow anew
// each time.
struct parse_stacks {
  std::vector<open_container> containers;
  std::vector<pending_member> members;
  json::elements elements;
  std::string decoded_keys;
  std::string decoded;
  bool busy = false;

  // Drops what a failed parse left and gives back the memory of any stack that a large
  // text grew past a small budget, so one large text does not stay resident.
  void release() {
    constexpr size_t keep_bytes = 256 << 10;
    shrink(containers, keep_bytes);
    shrink(members, keep_bytes);
    shrink(elements, keep_bytes);
    shrink(decoded_keys, keep_bytes);
    shrink(decoded, keep_bytes);
    busy = false;
  }
  template <typename Stack>
  static void shrink(Stack& stack, size_t keep_bytes) {
    stack.clear();
    if (stack.capacity() * sizeof(stack[0]) > keep_bytes) Stack().swap(stack);
  }
};

}  // namespace

class json::parser {
 public:
  parser(const char* text, size_t len, parse_stacks& s, error_place* first_error)
      : text_(text), len_(len), s_(s), first_error_(first_error) {}
  json run();
  // One line for the errors that the cap kept out of the log, if there were any.
  void report_unreported() const {
    if (errors_ > max_reported_errors)
      log_err << "json_parse_error: " << errors_ - max_reported_errors << " more errors in this text not reported"
              << std::endl;
  }

 private:
  static constexpr uint64_t max_reported_errors = 10;
  uint64_t column() const { return pos_ - line_base_; }
  // The text ended before the value did: null, and with a container still open the reader
  // of a file is told, since a cut-off file would otherwise read as nothing at all.
  json ended() {
    if (first_error_ && !s_.containers.empty()) first_error_->ended_early = true;
    return json();
  }
  void report(const char* message) {
    if (first_error_ && !first_error_->found) *first_error_ = {true, line_, column()};
    // Past the cap an error is only counted: a text of nothing but bad escapes would
    // otherwise flood the log with a line for every few bytes.
    if (++errors_ <= max_reported_errors) report_json_parse_error(line_, column(), message);
  }
  // Skips white space; false when the text ended. The column counts characters consumed
  // since the last counted line feed (that one included), or since the start.
  bool skip_ws() {
    while (pos_ < len_) {
      const char c = text_[pos_];
      if (c > ' ') return true;
      if (c == ' ') {
        ++pos_;
        if (pos_ < len_ && text_[pos_] == ' ') pos_ = skip_blanks(text_, pos_, len_);
      } else if (c == '\n') {
        ++line_;
        line_base_ = pos_;
        ++pos_;
      } else if (c == '\t' || c == '\r') {
        ++pos_;
      } else {
        return true;
      }
    }
    return false;
  }
  // Reads a string from its opening quote; the text is either a range of the input (no
  // escapes: true) or the decoded text in `decoded`.
  inline bool read_string(size_t& start, size_t& len);
  // The rest of a string that has an escape at `run`, decoded into `decoded`.
  __attribute__((noinline)) void decode_string(size_t run);
  // A "u" escape at `pos_` (on its "u"), decoded into `decoded`; `pos_` ends on its last
  // character.
  void decode_unicode();
  // Builds the innermost container from its scratch entries and pops it.
  json close_container();
  // Where a completed value went: it is the result, or it joined an object or an array.
  enum class stored { result, member, element };
  stored store(json&& value) {
    if (s_.containers.empty()) {
      result_ = std::move(value);
      return stored::result;
    }
    if (s_.containers.back().is_object) {
      s_.members.emplace_back(s_.containers.back().key, std::move(value));
      return stored::member;
    }
    s_.elements.push_back(std::move(value));
    return stored::element;
  }
  // A key on its way into a member: converts to the key's string in place.
  struct key_text {
    const char* s;
    size_t len;
    operator std::string() const { return text_of(s, len); }
  };

  const char* text_;
  size_t len_;
  parse_stacks& s_;
  error_place* first_error_;
  size_t pos_ = 0;
  uint64_t line_ = 0;
  size_t line_base_ = 0;
  uint64_t errors_ = 0;
  size_t values_ = 0;  // values begun so far, bounded by json::max_values
  json result_;
};

bool json::parser::read_string(size_t& start, size_t& len) {
  ++pos_;  // opening quote
  // The common case: no escape before the closing quote.
  const size_t end = short_plain_end(text_, pos_, len_);
  if (end != 0) {
    start = pos_;
    len = end - pos_;
    pos_ = end + 1;
    return true;
  }
  const size_t run = plain_run(text_, pos_, len_);
  if (run >= len_ || text_[run] == '"') {
    start = pos_;
    len = run - pos_;
    pos_ = run;
    if (pos_ < len_) ++pos_;  // closing quote
    return true;
  }
  decode_string(run);
  start = 0;
  len = s_.decoded.size();
  return false;
}

void json::parser::decode_string(size_t run) {
  std::string& decoded = s_.decoded;
  decoded.clear();
  size_t seg = pos_;
  pos_ = run;
  for (;;) {
    decoded.append(text_ + seg, pos_ - seg);
    ++pos_;
    char e = static_cast<char>(memview_get_u8(text_, len_, pos_));
    switch (e) {
      case 'n': decoded += '\n'; break;
      case 'r': decoded += '\r'; break;
      case '"': decoded += '"'; break;
      case 't': decoded += '\t'; break;
      case '\\': decoded += '\\'; break;
      case '/': decoded += '/'; break;
      case 'b': decoded += '\b'; break;
      case 'f': decoded += '\f'; break;
      case 'u':
        decode_unicode();
        break;
      default:
        report("un allowed escape");
        break;
    }
    ++pos_;
    seg = pos_;
    pos_ = plain_run(text_, pos_, len_);
    if (pos_ >= len_ || text_[pos_] == '"') break;
  }
  decoded.append(text_ + seg, pos_ - seg);
  if (pos_ < len_) ++pos_;  // closing quote
}

void json::parser::decode_unicode() {
  uint32_t unit = 0;
  const size_t digits = hex4(text_, pos_ + 1, len_, unit);
  if (digits < 4) {
    if (pos_ + 1 + digits >= len_) {
      pos_ = len_ - 1;  // the text ends inside the escape, so the string ends there
    } else {
      report("un allowed escape");  // backslash and "u" go, what follows stays text
    }
    return;
  }
  pos_ += 4;
  uint32_t cp = unit;
  if (unit >= 0xD800 && unit <= 0xDFFF) {
    // A high surrogate joins the low one of an escape right after it; any other surrogate
    // has no character of its own.
    uint32_t low = 0;
    if (unit <= 0xDBFF && pos_ + 2 < len_ && text_[pos_ + 1] == '\\' && text_[pos_ + 2] == 'u' &&
        hex4(text_, pos_ + 3, len_, low) == 4 && low >= 0xDC00 && low <= 0xDFFF) {
      cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      pos_ += 6;
    } else {
      cp = 0xFFFD;
    }
  }
  append_utf8(s_.decoded, cp);
}

json json::parser::close_container() {
  const open_container top = s_.containers.back();
  s_.containers.pop_back();
  if (top.is_object) {
    std::vector<pending_member>& scratch = s_.members;
    json done = make_object();
    json::members* out = done.v_.o;
    out->reserve(scratch.size() - top.start);
    for (size_t i = top.start; i < scratch.size(); ++i) {
      pending_member& m = scratch[i];
      const key_text key{m.key.decoded ? s_.decoded_keys.data() + m.key.start : text_ + m.key.start, m.key.len};
      out->emplace_back(std::piecewise_construct, std::forward_as_tuple(key), std::forward_as_tuple(std::move(m.value)));
    }
    scratch.erase(scratch.begin() + static_cast<std::ptrdiff_t>(top.start), scratch.end());
    // Once no object is open, no key refers to the decoded keys.
    if (s_.containers.empty()) s_.decoded_keys.clear();
    ++pos_;
    return done;
  }
  json::elements& scratch = s_.elements;
  json done = make_array(nullptr, 0);
  json::elements& out = *done.v_.a;
  out.reserve(scratch.size() - top.start);
  for (size_t i = top.start; i < scratch.size(); ++i) out.emplace_back(std::move(scratch[i]));
  scratch.erase(scratch.begin() + static_cast<std::ptrdiff_t>(top.start), scratch.end());
  ++pos_;
  return done;
}

// One pass over the text; the labels are the parser's states and each completed value goes
// straight onto its container's scratch stack.
json json::parser::run() {
  std::vector<open_container>& containers = s_.containers;
  const char* message = nullptr;
  size_t start = 0, len = 0;
  stored where = stored::result;

value_expected:
  if (!skip_ws()) return ended();
  // Every value passes here before anything of it is built; past the bound only a
  // character that would begin one ends the parse, anything else keeps its own error.
  if (text_[pos_] != ']' && ++values_ > max_values && starts_value(text_[pos_])) goto too_many;
  switch (text_[pos_]) {
    case '{':
      if (containers.size() == max_depth) goto too_deep;
      containers.emplace_back(true, s_.members.size());
      ++pos_;
      goto object_opened;
    case '[':
      if (containers.size() == max_depth) goto too_deep;
      containers.emplace_back(false, s_.elements.size());
      ++pos_;
      goto value_expected;
    case '"':
      if (read_string(start, len))
        where = store(string_value(text_ + start, len));
      else
        where = store(string_value(s_.decoded.data(), s_.decoded.size()));
      goto stored_value;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
      size_t n = 0;
      const double d = scan_number(text_ + pos_, len_ - pos_, n);
      pos_ += n;
      where = store(json(d));
      goto stored_value;
    }
    case 't':
      if (len_ - pos_ < 4 || std::memcmp(text_ + pos_, "true", 4) != 0) {
        message = "expecting object, array, string, number, true, false or null... 2";
        goto fatal;
      }
      pos_ += 4;
      where = store(json(true));
      goto stored_value;
    case 'f':
      if (len_ - pos_ < 5 || std::memcmp(text_ + pos_, "false", 5) != 0) {
        message = "expecting object, array, string, number, true, false or null... 3";
        goto fatal;
      }
      pos_ += 5;
      where = store(json(false));
      goto stored_value;
    case 'n':
      if (len_ - pos_ < 4 || std::memcmp(text_ + pos_, "null", 4) != 0) {
        message = "expecting object, array, string, number, true, false or null... 4";
        goto fatal;
      }
      pos_ += 4;
      where = store(json());
      goto stored_value;
    case ']':
      // Closes whatever container is open, an object too.
      if (!containers.empty()) goto close;
      message = expecting_value;
      goto fatal;
    default:
      message = expecting_value;
      goto fatal;
  }

object_opened:
  if (!skip_ws()) return ended();
  if (text_[pos_] == '"') goto key;
  if (text_[pos_] == '}') goto close;
  message = expecting_key;
  goto fatal;

key : {
  key_ref& k = containers.back().key;
  if (read_string(start, len)) {
    k = {start, len, false};
  } else {
    k = {s_.decoded_keys.size(), len, true};
    s_.decoded_keys += s_.decoded;
  }
  for (;;) {
    if (pos_ >= len_) return ended();
    const char c = text_[pos_];
    if (c == ':') {
      ++pos_;
      break;
    }
    if (c == ' ' || c == '\t' || c == '\r') {
      ++pos_;
    } else if (c == '\n') {
      ++line_;
      line_base_ = pos_;
      ++pos_;
    } else {
      report("expecting : after key");
      ++pos_;
    }
  }
  goto value_expected;
}

close:
  where = store(close_container());
  goto stored_value;

stored_value:
  if (where == stored::member) goto after_member;
  if (where == stored::element) goto after_element;
  return std::move(result_);

after_member:
  if (!skip_ws()) return ended();
  switch (text_[pos_]) {
    case ',':
      ++pos_;
      if (!skip_ws()) return ended();
      if (text_[pos_] != '"') {
        message = expecting_key;
        goto fatal;
      }
      goto key;
    case '}':
      goto close;
    default:
      report("expecting , or }");
      ++pos_;
      goto after_member;
  }

after_element:
  if (!skip_ws()) return ended();
  switch (text_[pos_]) {
    case ',':
      ++pos_;
      goto value_expected;
    case ']':
      goto close;
    default:
      report("expecting , or ]");
      ++pos_;
      goto after_element;
  }

too_deep:
  message = too_deep_message;
  goto fatal;
too_many:
  message = too_many_message;
fatal:
  report(message);
  return json();
}

bool json::skip_whitespace(uint64_t& line, uint64_t& column, char c) {
  if (c == '\n') {
    ++line;
    column = 0;
    return true;
  }
  return c == ' ' || c == '\t' || c == '\r';
}

json json::parse(const char* text, size_t len) {
  error_place ignored;
  return parse(text, len, ignored);
}

json json::parse(const char* text, size_t len, error_place& first_error) {
  first_error = error_place();
  if (len == 0) return json();
  thread_local parse_stacks kept;
  // A log sink may parse JSON itself while an error is reported: it gets stacks of its own.
  parse_stacks fresh;
  parse_stacks& stacks = kept.busy ? fresh : kept;
  stacks.busy = true;
  struct releaser {
    parse_stacks& s;
    ~releaser() { s.release(); }
  } release{stacks};
  parser p(text, len, stacks, &first_error);
  json value;
  try {
    value = p.run();
  } catch (...) {  // a malformed number: the errors before it are still counted
    p.report_unreported();
    throw;
  }
  p.report_unreported();
  return value;
}

}  // namespace vesk
