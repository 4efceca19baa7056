#pragma once
// The texts of the open {} blocks of a scan. Every open block owes one line of text
// per source line that ends while it is open. Writing those line feeds into every open
// block at every line end would cost time proportional to the nesting depth on each
// line, so each block's text is a chain of segments tagged with the source line they
// were written on, and the lines are rebuilt from the tags when the text is read.
// Chains are joined in constant time when a one-line block is folded into its parent.

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <deque>
#include <vector>

namespace vesk::annotations {

/// Storage for the texts of many blocks; a block refers to its text by `text_ref`.
class block_texts {
 public:
  /// End of a chain: no segment.
  static constexpr size_t none = std::numeric_limits<size_t>::max();

  /// One block's text: the first and last segment of its chain.
  struct text_ref {
    size_t head = none;
    size_t tail = none;
  };

  /// Room for the texts of a scan of `source_bytes`: the blocks' texts together are about
  /// the source's size, so growing the store write by write would copy it many times over.
  void reserve(size_t source_bytes);

  /// Appends `text`, written on source line `line`, to the text of `ref`.
  void write(text_ref& ref, uint64_t line, std::string_view text);

  /// Appends "{", the text of `child` and "}" on source line `line` to `parent`; the
  /// child's segments move over, so `child` must not be used afterwards.
  void fold(text_ref& parent, const text_ref& child, uint64_t line);

  /// Calls `visit(k, text)` for every non-empty line k of the text of `ref`, where
  /// line k holds what was written on source line `first_line` + k. With
  /// `first_line` 0 the text has no line feeds and everything is line 0.
  template <class Visit>
  void for_each_line(const text_ref& ref, uint64_t first_line, Visit visit) const {
    std::string text;
    uint64_t index = 0;
    for (size_t i = ref.head; i != none; i = segments_[i].next) {
      const segment& p = segments_[i];
      const uint64_t k = first_line ? p.line - first_line : 0;
      if (!text.empty() && k != index) {
        visit(index, text);
        text.clear();
      }
      index = k;
      text.append(bytes_, p.offset, p.size);
    }
    if (!text.empty()) visit(index, text);
  }

 private:
  /// One write: a range of `bytes_` and its source line.
  struct segment {
    uint64_t line;
    size_t offset;
    size_t size;
    size_t next;
  };

  std::deque<segment> segments_;  // grows without moving what it holds
  std::string bytes_;
};

}  // namespace vesk::annotations
