#include "compiler/block_lines.h"

#include "foundation/json.h"

namespace vesk {

block_span::block_span(block_line_map& map, const std::string& file, const src_stream& stream,
                       const std::string& place)
    : map_(map), file_(file), stream_(stream), place_(place), first_(lines_written(stream) + 1),
      size_(bytes_written(stream)) {}

block_span::~block_span() {
  if (place_.empty() || bytes_written(stream_) == size_) return;
  // The last line ended counts, and so does a line begun after it.
  const uint64_t ends = lines_written(stream_);
  const std::string pending = stream_.buf.str();
  const bool open_line = !pending.empty() && pending.back() != '\n';
  add_block_lines(map_, file_, first_, open_line || ends < first_ ? ends + 1 : ends, place_);
}

void add_block_lines(block_line_map& map, const std::string& file, uint64_t first, uint64_t last,
                     const std::string& place) {
  std::vector<line_range>& ranges = map[file];
  if (!ranges.empty() && ranges.back().place == place && ranges.back().last + 1 >= first) {
    if (last > ranges.back().last) ranges.back().last = last;
    return;
  }
  ranges.push_back(line_range{first, last, place});
}

std::string block_lines_text(const block_line_map& map, const std::string& prefix) {
  // Written by hand: line numbers as integers, one range a line.
  std::string out = "{";
  const char* file_sep = "\n";
  for (const auto& [file, ranges] : map) {
    out += file_sep + std::string("  ") + vesk::json(prefix + file).dump() + ": [";
    const char* sep = "\n";
    for (const line_range& r : ranges) {
      out += sep + std::string("    [") + std::to_string(r.first) + ", " + std::to_string(r.last) + ", " +
             vesk::json(r.place).dump() + "]";
      sep = ",\n";
    }
    out += "\n  ]";
    file_sep = ",\n";
  }
  return out + "\n}\n";
}

}  // namespace vesk
