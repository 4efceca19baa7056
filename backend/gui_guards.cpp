#include "backend/gui_guards.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vesk {

namespace {

/// Length of the well-formed sequence at `i`, 0 when the bytes there start none.
size_t utf8_sequence_length(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) return 1;
  size_t n;
  unsigned char lo = 0x80, hi = 0xbf;  // allowed range of the second byte
  if (b0 >= 0xc2 && b0 <= 0xdf) {
    n = 2;
  } else if (b0 >= 0xe0 && b0 <= 0xef) {
    n = 3;
    if (b0 == 0xe0) lo = 0xa0;  // overlong
    if (b0 == 0xed) hi = 0x9f;  // surrogates
  } else if (b0 >= 0xf0 && b0 <= 0xf4) {
    n = 4;
    if (b0 == 0xf0) lo = 0x90;  // overlong
    if (b0 == 0xf4) hi = 0x8f;  // past U+10FFFF
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xbf) return 0;
  }
  return n;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

/// The components of an absolute, lexically normal path, without a trailing empty one.
std::filesystem::path normal_absolute(const std::filesystem::path& p) {
  std::filesystem::path n = std::filesystem::absolute(p).lexically_normal();
  if (!n.has_filename() && n.has_parent_path() && n != n.root_path()) n = n.parent_path();
  return n;
}

}  // namespace

bool is_valid_utf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    // Replies are mostly ASCII: eight bytes without a high bit are taken at once.
    uint64_t word;
    if (i + 8 <= text.size() && (std::memcpy(&word, text.data() + i, 8), (word & 0x8080808080808080u) == 0)) {
      i += 8;
      continue;
    }
    size_t n = utf8_sequence_length(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string replace_invalid_utf8(const std::string& text) {
  size_t used = 0;
  return replace_invalid_utf8(text.data(), text.size(), std::string::npos, used);
}

std::string replace_invalid_utf8(const char* text, size_t length, size_t limit, size_t& used) {
  const std::string_view in(text, length);
  std::string out;
  out.reserve(std::min(length, limit));
  size_t i = 0;
  while (i < in.size()) {
    const size_t n = utf8_sequence_length(in, i);
    if (out.size() + (n == 0 ? 3 : n) > limit) break;  // U+FFFD takes three bytes
    if (n == 0) {
      out += "\xef\xbf\xbd";
      ++i;
    } else {
      out.append(in.data() + i, n);
      i += n;
    }
  }
  used = i;
  return out;
}

bool is_editor_origin(const std::string& origin_header) {
  // A web page of any origin (a local web server's, an extension's, a sandboxed "null")
  // is no page of the editor's, however local its host.
  return origin_header.empty() || lower(origin_header.substr(0, 7)) == "file://";
}

bool lies_inside(const std::filesystem::path& folder, const std::filesystem::path& file) {
  if (folder.empty() || file.empty()) return false;
  const std::filesystem::path d = normal_absolute(folder);
  const std::filesystem::path f = normal_absolute(file);
  auto di = d.begin(), fi = f.begin();
  for (; di != d.end(); ++di, ++fi) {
    if (fi == f.end() || *di != *fi) return false;
  }
  return fi != f.end();
}

}  // namespace vesk
