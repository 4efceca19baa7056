#include "annotations/block_text.h"

namespace vesk::annotations {

void block_texts::write(text_ref& ref, uint64_t line, std::string_view text) {
  if (text.empty()) return;
  if (ref.tail != none) {
    piece& last = pieces_[ref.tail];
    if (last.line == line && last.offset + last.size == bytes_.size()) {
      bytes_ += text;
      last.size += text.size();
      return;
    }
  }
  pieces_.push_back(piece{line, bytes_.size(), text.size(), none});
  bytes_ += text;
  const size_t index = pieces_.size() - 1;
  if (ref.tail == none)
    ref.head = index;
  else
    pieces_[ref.tail].next = index;
  ref.tail = index;
}

void block_texts::fold(text_ref& parent, const text_ref& child, uint64_t line) {
  write(parent, line, "{");
  if (child.head != none) {
    pieces_[parent.tail].next = child.head;
    parent.tail = child.tail;
  }
  write(parent, line, "}");
}

}  // namespace vesk::annotations
