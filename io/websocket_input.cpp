#include "io/websocket_input.h"

#include <algorithm>
#include <cctype>

namespace vesk::io {

void frame_meter::take(const uint8_t* bytes, size_t length) {
  while (length > 0) {
    if (payload_left_ == 0 && !take_head(bytes, length)) return;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(payload_left_, length));
    bytes += n;
    length -= n;
    payload_left_ -= n;
    if (payload_left_ == 0) end_frame();
  }
}

bool frame_meter::take_head(const uint8_t*& bytes, size_t& length) {
  while (length > 0 && (have_ < 2 || have_ < head_length())) {
    head_[have_++] = *bytes++;
    --length;
  }
  if (have_ < 2 || have_ < head_length()) return false;
  const uint8_t code = head_[1] & 0x7f;
  uint64_t n = code;
  if (code >= 126) {
    n = 0;
    for (size_t i = 2; i < (code == 126 ? 4u : 10u); ++i) n = n << 8 | head_[i];
  }
  data_ = (head_[0] & 0x08) == 0;  // opcodes 0 to 7: continuation, text, binary, reserved
  if (data_) unfinished_ = n > UINT64_MAX - unfinished_ ? UINT64_MAX : unfinished_ + n;
  payload_left_ = n;
  if (n == 0) end_frame();
  return true;
}

size_t frame_meter::head_length() const {
  const uint8_t code = head_[1] & 0x7f;
  return 2 + (code == 126 ? 2 : code == 127 ? 8 : 0) + ((head_[1] & 0x80) ? 4 : 0);
}

void frame_meter::end_frame() {
  if (data_ && (head_[0] & 0x80)) unfinished_ = 0;  // the final frame: the message is handed out
  have_ = 0;
}

size_t request_end::part(const char* bytes, size_t length) {
  static const char ending[] = "\r\n\r\n";
  if (matched_ == 4) return length;
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] == ending[matched_]) {
      if (++matched_ == 4) return i + 1;
    } else {
      matched_ = bytes[i] == '\r' ? 1 : 0;
    }
  }
  return length;
}

namespace {

/// Whether the header line `line` is one the library reads, or no header at all.
bool library_reads(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return true;
  std::string name(line.substr(0, colon));
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static const char* const read[] = {"host", "upgrade", "connection", "origin", "content-length", "transfer-encoding"};
  return std::find(std::begin(read), std::end(read), name) != std::end(read) || name.rfind("sec-websocket-", 0) == 0;
}

}  // namespace

std::string library_request(std::string_view request) {
  std::string kept;
  bool keep = true;  // the request line, and the header a continuation line belongs to
  size_t pos = 0;
  while (pos < request.size()) {
    const size_t end = request.find("\r\n", pos);
    const size_t next = end == std::string_view::npos ? request.size() : end + 2;
    const std::string_view line = request.substr(pos, next - pos);
    const bool first = pos == 0, blank = line == "\r\n", folded = line[0] == ' ' || line[0] == '\t';
    if (!first && !blank && !folded) keep = library_reads(line);
    if (keep || blank) kept += line;
    pos = next;
  }
  return kept;
}

}  // namespace vesk::io
