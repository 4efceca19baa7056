// The bound over the node descriptions of all node sources together.

#include "annotations/node_total.h"

namespace vesk::annotations {

namespace {

// A bound lowered below what is held lets nothing more in.
bool fits(size_t cost, size_t held, size_t limit) { return held <= limit && cost <= limit - held; }

}  // namespace

std::string node_total::take(const parse_budget& cost) {
  if (!fits(cost.nodes, held_.nodes, limit.nodes)) return std::to_string(limit.nodes) + kNodesBound;
  if (!fits(cost.parts, held_.parts, limit.parts)) return std::to_string(limit.parts) + kPartsBound;
  if (!fits(cost.bytes, held_.bytes, limit.bytes)) return std::to_string(limit.bytes) + kTextBound;
  held_.nodes += cost.nodes;
  held_.parts += cost.parts;
  held_.bytes += cost.bytes;
  return "";
}

void node_total::give_back(const parse_budget& cost) {
  held_.nodes -= cost.nodes;
  held_.parts -= cost.parts;
  held_.bytes -= cost.bytes;
}

}  // namespace vesk::annotations
