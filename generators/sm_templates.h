#pragma once

#include <string>

namespace vesk {

/// Header of a generated state-machine class; keys between "#" are filled
/// by fill_template (node name, class name, includes, state variables, ...).
extern const std::string sm_header_template;

/// Source of a generated state-machine class: constructor, init, tick,
/// final, after() and set_state().
extern const std::string sm_source_template;

/// One state's part of the constructor: name, init/tick/final lambdas and the
/// transition check; filled once per state and appended to "#construct#".
extern const std::string sm_state_template;

}  // namespace vesk
