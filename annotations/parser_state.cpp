// Open {} blocks of a parse, and the budget of what one parse may take.

#include "annotations/parser_state.h"

#include <ostream>

#include "annotations/text_scan.h"
#include "foundation/log_stream.h"

namespace vesk::annotations {

bracket::bracket(uint64_t line_nr) : line_nr(line_nr), on_close([] {}) {}

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
  parse_budget& b = state.taken;
  if (b.spent) return false;
  if (nodes > kMaxNodesPerFile - b.nodes) {
    spend(state, file_name, line_nr, kMaxNodesPerFile, kNodesBound);
  } else if (parts > kMaxPartsPerFile - b.parts) {
    spend(state, file_name, line_nr, kMaxPartsPerFile, kPartsBound);
  } else if (bytes > kMaxTextPerFile - b.bytes) {
    spend(state, file_name, line_nr, kMaxTextPerFile, kTextBound);
  } else {
    b.nodes += nodes;
    b.parts += parts;
    b.bytes += bytes;
    return true;
  }
  return false;
}

}  // namespace vesk::annotations
