#pragma once
// Writing build outputs so that a failure stops the build: write_file replaces a file
// whole or not at all, and these turn its failure into an exception.

#include <filesystem>
#include <string>

namespace vesk {

/// Writes `text` as the whole file at `path`. Throws vesk::util::bt_exception
/// "Unable to write file: " + path when it cannot; the old file then stays as it was.
void write_text_file(const std::filesystem::path& path, const std::string& text);

/// Writes `text` only when nothing is at `path` or its content differs byte for byte,
/// so an unchanged file keeps its time stamp. True when it wrote. Throws as above, and
/// read_file's exception when the existing file cannot be read.
bool write_if_changed(const std::filesystem::path& path, const std::string& text);

}  // namespace vesk
