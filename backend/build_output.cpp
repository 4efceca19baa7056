#include "backend/build_output.h"

#include <algorithm>
#include <cstring>

#include "backend/backend_state.h"

namespace vesk {

static_assert(build_text_limit == log_entry_limit, "a line keeps what one log entry keeps");

void build_output_lines::start_poll() {
  lines_left_ = build_poll_line_limit;
  bytes_left_ = build_poll_byte_limit;
  dropped_now_ = false;
}

void build_output_lines::take(const char* data, size_t size, std::vector<build_output_line>& out) {
  while (size > 0) {
    const void* found = std::memchr(data, '\n', size);
    const size_t part = found ? static_cast<size_t>(static_cast<const char*>(found) - data) : size;
    append(data, part);
    if (!found) return;
    end_line(out);
    data += part + 1;
    size -= part + 1;
  }
}

void build_output_lines::append(const char* data, size_t size) {
  if (size == 0) return;
  if (length_ == 0 && (lines_left_ == 0 || bytes_left_ == 0)) {
    dropping_ = true;
    ++dropped_lines_;
  }
  length_ += size;
  if (dropping_) {
    dropped_bytes_ += size;
    dropped_now_ = true;
    return;
  }
  // Only the beginning is copied; of the rest the length is all that counts.
  if (line_.size() < build_line_limit) line_.append(data, std::min(size, build_line_limit - line_.size()));
}

void build_output_lines::end_line(std::vector<build_output_line>& out) {
  if (length_ > 0 && !dropping_) {
    bytes_left_ -= std::min(bytes_left_, line_.size());
    --lines_left_;
    out.push_back({line_, length_});
  }
  line_.clear();
  length_ = 0;
  dropping_ = false;
}

void build_output_lines::flush(std::vector<build_output_line>& out) { end_line(out); }

bool build_output_lines::waits() const {
  if (dropping_) return true;
  if (line_.empty()) return false;
  const size_t n = std::min<size_t>(line_.size(), 3);
  return line_.compare(0, n, "j: ", n) == 0;
}

std::string build_output_lines::end_poll(bool ended) {
  if (dropped_lines_ == 0) return std::string();
  if (dropped_now_ && !ended && ++dropping_polls_ < build_drop_note_polls) return std::string();
  std::string note = "Too much build output: " + std::to_string(dropped_lines_) + " lines (" +
                     std::to_string(dropped_bytes_) + " bytes) were dropped.";
  dropped_lines_ = 0;
  dropped_bytes_ = 0;
  dropping_polls_ = 0;
  return note;
}

void build_output_lines::clear() {
  line_.clear();
  length_ = 0;
  dropping_ = false;
  dropped_lines_ = 0;
  dropped_bytes_ = 0;
  dropping_polls_ = 0;
}

std::string build_entry_text(const build_output_line& line, size_t skip) {
  const size_t from = std::min(skip, line.text.size());
  // The note of a cut line counts the whole line, not only what was kept of it.
  return log_entry_text(line.text.data() + from, line.text.size() - from, line.length - from);
}

build_line_route route_build_line(const std::string& line) {
  static const struct {
    const char* prefix;
    const char* type;
  } prefixes[] = {{"d: ", "debug"}, {"i: ", "info"}, {"w: ", "warn"}, {"e: ", "error"}, {"j: ", "json"}};
  for (const auto& p : prefixes) {
    if (line.compare(0, 3, p.prefix) == 0) return {p.type, line.substr(3), 3};
  }
  return {"console", line, 0};
}

}  // namespace vesk
