#include "annotations/block_text.h"

namespace vesk::annotations {

void block_texts::reserve(size_t source_bytes) {
  bytes_.reserve(source_bytes);
}

void block_texts::write(text_ref& ref, uint64_t line, std::string_view text) {
  if (text.empty()) return;
  if (ref.tail != none) {
    segment& last = segments_[ref.tail];
    if (last.line == line && last.offset + last.size == bytes_.size()) {
      bytes_ += text;
      last.size += text.size();
      return;
    }
  }
  segments_.push_back(segment{line, bytes_.size(), text.size(), none});
  bytes_ += text;
  const size_t index = segments_.size() - 1;
  if (ref.tail == none)
    ref.head = index;
  else
    segments_[ref.tail].next = index;
  ref.tail = index;
}

void block_texts::fold(text_ref& parent, const text_ref& child, uint64_t line) {
  write(parent, line, "{");
  if (child.head != none) {
    segments_[parent.tail].next = child.head;
    parent.tail = child.tail;
  }
  write(parent, line, "}");
}

}  // namespace vesk::annotations
