// Open {} blocks of a parse, and the budget of what one parse may take.

#include "annotations/parser_state.h"

#include <ostream>

#include "annotations/text_scan.h"
#include "foundation/log_stream.h"

namespace vesk::annotations {

bracket::bracket(uint64_t line_nr) : line_nr(line_nr), on_close([] {}) {}

passed_bound first_passed(const parse_budget& held, const parse_budget& cost, const parse_budget& limit) {
  const auto fits = [](size_t c, size_t h, size_t l) { return h <= l && c <= l - h; };
  if (!fits(cost.nodes, held.nodes, limit.nodes)) return {limit.nodes, kNodesBound};
  if (!fits(cost.parts, held.parts, limit.parts)) return {limit.parts, kPartsBound};
  if (!fits(cost.bytes, held.bytes, limit.bytes)) return {limit.bytes, kTextBound};
  return {};
}

void add_cost(parse_budget& held, const parse_budget& cost) {
  held.nodes += cost.nodes;
  held.parts += cost.parts;
  held.bytes += cost.bytes;
}

void spend(parser_state& state, const std::string& file_name, uint64_t line_nr, size_t limit,
           const char* what) {
  if (state.taken.spent) return;
  state.taken.spent = true;
  log_err << location(file_name, line_nr) << "The node descriptions of this file exceed the limit of "
          << limit << what << "; this node and the rest of the file are left out." << std::endl;
  state.current_block.reset();
  state.ccb.reset();
  state.current_function.reset();
  state.expect = expect_nothing;
}

bool take(parser_state& state, const std::string& file_name, uint64_t line_nr, size_t nodes,
          size_t parts, size_t bytes) {
  if (state.taken.spent) return false;
  static constexpr parse_budget one_file{kMaxNodesPerFile, kMaxPartsPerFile, kMaxTextPerFile, false};
  const parse_budget cost{nodes, parts, bytes, false};
  const passed_bound passed = first_passed(state.taken, cost, one_file);
  if (passed.unit != nullptr) {
    spend(state, file_name, line_nr, passed.limit, passed.unit);
    return false;
  }
  add_cost(state.taken, cost);
  return true;
}

}  // namespace vesk::annotations
