#include "generators/expression_generator.h"

#include <algorithm>
#include <set>
#include <utility>

#include "foundation/helpers.h"
#include "generators/code_text.h"
#include "generators/config_check.h"

// The scanners below do by hand what the patterns "[^"]*", (\.|->)[a-zA-Z0-9_]*
// and [a-zA-Z][a-zA-Z0-9_]* would do with leftmost, non-overlapping search: same
// matches, but no recursion whose depth grows with the text (long literals
// would otherwise overflow the stack) and far faster.

namespace vesk {

namespace {

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_word(char c) { return is_letter(c) || (c >= '0' && c <= '9') || c == '_'; }

size_t skip_word(const std::string& text, size_t pos) {
  while (pos < text.size() && is_word(text[pos])) ++pos;
  return pos;
}

std::string remove_spans(const std::string& text, const std::vector<text_span>& spans) {
  std::string out;
  size_t pos = 0;
  for (const auto& s : spans) {
    out.append(text, pos, s.begin - pos);
    pos = s.end;
  }
  out.append(text, pos, std::string::npos);
  return out;
}

}  // namespace

std::vector<text_span> string_literal_spans(const std::string& text) {
  std::vector<text_span> spans;
  size_t pos = text.find('"');
  while (pos != std::string::npos) {
    size_t close = text.find('"', pos + 1);
    if (close == std::string::npos) break;  // unterminated: the rest stays code
    spans.push_back({pos, close + 1});
    pos = text.find('"', close + 1);
  }
  return spans;
}

std::vector<text_span> member_spans(const std::string& text) {
  std::vector<text_span> spans;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t start = pos;
    if (text[pos] == '.') {
      pos = skip_word(text, pos + 1);
    } else if (text[pos] == '-' && pos + 1 < text.size() && text[pos + 1] == '>') {
      pos = skip_word(text, pos + 2);
    } else {
      ++pos;
      continue;
    }
    spans.push_back({start, pos});
  }
  return spans;
}

std::vector<text_span> identifier_spans(const std::string& text) {
  std::vector<text_span> spans;
  size_t pos = 0;
  while (pos < text.size()) {
    if (!is_letter(text[pos])) {
      ++pos;
      continue;
    }
    size_t end = skip_word(text, pos + 1);
    spans.push_back({pos, end});
    pos = end;
  }
  return spans;
}

std::vector<vesk::property> expression_generator::get_properties() {
  return {
      {"function", "text", "a+b"},
      {"output_name", "text", "out"},
      {"output_type", "text", "auto"},
      {"type_header", "text", ""},
      {"disable_output", "checkbox", false},
  };
}

std::vector<vesk::config_warning> expression_generator::check_config() {
  std::vector<vesk::config_warning> found = read_block_config(cfg, get_properties(), {"container_header"}, "expression");
  add_empty_function(cfg, found);
  return found;
}

bool expression_generator::output_on() { return !checkbox_value(cfg["disable_output"]); }

vesk::view_config expression_generator::get_view_config() {
  vesk::view_config v("no name", "auto");
  v.default_name = "expr";
  if (output_on()) {
    std::string out_name = cfg["output_name"].get_string();
    v.outputs[out_name] = vesk::output_pin(cfg["output_type"].get_string(), "block");
  }
  std::string text = cfg["function"].get_string();
  text = remove_spans(text, string_literal_spans(text));
  text = remove_spans(text, member_spans(text));
  std::set<std::string> names;
  for (const auto& s : identifier_spans(text)) {
    std::string id = text.substr(s.begin, s.end - s.begin);
    if (id != "true" && id != "false") names.insert(id);
  }
  // The names are distinct: appending equals the keyed insert without its
  // linear search, which would make long expressions quadratic.
  for (const auto& n : names) v.inputs.push_back({n, vesk::input_pin("auto")});
  return v;
}

std::vector<std::string> expression_generator::get_headers() { return configured_header(cfg); }

std::string expression_generator::rewrite_expression() {
  std::string text = cfg["function"].get_string();

  // Masks: literals and member names are put aside so input names inside
  // them survive. Members after "->" are masked like those after ".".
  std::vector<text_span> literals = string_literal_spans(text);
  std::vector<text_span> masks = literals;
  size_t lit = 0;
  for (const auto& m : member_spans(text)) {
    while (lit < literals.size() && literals[lit].end <= m.begin) ++lit;
    if (lit < literals.size() && literals[lit].begin <= m.begin) continue;  // inside a literal
    masks.push_back(m);
  }
  std::sort(masks.begin(), masks.end(),
            [](const text_span& a, const text_span& b) { return a.end > b.end; });
  std::vector<std::string> masked;
  for (size_t i = 0; i < masks.size(); ++i) {
    const auto& m = masks[i];
    masked.push_back(text.substr(m.begin, m.end - m.begin));
    text.replace(m.begin, m.end - m.begin, "#" + std::to_string(i) + "#");
  }

  // Longest names first, so an input "ab" is not broken up by an input "a".
  std::vector<std::pair<std::string, std::string>> names;
  for (const auto& kv : inputs)
    if (!kv.first.empty()) names.push_back(kv);
  std::stable_sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
    return a.first.size() > b.first.size();
  });
  for (size_t i = 0; i < names.size(); ++i)
    text = replace_all(text, names[i].first, "@" + std::to_string(i) + "@");
  for (size_t i = 0; i < names.size(); ++i)
    text = replace_all(text, "@" + std::to_string(i) + "@", names[i].second);
  for (size_t i = 0; i < masked.size(); ++i)
    text = replace_all(text, "#" + std::to_string(i) + "#", masked[i]);
  return text;
}

void expression_generator::write_tick(std::ostream& os) {
  if (output_on()) {
    std::string out_name = cfg["output_name"].get_string();
    std::string target = outputs[out_name];
    os << target << " = " << rewrite_expression() << ";" << std::endl;
  } else {
    os << rewrite_expression() << ";" << std::endl;
  }
}

std::string expression_generator::get_output_type() {
  return "decltype(" + rewrite_expression() + ")";
}

}  // namespace vesk
