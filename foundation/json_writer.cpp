// The text form of vesk::json: compact or indented, numbers as "%f" of a float.

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "foundation/json.h"

namespace vesk {

namespace {

const char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes `v` as decimal digits, two at a time; returns the count.
size_t write_digits(char* out, uint64_t v) {
  char tmp[24];
  char* p = tmp + sizeof tmp;
  while (v >= 100) {
    p -= 2;
    std::memcpy(p, digit_pairs + 2 * (v % 100), 2);
    v /= 100;
  }
  if (v >= 10) {
    p -= 2;
    std::memcpy(p, digit_pairs + 2 * v, 2);
  } else {
    *--p = static_cast<char>('0' + v);
  }
  size_t n = static_cast<size_t>(tmp + sizeof tmp - p);
  std::memcpy(out, p, n);
  return n;
}

// "%f" of the float `f`, at most 19 characters. For |f| < 1e9, f * 1e6 is exact in a
// double (a 24-bit mantissa times 2^6 * 15625), so rounding it to an integer gives the
// same digits as printf without the cost of printf.
size_t format_float(float f, char* buf) {
  double d = static_cast<double>(f);
  if (std::fabs(d) < 1e9) {
    double scaled = std::nearbyint(std::fabs(d) * 1e6);
    uint64_t r = static_cast<uint64_t>(scaled);
    size_t n = 0;
    if (std::signbit(d)) buf[n++] = '-';
    n += write_digits(buf + n, r / 1000000);
    buf[n++] = '.';
    uint32_t frac = static_cast<uint32_t>(r % 1000000);
    std::memcpy(buf + n, digit_pairs + 2 * (frac / 10000), 2);
    std::memcpy(buf + n + 2, digit_pairs + 2 * (frac / 100 % 100), 2);
    std::memcpy(buf + n + 4, digit_pairs + 2 * (frac % 100), 2);
    return n + 6;
  }
  int n = std::snprintf(buf, 20, "%f", d);
  return n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), 19);
}

size_t format_number(double d, char* buf) {
  // JSON has no NaN or infinity, and the parser would refuse the "%f" texts for them;
  // null keeps the document readable.
  if (!std::isfinite(d)) {
    std::memcpy(buf, "null", 4);
    return 4;
  }
  // Beyond single precision the narrowing itself is undefined; above 1e19 (below -1e18)
  // the 19-character cut would drop integer digits. Exponent form keeps the value.
  if (std::fabs(d) > FLT_MAX) {
    int n = std::snprintf(buf, 32, "%.6e", d);
    return n < 0 ? 0 : static_cast<size_t>(n);
  }
  float f = static_cast<float>(d);
  if (f >= 1e19f || f <= -1e18f) {
    int n = std::snprintf(buf, 32, "%.6e", static_cast<double>(f));
    return n < 0 ? 0 : static_cast<size_t>(n);
  }
  return format_float(f, buf);
}

// Appends to a std::string without a library call per fragment: the string is grown ahead
// (doubling what this writer wrote, not the whole string, so that appending a small value
// to a large text costs the value, not the text) and cut to the written length when done.
class text_out {
 public:
  explicit text_out(std::string& out) : out_(out), start_(out.size()), len_(out.size()) {}
  ~text_out() { out_.resize(len_); }
  text_out(const text_out&) = delete;
  text_out& operator=(const text_out&) = delete;

  void put(char c) {
    reserve(1);
    out_[len_++] = c;
  }
  void put(const char* p, size_t n) {
    reserve(n);
    std::memcpy(&out_[len_], p, n);
    len_ += n;
  }
  void put(const std::string& s) { put(s.data(), s.size()); }
  // Room for `n` more bytes that the caller writes through `tail`, then `commit`s.
  char* tail(size_t n) {
    reserve(n);
    return &out_[len_];
  }
  void commit(size_t n) { len_ += n; }

 private:
  void reserve(size_t n) {
    if (len_ + n > out_.size()) out_.resize(len_ + std::max(2 * (len_ - start_), n + 256));
  }
  std::string& out_;
  const size_t start_;
  size_t len_;
};

