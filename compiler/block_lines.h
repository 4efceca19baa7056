#pragma once
// Which block of the model wrote which lines of the generated files: the build tool
// writes it beside them, so that what the C++ compiler says about a generated line can
// name the block (and model file) it came from.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "generators/src_stream.h"

namespace vesk {

/// Lines `first` to `last` (from 1, both included) of a generated file, written for the
/// block at `place` ("block 'x' of model file F").
struct line_range {
  uint64_t first = 0;
  uint64_t last = 0;
  std::string place;
};

/// Generated file name -> its block ranges, in line order.
using block_line_map = std::map<std::string, std::vector<line_range>>;

/// While it lives, the lines written to `stream` (the generated file `file`) belong to
/// the block at `place`; on its end the range is added to `map` (nothing for an empty
/// place or when no line was written). A line the block only began counts as its.
/// `map` and `stream` must outlive it.
class block_span {
 public:
  block_span(block_line_map& map, const std::string& file, const src_stream& stream, const std::string& place);
  ~block_span();
  block_span(const block_span&) = delete;
  block_span& operator=(const block_span&) = delete;

 private:
  block_line_map& map_;
  std::string file_;
  const src_stream& stream_;
  std::string place_;
  uint64_t first_;
  uint64_t size_;
};

/// Adds the range `first`..`last` of `file` for `place`, joined to the range before it
/// when that one is the same block's and ends on the line before (or within it).
void add_block_lines(block_line_map& map, const std::string& file, uint64_t first, uint64_t last,
                     const std::string& place);

/// The map as JSON text, as the build directory keeps it:
/// {"<prefix><file>": [[first, last, "place"], ...], ...}, one range a line.
std::string block_lines_text(const block_line_map& map, const std::string& prefix);

}  // namespace vesk
