// Lookup of node descriptions by a block's configuration. The name is compared first
// and the project only for name matches, so a bad "prj" value is noticed only then.

#include "annotations/block_lists.h"

#include <utility>

namespace vesk::annotations {

namespace {

/// The first of `nodes` whose name (`name_of`) equals cfg[key] and whose project equals
/// cfg["prj"]; `missing` when there is none.
template <class Node, class NameOf>
Node find_block(const std::vector<Node>& nodes, vesk::json& cfg, const char* key, Node missing,
                NameOf name_of) {
  for (const Node& node : nodes) {
    if (name_of(node) != cfg[key].get_string()) continue;
    if (node.project == cfg["prj"].get_string()) return node;
  }
  return missing;
}

}  // namespace

block_class find_block_class(const block_lists& lists, vesk::json cfg) {
  block_class missing;
  missing.class_name = cfg["class"].get_string();
  missing.not_found = true;
  return find_block(lists.classes, cfg, "class", std::move(missing),
                    [](const block_class& c) -> const std::string& { return c.class_name; });
}

block_function find_block_function(const block_lists& lists, vesk::json cfg) {
  block_function missing;
  missing.function.method_name = cfg["func"].get_string();
  missing.not_found = true;
  return find_block(lists.functions, cfg, "func", std::move(missing),
                    [](const block_function& f) -> const std::string& { return f.function.method_name; });
}

}  // namespace vesk::annotations
