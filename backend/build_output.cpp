#include "backend/build_output.h"

#include <algorithm>

namespace vesk {

std::vector<std::string> build_output_lines::take(const std::string& bytes, bool flush) {
  rest_ += bytes;
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = rest_.find('\n', start)) != std::string::npos; start = nl + 1) {
    if (nl > start) lines.push_back(rest_.substr(start, nl - start));
  }
  rest_.erase(0, start);
  if (flush && !rest_.empty()) {
    lines.push_back(rest_);
    rest_.clear();
  }
  return lines;
}

bool build_output_lines::holds_message() const {
  if (rest_.empty()) return false;
  const std::string prefix = "j: ";
  const size_t n = std::min(rest_.size(), prefix.size());
  return rest_.compare(0, n, prefix, 0, n) == 0;
}

build_line_route route_build_line(const std::string& line) {
  static const struct {
    const char* prefix;
    const char* type;
  } prefixes[] = {{"d: ", "debug"}, {"i: ", "info"}, {"w: ", "warn"}, {"e: ", "error"}, {"j: ", "json"}};
  for (const auto& p : prefixes) {
    if (line.compare(0, 3, p.prefix) == 0) return {p.type, line.substr(3)};
  }
  return {"console", line};
}

}  // namespace vesk
