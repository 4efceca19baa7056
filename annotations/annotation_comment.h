#pragma once
// Annotation comments: the little language of "@node: class", "@input: x; type: double",
// "@tick: step(x) -> y" inside the comments of a node source, and the changes each
// annotation makes to the node descriptions held in the parser state.

#include <map>
#include <string>

#include "annotations/parser_state.h"
#include "foundation/json_link.h"

namespace vesk::annotations {

/// Reads a comment's text line by line (`line_nr` is the line the text begins on) and
/// handles every annotation in it. Problems are log lines; nothing is thrown.
void parse_annotations(std::string text, unsigned long line_nr, parser_state& state,
                       std::string file_name);

/// Applies one annotation: opens nodes, adds pins, parameters, constants and calls,
/// records @link and @compile entries and sets `state.expect` for what the next code
/// line is to complete.
void handle_annotation(std::string name, std::string option,
                       std::map<std::string, std::string> params, unsigned long line_nr,
                       parser_state& state, std::string file_name);

/// Sets the fields of `target` named by the parameter keys (its JSON keys) from the
/// values. A key the target does not know is an error line naming `file_name`, `line_nr`,
/// the key and the keys the target takes; a bool or number field whose value is no number
/// gets an error line naming `file_name`, `line_nr`, key and value, and keeps its value.
void assign_annotation_params(json_link& target, const std::map<std::string, std::string>& params,
                              const std::string& file_name = "", unsigned long line_nr = 0);

}  // namespace vesk::annotations
