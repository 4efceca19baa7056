#include "compiler/compiler.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"

namespace vesk {

void compiler::link_output_connections() {
  for (auto& [name, n] : nodes)
    for (auto& out : n->output_pins) out.value.consumers.clear();
  for (auto& [name, d] : nodes) {
    for (auto& [pin, c] : d->inputs) {
      auto src = nodes.find(c.node);
      if (src == nodes.end()) continue;  // reported by build_connections
      // A pin the source does not have stays unlinked; build_connections drops it.
      if (output_pin* out = src->second->reader_output(c.pin)) out->consumers.emplace_back(name, pin);
    }
  }
}

void compiler::build_connections() {
  for (auto& [name, d] : nodes) {
    log_place at(d->place);
    for (auto& [pin, c] : d->inputs) {
      auto src = nodes.find(c.node);
      if (src == nodes.end()) {
        c.is_ignored = true;
        log_warn << "Couldn't find Node with id '" << c.node << "'. Node '" << name
                 << "' wants to connect a pin. Connection is ignored..." << std::endl;
      } else if (!d->input_pins.contains(pin) || !src->second->output_pins.contains(c.pin)) {
        c.is_ignored = true;
        log_warn << "Output or inputpin not found: " << c.node << "." << c.pin << " -> " << name << "."
                 << pin << "; Connection ignored..." << std::endl;
      }
    }
  }
  for (auto& [name, d] : nodes) {
    for (auto it = d->inputs.begin(); it != d->inputs.end();)
      it = it->second.is_ignored ? d->inputs.erase(it) : std::next(it);
  }
}

}  // namespace vesk
