// The bound over the node descriptions of all node sources together.

#include "annotations/node_total.h"

namespace vesk::annotations {

std::string node_total::take(const parse_budget& cost) {
  const passed_bound passed = first_passed(held_, cost, limit);
  if (passed.unit != nullptr) return std::to_string(passed.limit) + passed.unit;
  add_cost(held_, cost);
  return "";
}

void node_total::give_back(const parse_budget& cost) {
  held_.nodes -= cost.nodes;
  held_.parts -= cost.parts;
  held_.bytes -= cost.bytes;
}

}  // namespace vesk::annotations