// How each byte is written inside quotes: 0 as it is, else the letter after its backslash
// ('u' for \u00XX). Backslash, quote and every control character below U+0020 (which no
// JSON text may hold raw) have one; the slash, DEL and UTF-8 bytes do not.
struct escape_table {
  char letter[256];
  constexpr escape_table() : letter() {
    for (int c = 0; c < 0x20; ++c) letter[c] = 'u';
    letter['\b'] = 'b';
    letter['\f'] = 'f';
    letter['\n'] = 'n';
    letter['\r'] = 'r';
    letter['\t'] = 't';
    letter['"'] = '"';
    letter['\\'] = '\\';
  }
};
constexpr escape_table escapes;

// Length of the run at the start of [s, s + n) that needs no escape.
inline size_t plain_prefix(const char* s, size_t n) {
  size_t i = 0;
#ifdef __SSE2__
  const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\'), last_control = _mm_set1_epi8(0x1f);
  for (; n - i >= 16; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(x, last_control), last_control);  // x <= 0x1f
    const int hit = _mm_movemask_epi8(
        _mm_or_si128(control, _mm_or_si128(_mm_cmpeq_epi8(x, quote), _mm_cmpeq_epi8(x, backslash))));
    if (hit != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(hit)));
  }
#endif
  while (i < n && escapes.letter[static_cast<unsigned char>(s[i])] == 0) ++i;
  return i;
}

// The rest of a string from its first byte that needs an escape: runs without one are
// copied whole, each other byte becomes its escape.
__attribute__((noinline)) void write_escaped(text_out& out, const char* s, size_t n) {
  static const char hex[] = "0123456789abcdef";
  size_t i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const char letter = escapes.letter[c];
    if (letter == 'u') {
      const char unicode[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
      out.put(unicode, 6);
    } else {
      const char pair[2] = {'\\', letter};
      out.put(pair, 2);
    }
    ++i;
    const size_t run = plain_prefix(s + i, n - i);
    out.put(s + i, run);
    i += run;
  }
}

// A string or a key, quoted and escaped, then `trail` (the colon after a key). A string
// without escapes, the common case, is one reservation and one copy.
inline void write_string(text_out& out, const std::string& str, const char* trail, size_t trail_len) {
  const char* s = str.data();
  const size_t n = str.size();
  char* d = out.tail(n + 2 + trail_len);
  d[0] = '"';
  const size_t plain = plain_prefix(s, n);
  std::memcpy(d + 1, s, plain);
  if (plain == n) {
    d[n + 1] = '"';
    std::memcpy(d + n + 2, trail, trail_len);
    out.commit(n + 2 + trail_len);
    return;
  }
  out.commit(1 + plain);
  write_escaped(out, s + plain, n - plain);
  out.put('"');
  out.put(trail, trail_len);
}

}  // namespace

std::string json_number_text(double d) {
  char buf[32];
  return std::string(buf, format_number(d, buf));
}

namespace {

// The quoted text of a string, by the writer's escapes.
size_t string_text_size(const std::string& text) {
  size_t size = text.size() + 2;
  for (unsigned char c : text) {
    const char letter = escapes.letter[c];
    size += letter == 0 ? 0 : letter == 'u' ? 5 : 1;
  }
  return size;
}

size_t scalar_text_size(const json& v) {
  switch (v.type()) {
    case json::bool_t:
      return v.get_bool() ? 4 : 5;
    case json::number_t: {
      char buf[32];
      return format_number(v.get_double(), buf);
    }
    case json::string_t:
      return string_text_size(v.get_string_ref());
    default:
      return 4;  // null
  }
}

}  // namespace

