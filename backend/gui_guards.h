#pragma once
// Checks on what passes between the back end and the editor: text that must be valid
// UTF-8, the Origin of a WebSocket handshake, and paths that must stay inside a folder.
#include <filesystem>
#include <string>

namespace vesk {

/// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool is_valid_utf8(const std::string& text);

/// `text` with every byte that starts no well-formed sequence replaced by U+FFFD.
std::string replace_invalid_utf8(const std::string& text);

/// The same for the longest beginning of the `length` bytes at `text` whose repaired form
/// fits `limit` bytes; `used` gets how many of the bytes it took. Looks at no more than
/// `limit` bytes, however long the text, so a huge text costs no more than a short one.
std::string replace_invalid_utf8(const char* text, size_t length, size_t limit, size_t& used);

/// Whether a WebSocket handshake with this Origin header comes from the editor's own
/// pages: no header, or a file:// origin (the editor loads its pages from files). Every
/// web origin is refused, http and https on localhost, extension schemes and "null" too.
bool is_editor_origin(const std::string& origin);

/// Whether `file` lies strictly inside `folder`, comparing the absolute, lexically normal
/// forms component by component (so "/a/b2" is not inside "/a/b", nor "/a/b/../c").
bool lies_inside(const std::filesystem::path& folder, const std::filesystem::path& file);

}  // namespace vesk
