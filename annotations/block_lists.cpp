// Lookup of node descriptions by a block's configuration. The name is compared first
// and the project only for name matches, so a bad "prj" value is noticed only then.

#include "annotations/block_lists.h"

namespace vesk::annotations {

block_class find_block_class(const block_lists& lists, vesk::json cfg) {
  block_class missing;
  missing.class_name = cfg["class"].get_string();
  missing.not_found = true;
  for (const block_class& c : lists.classes) {
    if (c.class_name != cfg["class"].get_string()) continue;
    if (c.project == cfg["prj"].get_string()) return c;
  }
  return missing;
}

block_function find_block_function(const block_lists& lists, vesk::json cfg) {
  block_function missing;
  missing.function.method_name = cfg["func"].get_string();
  missing.not_found = true;
  for (const block_function& f : lists.functions) {
    if (f.function.method_name != cfg["func"].get_string()) continue;
    if (f.project == cfg["prj"].get_string()) return f;
  }
  return missing;
}

}  // namespace vesk::annotations