// Follows json::write: an open container, then per element a comma after the first, a
// line end, the element's indent, and for a member its key and ": "; then a line end,
// the container's own indent and the closing bracket. Iterative, as the writer is.
size_t indented_text_size(const json& value, size_t depth, size_t limit) {
  struct frame {
    const json* container;
    size_t next;
  };
  std::vector<frame> open;
  size_t total = 0;
  const json* v = &value;
  while (v != nullptr && total <= limit) {
    if (v->is_object() || v->is_array()) {
      total += 1;
      open.push_back({v, 0});
    } else {
      total += scalar_text_size(*v);
    }
    v = nullptr;
    while (!open.empty() && total <= limit) {
      frame& f = open.back();
      const size_t inner = depth + open.size();
      if (f.next < f.container->size()) {
        total += (f.next > 0 ? 2 : 1) + 2 * inner;
        if (f.container->is_object()) {
          const json::member& m = f.container->object_members()[f.next];
          total += string_text_size(m.first) + 2;
          v = &m.second;
        } else {
          v = &f.container->array_elements()[f.next];
        }
        ++f.next;
        break;
      }
      total += 2 + 2 * (inner - 1);
      open.pop_back();
    }
  }
  return total;
}

size_t nesting_depth(const json& value, size_t limit) {
  if (!value.is_object() && !value.is_array()) return 0;
  struct frame {
    const json* container;
    size_t next;
  };
  std::vector<frame> open{{&value, 0}};
  size_t deepest = 1;
  while (!open.empty() && deepest <= limit) {
    frame& f = open.back();
    if (f.next == f.container->size()) {
      open.pop_back();
      continue;
    }
    const json& v = f.container->is_object() ? f.container->object_members()[f.next].second
                                             : f.container->array_elements()[f.next];
    ++f.next;
    if (v.is_object() || v.is_array()) {
      open.push_back({&v, 0});
      deepest = std::max(deepest, open.size());
    }
  }
  return std::min(deepest, limit + 1);
}

// Iterative, with an explicit stack of open containers, so that any depth can be written.
void json::write(std::string& out_text, std::string& indent, const std::string& unit, const json& value,
                 bool compact) {
  struct frame {
    const json* container;
    size_t next;
    size_t count;
  };
  text_out out(out_text);
  std::vector<frame> open;
  const char* const colon = compact ? ":" : ": ";
  const size_t colon_len = compact ? 1 : 2;
  const json* v = &value;
  while (v) {
    switch (v->type_) {
      case null_t:
        out.put("null", 4);
        break;
      case bool_t:
        if (v->v_.b)
          out.put("true", 4);
        else
          out.put("false", 5);
        break;
      case number_t:
        out.commit(format_number(v->v_.d, out.tail(32)));
        break;
      case string_t:
        write_string(out, *v->v_.s, "", 0);
        break;
      case object_t:
      case array_t:
        out.put(v->type_ == object_t ? '{' : '[');
        if (!compact) indent += unit;
        open.push_back({v, 0, v->type_ == object_t ? v->v_.o->size() : v->v_.a->size()});
        break;
    }
    v = nullptr;
    while (!open.empty()) {
      frame& f = open.back();
      const bool is_object = f.container->type_ == object_t;
      if (f.next < f.count) {
        if (f.next > 0) out.put(',');
        if (!compact) out.put('\n');
        if (!indent.empty()) out.put(indent);
        if (is_object) {
          const member& m = (*f.container->v_.o)[f.next];
          write_string(out, m.first, colon, colon_len);
          v = &m.second;
        } else {
          v = &(*f.container->v_.a)[f.next];
        }
        ++f.next;
        break;
      }
      if (!compact) {
        out.put('\n');
        indent.resize(indent.size() >= unit.size() ? indent.size() - unit.size() : 0);
      }
      out.put(indent);
      out.put(is_object ? '}' : ']');
      open.pop_back();
    }
  }
}

std::string json::dump(const std::string& indent_unit) const {
  std::string out;
  std::string indent;
  write(out, indent, indent_unit, *this, indent_unit.empty());
  return out;
}

std::ostream& operator<<(std::ostream& os, const json& value) {
  switch (value.type()) {
    case json::null_t:
      break;
    case json::bool_t:
      os << value.get_bool();
      break;
    case json::number_t:
      os << value.get_double();
      break;
    case json::string_t:
      os << value.get_string_ref();
      break;
    default:
      os << value.dump("  ") << std::endl;
      break;
  }
  return os;
}

}  // namespace vesk
