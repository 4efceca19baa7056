// Open {} blocks of a parse.

#include "annotations/parser_state.h"

namespace vesk::annotations {

bracket::bracket(uint64_t line_nr) : line_nr(line_nr), on_close([] {}) {}

}  // namespace vesk::annotations
