#include "foundation/helpers.h"

#include <cmath>

std::string replace_all(std::string text, const std::string& search, const std::string& replacement) {
  if (search.empty()) return text;  // nothing to find; scanning would never advance
  size_t p = 0;
  while ((p = text.find(search, p)) != std::string::npos) {
    text.replace(p, search.size(), replacement);
    p += replacement.size();
  }
  return text;
}

std::string trim(std::string text) {
  static const char* ws = " \n\r\t";
  size_t b = text.find_first_not_of(ws);
  if (b == std::string::npos) return std::string();
  text.erase(0, b);
  text.erase(text.find_last_not_of(ws) + 1);
  return text;
}

bool ends_with(const std::string& text, const std::string& suffix) {
  return suffix.size() <= text.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return prefix.size() <= text.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool is_identifier(const std::string& name) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (name.empty() || !letter(name[0])) return false;
  for (char c : name)
    if (!letter(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

namespace {
bool extension_in(const std::filesystem::path& path, std::initializer_list<const char*> list) {
  std::string ext = path.extension().string();
  for (const char* e : list)
    if (ext == e) return true;
  return false;
}
}  // namespace

bool is_header_file(const std::filesystem::path& path) {
  return extension_in(path, {".h", ".hpp", ".hh", ".H", ".HPP", ".HH"});
}

bool is_source_file(const std::filesystem::path& path) {
  return extension_in(path, {".c", ".cpp", ".cc", ".C", ".CPP", ".CC"});
}

bool has_option(int argc, const char* const* argv, const std::vector<std::string>& names) {
  for (const std::string& name : names)
    for (int i = 1; i < argc; ++i)
      if (name == argv[i]) return true;
  return false;
}

void option_value(int argc, const char* const* argv, const std::vector<std::string>& names, uint16_t& value) {
  for (const std::string& name : names) {
    for (int i = 1; i + 1 < argc; ++i) {
      if (name != argv[i]) continue;
      double d = std::stod(argv[i + 1]);
      // Truncate toward zero and keep the low 16 bits; beyond 64 bits (and NaN) the
      // conversion would be undefined, so such values count as 0.
      double t = std::trunc(d);
      int64_t whole = (t > -9.2e18 && t < 9.2e18) ? static_cast<int64_t>(t) : 0;
      value = static_cast<uint16_t>(static_cast<uint64_t>(whole) & 0xFFFF);
      return;
    }
  }
}
