// A hand-written recursive-descent reader over one line.
// Every primitive returns the position after what it matched or npos, and never looks
// past the end of the line. Nested values are read with a bounded recursion depth and
// angle groups with a counter, so no input can exhaust the stack.

#include "annotations/declaration_grammar.h"

#include "annotations/text_scan.h"

namespace vesk::annotations {

namespace {

constexpr size_t npos = std::string::npos;

/// Deeper values ("a<b<c<...>>>" or "{{{...}}}") than this are not read as values;
/// real defaults stay far below it.
constexpr int max_value_depth = 100;

const char* const specifiers[] = {"virtual", "static", "const",        "explicit", "export",
                                  "extern",  "inline", "thread_local", "mutable",  "volatile"};

bool is_plain_char(char c) { return is_ident_char(c) || c == '.' || c == '-' || c == '+'; }

/// Optional blanks, then `c`.
size_t match_char(const std::string& s, size_t p, char c) {
  p = skip_decl_blanks(s, p);
  return p < s.size() && s[p] == c ? p + 1 : npos;
}

/// Optional blanks, "<", anything with nested groups, up to the matching ">".
size_t match_angle_group(const std::string& s, size_t p) {
  p = match_char(s, p, '<');
  if (p == npos) return npos;
  size_t depth = 1;
  for (; p < s.size(); ++p) {
    if (s[p] == '<') {
      ++depth;
    } else if (s[p] == '>' && --depth == 0) {
      return p + 1;
    }
  }
  return npos;
}

size_t match_value(const std::string& s, size_t p, int depth);

/// A double-quoted literal in which \\ and \" count as one character.
size_t match_string_literal(const std::string& s, size_t p) {
  p = skip_decl_blanks(s, p);
  if (p >= s.size() || s[p] != '"') return npos;
  for (size_t i = p + 1; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      ++i;
    } else if (s[i] == '"') {
      return i + 1;
    }
  }
  return npos;
}

/// [qualifier::]name<value, value...>
size_t match_template_value(const std::string& s, size_t p, int depth) {
  size_t q = identifier_end(s, p);
  if (q > p && literal_at(s, q, "::")) p = q + 2;
  p = skip_decl_blanks(s, p);
  q = identifier_end(s, p);
  if (q == p) return npos;
  p = match_char(s, q, '<');
  if (p == npos) return npos;
  p = match_value(s, p, depth + 1);
  if (p == npos) return npos;
  for (;;) {
    size_t comma = match_char(s, p, ',');
    if (comma == npos) break;
    size_t next = match_value(s, comma, depth + 1);
    if (next == npos) break;
    p = next;
  }
  return match_char(s, p, '>');
}

/// {value, value...}
size_t match_braced_list(const std::string& s, size_t p, int depth) {
  p = match_char(s, p, '{');
  if (p == npos) return npos;
  p = match_value(s, p, depth + 1);
  if (p == npos) return npos;
  p = skip_decl_blanks(s, p);
  for (;;) {
    size_t comma = match_char(s, p, ',');
    if (comma == npos) break;
    size_t next = match_value(s, skip_decl_blanks(s, comma), depth + 1);
    if (next == npos) break;
    p = next;
  }
  return match_char(s, p, '}');
}

size_t match_value(const std::string& s, size_t p, int depth) {
  if (depth > max_value_depth) return npos;
  size_t q = match_string_literal(s, p);
  if (q != npos) return q;
  q = match_template_value(s, p, depth);
  if (q != npos) return q;
  q = p;
  while (q < s.size() && is_plain_char(s[q])) ++q;
  if (q > p) return q;
  return match_braced_list(s, p, depth);
}

/// One declarator at `p`: specifiers, type, name and an optional "= value". Argument
/// types keep their specifiers ("const double&").
size_t match_declarator(const std::string& s, size_t p, decl_part& out, bool argument) {
  const size_t start = p;
  for (bool more = true; more;) {
    more = false;
    for (const char* word : specifiers) {
      if (literal_at(s, p, word)) {
        p = skip_decl_blanks(s, p + std::char_traits<char>::length(word));
        more = true;
        break;
      }
    }
  }
  const size_t type_start = argument ? start : p;
  for (;;) {  // qualifiers "a::", "::"
    size_t q = skip_decl_blanks(s, identifier_end(s, skip_decl_blanks(s, p)));
    if (!literal_at(s, q, "::")) break;
    p = q + 2;
  }
  for (;;) {
    size_t q = skip_decl_blanks(s, p);
    if (!literal_at(s, q, "unsigned")) break;
    p = q + 8;
  }
  size_t q = skip_decl_blanks(s, p);
  p = identifier_end(s, q);
  if (p == q) return npos;
  auto pointer_or_ref = [&s](size_t at) {
    size_t r = skip_decl_blanks(s, at);
    return r < s.size() && (s[r] == '*' || s[r] == '&') ? r + 1 : at;
  };
  p = pointer_or_ref(p);
  q = match_angle_group(s, p);
  if (q != npos) p = q;
  p = pointer_or_ref(p);
  out.type = s.substr(type_start, p - type_start);

  q = skip_decl_blanks(s, p);
  p = identifier_end(s, q);
  if (p == q) return npos;
  out.name = s.substr(q, p - q);

  q = match_char(s, p, '=');
  if (q != npos) {
    q = skip_decl_blanks(s, q);
    size_t end = match_value(s, q, 0);
    if (end != npos) {
      out.default_val = s.substr(q, end - q);
      p = end;
    }
  }
  return p;
}

}  // namespace

declaration parse_declaration(const std::string& line) {
  declaration d;
  decl_part part;
  size_t p = match_declarator(line, 0, part, false);
  if (p == npos) return d;
  d.parts.push_back(std::move(part));
  p = match_char(line, p, '(');
  if (p == npos) return d;
  d.is_function = true;
  for (bool first = true;; first = false) {
    size_t at = p;
    if (!first) {
      at = match_char(line, p, ',');
      if (at == npos) break;
    }
    decl_part arg;
    size_t end = match_declarator(line, skip_decl_blanks(line, at), arg, true);
    if (end == npos) break;  // an argument without a name ends the list
    d.parts.push_back(std::move(arg));
    p = end;
  }
  return d;
}

}  // namespace vesk::annotations
