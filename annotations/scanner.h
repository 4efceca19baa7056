#pragma once
// The source scanner: reads an annotated C++ node source and returns the verified node
// descriptions it declares.

#include <memory>
#include <string>
#include <vector>

#include "annotations/block.h"
#include "annotations/parser_state.h"

namespace vesk::annotations {

/// Reads the file at `path` and parses it (see parse_text). The only exception it lets
/// out is read_file's "Unable to open file: " for a file that does not exist.
std::vector<std::shared_ptr<block_base>> parse_file(const std::string& path,
                                                    const std::string& project,
                                                    parse_budget* cost = nullptr);

/// Parses the node source `text` as if it had been read from `path`: every node in
/// source order that passed verification, with `project`, `file_name` (= `path`) and
/// the file's @link and @compile lists filled in. Problems are log lines; no exception
/// leaves it, and log_debug's enabled flag is silenced for the parse and restored.
/// `cost`, when given, receives what the parse took against the bounds of one file
/// (nodes that failed verification included), for the bounds over all files.
std::vector<std::shared_ptr<block_base>> parse_text(const std::string& text,
                                                    const std::string& path,
                                                    const std::string& project,
                                                    parse_budget* cost = nullptr);

}  // namespace vesk::annotations
