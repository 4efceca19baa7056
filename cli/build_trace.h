#pragma once
// Tracing the C++ compiler's messages about generated files back to the model: a line
// "model/r10ms.cpp:12:9: error: ..." of the runtime's build gets the place of the block
// that wrote line 12 of model/r10ms.cpp appended, as every compile message has it.

#include <cstdint>
#include <filesystem>
#include <string>

#include "compiler/block_lines.h"

namespace vesk {

/// The map's file in the build directory, beside the "model" folder: what that folder
/// holds stays the same for a project copied elsewhere, the map names the model file.
extern const char* const block_lines_file;

/// The file and line a compiler diagnostic is about: a line "path:line:col: kind: ..."
/// or "path:line: kind: ..." whose kind is "error", "warning", "note" or "fatal error".
struct diagnostic_place {
  std::string path;
  uint64_t line = 0;
};

/// Reads `text` as a diagnostic; false for any other line.
bool read_diagnostic(const std::string& text, diagnostic_place& place);

/// `text` with " in <block place>" appended when it is a diagnostic about a line that a
/// block wrote into a generated file of `build_dir` ("model/" + a file name of `map`,
/// named relative to the build directory or absolute); else `text` unchanged.
std::string traced_line(const std::string& text, const block_line_map& map, const std::filesystem::path& build_dir);

}  // namespace vesk
