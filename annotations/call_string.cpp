// Call strings: "method(arg, arg) -> target" of the call annotations. Every scan is
// bounded by the text's length.

#include "annotations/call_string.h"

#include <ostream>
#include <utility>

#include "annotations/text_scan.h"
#include "foundation/log_stream.h"

namespace vesk::annotations {

namespace {

/// Position after `c` when a blank run followed by `c` stands at `pos`, else npos.
size_t blanks_then(const std::string& s, size_t pos, char c) {
  pos = skip_blanks(s, pos);
  return pos < s.size() && s[pos] == c ? pos + 1 : std::string::npos;
}

void add_arg(call& c, const std::string& text, size_t begin, size_t end) {
  std::string name = text.substr(begin, end - begin);
  if (log_debug.enabled) log_debug << "       parsed_arg: " << name << std::endl;
  c.args.emplace_back(std::move(name), "", "");
}

}  // namespace

size_t parse_call_args(call& c, const std::string& text, size_t pos) {
  size_t end = identifier_end(text, pos);
  if (end == pos) return std::string::npos;
  add_arg(c, text, pos, end);
  pos = end;
  for (;;) {
    size_t comma = blanks_then(text, pos, ',');
    if (comma == std::string::npos) break;
    size_t begin = skip_blanks(text, comma);
    end = identifier_end(text, begin);
    if (end == begin) break;  // an incomplete repetition is not consumed
    add_arg(c, text, begin, end);
    pos = end;
  }
  return pos;
}

void parse_call_string(call& c, std::string call_str, bool construct) {
  if (log_debug.enabled) log_debug << "       parse call_str:" << call_str << std::endl;
  const std::string& s = call_str;

  if (construct) {
    size_t pos = skip_blanks(s, 0);
    size_t open = blanks_then(s, pos, '(');
    if (open != std::string::npos) pos = open;
    parse_call_args(c, s, pos);
    return;  // a closing ")" adds nothing
  }

  const size_t start = skip_blanks(s, 0);
  size_t pos = identifier_end(s, start);
  c.method_name = s.substr(start, pos - start);

  size_t search = start;
  size_t open = blanks_then(s, pos, '(');
  if (open != std::string::npos) {
    size_t after_args = parse_call_args(c, s, open);
    if (after_args == std::string::npos) after_args = open;
    size_t close = blanks_then(s, after_args, ')');
    if (close != std::string::npos) search = close;
  }

  size_t arrow = skip_blanks(s, search);
  if (s.compare(arrow, 2, "->") != 0) return;
  size_t target = skip_blanks(s, arrow + 2);
  size_t target_end = identifier_end(s, target);
  if (target_end != target) c.return_to = s.substr(target, target_end - target);
}

std::string namespace_prefix(const parser_state& state) {
  std::string prefix;
  for (const std::string& ns : state.namespaces) prefix += ns + "::";
  return prefix;
}

}  // namespace vesk::annotations
