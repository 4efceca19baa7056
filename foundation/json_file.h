#pragma once
// Reading the JSON text of a file so that what is wrong with it names the file. The
// parser's own lines say only where, counted from 0; the reader of a file adds the file
// and the place as editors count it.

#include <filesystem>
#include <string>

#include "foundation/json.h"

namespace vesk {

/// Parses `text`, the content of `file`, as json::parse does (its lines on log_err come
/// first). `error` is left empty for a sound text; otherwise it becomes a message naming
/// the file: "<file>:<line>:<column>: syntax error in JSON text" for the first error the
/// parser reported (both counted from 1), "<file>: malformed number in JSON text", "<file>:
/// number out of range in JSON text" or "<file>: JSON text ends inside an escape" for what
/// the parser throws for (the value is null then). A UTF-8 byte order mark at the start is
/// skipped with a warning naming the file; lines and columns are counted after it.
json parse_json_file(const std::filesystem::path& file, const std::string& text, std::string& error);

/// As parse_json_file, with the message written to log_err: for readers that go on with
/// what the parser gave (the back end's files).
json parse_json_file(const std::filesystem::path& file, const std::string& text);

}  // namespace vesk
