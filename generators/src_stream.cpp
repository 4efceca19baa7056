#include "generators/src_stream.h"

#include <algorithm>
#include <string>
#include <typeinfo>

src_stream::src_buf::src_buf(src_stream* owner_stream)
    : std::stringbuf(std::ios::in | std::ios::out), owner(owner_stream) {}

src_stream::src_buf::~src_buf() = default;

int src_stream::src_buf::sync() {
  for (uint64_t i = 0; i < owner->indentation; ++i) owner->text.put(' ');
  const std::string pending = str();
  owner->bytes += owner->indentation + pending.size();
  owner->line_ends += static_cast<uint64_t>(std::count(pending.begin(), pending.end(), '\n'));
  owner->text << pending;
  str(std::string());
  owner->text.flush();
  return 0;
}

// The ostream base is built before the buffer member exists, so the buffer is
// attached in the body.
src_stream::src_stream() : std::ostream(nullptr), buf(this), text(std::ios::in | std::ios::out) {
  rdbuf(&buf);
}

src_stream::~src_stream() = default;

std::ostream& indent(std::ostream& os, int n) {
  src_stream& s = dynamic_cast<src_stream&>(os);
  // Unbalanced decreases would otherwise wrap round to billions of blanks.
  int64_t next = static_cast<int64_t>(s.indentation) + n;
  s.indentation = next < 0 ? 0 : static_cast<uint64_t>(next);
  return os;
}

void reset_stream(src_stream& s) {
  s.text.str(std::string());
  s.text.clear();
  s.line_ends = 0;
  s.bytes = 0;
}

uint64_t lines_written(const src_stream& s) {
  // Indentation holds no line end, so the pending text alone adds to the count.
  const std::string pending = s.buf.str();
  return s.line_ends + static_cast<uint64_t>(std::count(pending.begin(), pending.end(), '\n'));
}

uint64_t bytes_written(const src_stream& s) { return s.bytes + s.buf.str().size(); }
