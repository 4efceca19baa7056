#pragma once
// The node descriptions of a workspace or build, and their lookup by a block's
// configuration ("class" or "func", and "prj").

#include <string>
#include <vector>

#include "annotations/block.h"
#include "foundation/json.h"

namespace vesk::annotations {

/// Class and function node descriptions, held by value.
struct block_lists {
  std::vector<block_class> classes;
  std::vector<block_function> functions;
};

/// One warning per description that no lookup returns, since an earlier one of its
/// project has its class (or function) name: "file:line " of the one left unused, then
/// which one is taken. Both programs write these, so both say the same.
std::vector<std::string> repeated_nodes(const block_lists& lists);

/// The first class whose class name and project equal cfg["class"] and cfg["prj"];
/// when none does, a default class carrying the requested name with not_found set.
/// Throws the JSON type error for a bad configuration.
block_class find_block_class(const block_lists& lists, vesk::json cfg);

/// The same for function nodes, by the function's method name and cfg["func"].
block_function find_block_function(const block_lists& lists, vesk::json cfg);

}  // namespace vesk::annotations
