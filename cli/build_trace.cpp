#include "cli/build_trace.h"

#include <algorithm>

namespace vesk {

namespace fs = std::filesystem;

const char* const block_lines_file = "block_lines.json";

namespace {

/// Takes the number after the last ':' of `head` off it; false when there is none.
bool take_number(std::string& head, uint64_t& number) {
  const size_t colon = head.rfind(':');
  if (colon == std::string::npos || colon + 1 == head.size() || head.size() - colon > 19) return false;
  uint64_t value = 0;
  for (size_t i = colon + 1; i < head.size(); ++i) {
    if (head[i] < '0' || head[i] > '9') return false;
    value = value * 10 + static_cast<uint64_t>(head[i] - '0');
  }
  number = value;
  head.erase(colon);
  return true;
}

}  // namespace

bool read_diagnostic(const std::string& text, diagnostic_place& place) {
  size_t at = std::string::npos;
  for (const char* kind : {": error: ", ": warning: ", ": note: ", ": fatal error: "})
    at = std::min(at, text.find(kind));
  if (at == std::string::npos) return false;
  std::string head = text.substr(0, at);
  uint64_t first = 0, second = 0;
  if (!take_number(head, second)) return false;
  // With a column, the line stands before it.
  place.line = take_number(head, first) ? first : second;
  place.path = head;
  return !head.empty() && place.line > 0;
}

std::string traced_line(const std::string& text, const block_line_map& map, const fs::path& build_dir) {
  diagnostic_place at;
  if (map.empty() || !read_diagnostic(text, at)) return text;
  fs::path path = fs::path(at.path).lexically_normal();  // "model/./r10ms.h" as included
  if (path.is_absolute()) path = path.lexically_relative(build_dir.lexically_normal());
  if (path.parent_path() != "model") return text;
  const auto file = map.find(path.filename().string());
  if (file == map.end()) return text;
  // The ranges stand in line order: the last one starting at or before the line.
  const std::vector<line_range>& ranges = file->second;
  auto it = std::upper_bound(ranges.begin(), ranges.end(), at.line,
                             [](uint64_t line, const line_range& r) { return line < r.first; });
  if (it == ranges.begin() || (--it)->last < at.line) return text;
  return text + " in " + it->place;
}

}  // namespace vesk
