#pragma once
// vesk::json: the system's one JSON value. A tagged value that owns its payload; objects
// keep their members in insertion order and are searched linearly. Text form in
// json_writer.cpp and json_parser.cpp.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace vesk {

/// One JSON value: null, bool, number, text, object or array.
class json {
 public:
  enum type_t : uint32_t { null_t = 0, bool_t = 1, number_t = 2, string_t = 3, object_t = 4, array_t = 5 };
  using member = std::pair<std::string, json>;
  using members = std::vector<member>;
  using elements = std::vector<json>;

  json() noexcept {}
  json(bool b) noexcept : type_(bool_t) { v_.b = b; }
  json(double d) noexcept : type_(number_t) { v_.d = d; }
  json(int i) noexcept : json(static_cast<double>(i)) {}
  json(const std::string& s);
  json(std::string&& s);
  json(const char* s);
  /// List construction: {"key", value} makes a one-member object, a list of objects merges
  /// them (null members dropped, later keys win), anything else makes an array.
  json(std::initializer_list<json> list);
  json(const json& other);
  json(json&& other) noexcept : type_(other.type_), v_(other.v_) { other.type_ = null_t; }
  json& operator=(const json& other);
  json& operator=(json&& other) noexcept;
  /// Frees the payload. Copying, writing and destroying never recurse, so values of any
  /// nesting depth are safe.
  ~json() { if (type_ >= string_t) reset(); }

  /// An empty object.
  static json make_object();
  /// An array of copies of the `n` values starting at `first`.
  static json make_array(const json* first, size_t n);

  type_t type() const { return type_; }
  bool is_null() const { return type_ == null_t; }
  bool is_bool() const { return type_ == bool_t; }
  bool is_number() const { return type_ == number_t; }
  bool is_string() const { return type_ == string_t; }
  bool is_object() const { return type_ == object_t; }
  bool is_array() const { return type_ == array_t; }

  /// Text of a string, the writer's text of a number, "" for null; type error otherwise.
  std::string get_string() const;
  /// The text of a string without copying; type error for any other type.
  const std::string& get_string_ref() const;
  /// Moves the text of a string out, leaving the empty string: a large text taken from a
  /// message is not copied. Type error for any other type.
  std::string take_string();
  /// A number, 0/1 for a bool, 0 for null, std::stod of a string; type error otherwise.
  double get_double() const;
  /// Direct access to the bool payload; type error for any other type.
  bool get_bool() const;

  /// Member by key; null becomes an object and a missing key is appended with null.
  json& operator[](const std::string& key);
  json& operator[](const char* key);
  /// Member by key (string key) or by position (number key, truncated toward zero).
  json& operator[](const json& key);
  /// Whether an object has the key; null becomes an empty object, other types give false.
  bool contains(const std::string& key);
  bool contains(const char* key, size_t len);
  /// Whether any member of `m` has the key (the first one wins on lookups).
  static bool has_member(const members& m, const std::string& key);
  /// Member count of an object, element count of an array, 0 otherwise.
  size_t size() const;
  /// Empties the value keeping its type.
  void clear();
  /// Appends to an array; null becomes an array first.
  void push_back(const json& value);
  void push_back(json&& value);
  /// Removes blanks, \n, \r and \t at both ends of a string in place; null becomes "".
  json& trim();

  /// True only for a string equal to `text`; false for every other type.
  bool operator==(const char* text) const;
  /// True only for a string different from `text`; false for every other type.
  bool operator!=(const char* text) const;

  /// Members of an object (type error for other types).
  members& object_members();
  const members& object_members() const;
  /// Elements of an array (type error for other types).
  elements& array_elements();
  const elements& array_elements() const;

  /// Frees the payload and makes the value null.
  void reset() noexcept;

  /// JSON text; an empty `indent_unit` gives the compact form.
  std::string dump(const std::string& indent_unit = "") const;
  /// Appends the text of `value` to `out` (see dump).
  static void write(std::string& out, std::string& indent, const std::string& indent_unit,
                    const json& value, bool compact);
  /// Deepest nesting of objects and arrays that parse builds; deeper text is a fatal error.
  static constexpr size_t max_depth = 10000;
  /// Most values (objects, arrays, strings, numbers, literals; a member counts by its value)
  /// that one parse builds; more is a fatal error. Each value costs a multiple of its text,
  /// so this keeps one text of many small values within a fixed memory budget.
  static constexpr size_t max_values = 1000000;
  /// Parses a text; syntax errors go to log_err (at most ten lines, then one line with the
  /// count of the rest) and give null or a value with the offending character skipped.
  /// Malformed numbers throw the standard conversion errors.
  static json parse(const char* text, size_t len);
  static json parse(const std::string& text) { return parse(text.data(), text.size()); }
  /// Where a parse met its first reported syntax error, as its log line counts (from 0).
  struct error_place {
    bool found = false;
    uint64_t line = 0;
    uint64_t column = 0;
    bool ended_early = false;  ///< the text ended inside an open object or array
  };
  /// As parse, and notes the place of the first reported error in `first_error`, so that
  /// a reader of a file can name it without watching the log.
  static json parse(const char* text, size_t len, error_place& first_error);
  /// White-space test of the parser: counts a line on '\n'.
  static bool skip_whitespace(uint64_t& line, uint64_t& column, char c);

  class iterator;
  /// One step of an iteration: the value, its key ("" for array elements) and the index.
  struct item {
    json* value;
    std::string key;
    size_t index;
    iterator& it;
  };
  /// Walks the members of an object or the elements of an array; nothing for other types.
  class iterator {
   public:
    iterator(json* walked, size_t member_pos, size_t element_pos)
        : walked_(walked), member_pos_(member_pos), element_pos_(element_pos) {}
    iterator operator++();
    bool operator!=(const iterator& other) const;
    item operator*();

   private:
    json* walked_;
    size_t member_pos_;
    size_t element_pos_;
    size_t index_ = 0;
  };
  iterator begin() { return iterator(this, 0, 0); }
  iterator end();

 private:
  class parser;  // json_parser.cpp
  /// A string value of the `len` bytes at `s`, copied once, straight into its payload.
  static json string_value(const char* s, size_t len);
  /// The `len` bytes at `s` as a string; short texts are copied without a library call.
  static std::string text_of(const char* s, size_t len);
  [[noreturn]] static void type_error();
  json& member_at(const char* key, size_t len);
  void copy_from(const json& other);
  void free_containers() noexcept;

  type_t type_ = null_t;
  union payload {
    bool b;
    double d;
    std::string* s;
    members* o;
    elements* a;
  } v_{};
};

/// Writes a string raw, a number in the stream's format, a bool as 1/0, null as nothing,
/// and an object or array as indented JSON followed by std::endl.
std::ostream& operator<<(std::ostream& os, const json& value);

/// Formats a number as the JSON writer does ("%f" after narrowing to single precision).
std::string json_number_text(double d);

/// The bytes that `value` takes written with the two-blank indent, its first line at
/// `depth` levels (as in an array `depth` levels deep), counted without writing it. The
/// indent makes a deeply nested value many times its parsed size, so a value from a peer
/// is measured before it is written; counting stops once past `limit` (the result is then
/// some number above it).
size_t indented_text_size(const json& value, size_t depth, size_t limit);

/// How deeply objects and arrays nest in `value` (a scalar 0, `[]` 1, `[[]]` 2), found
/// without recursion; the walk stops once past `limit` (the result is then limit + 1).
/// A reader of the back end's messages parses them recursively: what is kept for it is
/// held within a depth that such a reader handles.
size_t nesting_depth(const json& value, size_t limit);

}  // namespace vesk
