// Lookup of node descriptions by a block's configuration. The name is compared first
// and the project only for name matches, so a bad "prj" value is noticed only then.
// Descriptions that repeat a name of their project are found here too, since the lookup
// never returns them.

#include "annotations/block_lists.h"

#include <map>
#include <utility>

#include "annotations/text_scan.h"

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

/// Adds to `lines` the repeats among `nodes` of a project and name (`name_of`).
template <class Node, class NameOf>
void add_repeats(const std::vector<Node>& nodes, const char* kind, NameOf name_of,
                 std::vector<std::string>& lines) {
  std::map<std::pair<std::string, std::string>, const Node*> first;
  for (const Node& node : nodes) {
    const auto [it, fresh] = first.emplace(std::make_pair(node.project, name_of(node)), &node);
    if (fresh) continue;
    const Node& taken = *it->second;
    lines.push_back(location(node.file_name, static_cast<unsigned long>(node.line_nr)) + "Node " + kind +
                    " '" + name_of(node) + "' of project '" + node.project +
                    "' is declared twice: the one of " +
                    source_place(taken.file_name, static_cast<unsigned long>(taken.line_nr)) +
                    " is taken, this one is not used");
  }
}

}  // namespace

std::vector<std::string> repeated_nodes(const block_lists& lists) {
  std::vector<std::string> lines;
  add_repeats(lists.classes, "class", [](const block_class& c) { return c.class_name; }, lines);
  add_repeats(lists.functions, "function", [](const block_function& f) { return f.function.method_name; },
              lines);
  return lines;
}

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
