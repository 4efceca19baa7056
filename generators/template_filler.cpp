#include "generators/template_filler.h"

#include <regex>

#include "foundation/helpers.h"

std::string fill_template(std::string tmpl, std::map<std::string, std::string> values) {
  std::string result = std::move(tmpl);
  for (const auto& kv : values) result = replace_all(result, "#" + kv.first + "#", kv.second);
  return result;
}

std::vector<std::string> regex_split(const std::string& text, const std::string& delimiter) {
  // Compiled expressions are kept per delimiter text; callers use only a few.
  thread_local std::map<std::string, std::regex> cache;
  auto it = cache.find(delimiter);
  if (it == cache.end()) it = cache.emplace(delimiter, std::regex(delimiter)).first;
  std::sregex_token_iterator first(text.begin(), text.end(), it->second, -1), last;
  std::vector<std::string> out(first, last);
  if (out.empty()) out.emplace_back();
  return out;
}

std::vector<std::string> split(std::string text, std::string delimiter) {
  std::vector<std::string> parts = regex_split(text, delimiter);
  for (auto& p : parts) p = trim(p);
  return parts;
}
