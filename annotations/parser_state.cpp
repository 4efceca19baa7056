// Open {} blocks of a parse.

#include "annotations/parser_state.h"

namespace vesk::annotations {

bracket::bracket(uint64_t line_nr, uint64_t line_ends)
    : line_nr(line_nr), on_close([] {}), line_ends_seen(line_ends) {}

void bracket::catch_up(uint64_t line_ends) {
  if (line_ends <= line_ends_seen) return;
  text << std::string(line_ends - line_ends_seen, '\n');
  line_ends_seen = line_ends;
}

}  // namespace vesk::annotations
