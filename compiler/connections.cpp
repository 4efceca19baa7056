#include <memory>
#include <unordered_map>

#include "compiler/compiler.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace {

/// The pins of each block by name, each list indexed at its first look: a block's own
/// lists are searched linearly, and a block of many connected pins would cost time
/// quadratic in them. Nothing else may change the lists while one of these is used.
class pin_lookup {
 public:
  /// The inputs of `n`.
  hash_vector_filler<input_pin>& inputs(compiler_node& n) { return of(inputs_, n.input_pins, n); }
  /// The outputs of `n`.
  hash_vector_filler<output_pin>& outputs(compiler_node& n) { return of(outputs_, n.output_pins, n); }

 private:
  template <typename T>
  using table = std::unordered_map<const compiler_node*, std::unique_ptr<hash_vector_filler<T>>>;

  template <typename T>
  static hash_vector_filler<T>& of(table<T>& t, hash_vector<T>& pins, const compiler_node& n) {
    std::unique_ptr<hash_vector_filler<T>>& f = t[&n];
    if (!f) f = std::make_unique<hash_vector_filler<T>>(pins);
    return *f;
  }

  table<input_pin> inputs_;
  table<output_pin> outputs_;
};

}  // namespace

void compiler::link_output_connections() {
  for (auto& [name, n] : nodes)
    for (auto& out : n->output_pins) out.value.consumers.clear();
  pin_lookup pins;
  for (auto& [name, d] : nodes) {
    for (auto& [pin, c] : d->inputs) {
      auto src = nodes.find(c.node);
      if (src == nodes.end()) continue;  // reported by build_connections
      // A pin the source does not have stays unlinked; build_connections drops it.
      if (output_pin* out = src->second->reader_output(c.pin, pins.outputs(*src->second)))
        out->consumers.emplace_back(name, pin);
    }
  }
}

void compiler::build_connections() {
  pin_lookup pins;
  for (auto& [name, d] : nodes) {
    log_place at(d->place);
    for (auto& [pin, c] : d->inputs) {
      auto src = nodes.find(c.node);
      if (src == nodes.end()) {
        c.is_ignored = true;
        log_warn << "Couldn't find Node with id '" << c.node << "'. Node '" << name
                 << "' wants to connect a pin. Connection is ignored..." << std::endl;
      } else if (!pins.inputs(*d).find(pin) || !pins.outputs(*src->second).find(c.pin)) {
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
  // A connection dropped here was linked on its source's output when the blocks were read;
  // left there, it would still feed a rate transition or carry a raster it was said to lack.
  link_output_connections();
}

}  // namespace vesk
