#pragma once
// Small character and message helpers shared by the scanner and the two grammars of
// node sources. Every scan takes the text and a position and never reads past the end.

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace vesk::annotations {

/// Blanks of node sources: space, tab and carriage return, never the line feed.
inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
/// The declaration grammar also takes a NUL byte for a blank.
inline bool is_decl_blank(char c) { return is_blank(c) || c == '\0'; }
inline bool is_ident_start(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
inline bool is_ident_char(char c) { return is_ident_start(c) || (c >= '0' && c <= '9'); }

/// Position after the run of blanks at `p`.
inline size_t skip_blanks(std::string_view s, size_t p) {
  while (p < s.size() && is_blank(s[p])) ++p;
  return p;
}

/// The same with the blanks of the declaration grammar.
inline size_t skip_decl_blanks(std::string_view s, size_t p) {
  while (p < s.size() && is_decl_blank(s[p])) ++p;
  return p;
}

/// End of the identifier at `p`, or `p` when none starts there.
inline size_t identifier_end(std::string_view s, size_t p) {
  if (p >= s.size() || !is_ident_start(s[p])) return p;
  ++p;
  while (p < s.size() && is_ident_char(s[p])) ++p;
  return p;
}

/// Whether `lit` stands at `p` (no word boundary test).
inline bool literal_at(std::string_view s, size_t p, const char* lit) {
  for (; *lit; ++lit, ++p)
    if (p >= s.size() || s[p] != *lit) return false;
  return true;
}

/// "file:line": a place in a node source.
inline std::string source_place(const std::string& file_name, unsigned long line_nr) {
  return file_name + ":" + std::to_string(line_nr);
}

/// The "file:line " that begins every message about a place in a node source.
inline std::string location(const std::string& file_name, unsigned long line_nr) {
  return source_place(file_name, line_nr) + " ";
}

/// A source line number as the 32-bit line field of a node (saturated).
inline int32_t to_line_field(unsigned long line_nr) {
  return line_nr > static_cast<unsigned long>(std::numeric_limits<int32_t>::max())
             ? std::numeric_limits<int32_t>::max()
             : static_cast<int32_t>(line_nr);
}

}  // namespace vesk::annotations
