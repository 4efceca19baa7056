#pragma once
// Applying lines of C++ to a parse: a line completes what an annotation announced,
// names a node's class, opens a namespace or builds a whole automatic node. What is not
// recognised is ignored; nothing here fails.

#include <string>

#include "annotations/declaration_grammar.h"
#include "annotations/parser_state.h"

namespace vesk::annotations {

/// Reads one line of C++ code and applies it to `state`: names the class of a class
/// node, completes announced pins and calls, opens namespaces and builds automatic
/// nodes. `line_nr` goes into the source line of new pins and into messages,
/// `file_name` only into messages.
void parse_cpp_line(std::string line, unsigned long line_nr, parser_state& state,
                    std::string file_name);

}  // namespace vesk::annotations
