#include "generators/generator_validator.h"

#include <string_view>
#include <utility>
#include <vector>

#include "foundation/bt_exception.h"
#include "foundation/key_index.h"
#include "foundation/log_stream.h"

namespace vesk {

generator_validator::generator_validator(generator* wrapped) : inner(wrapped) {}

generator_validator::~generator_validator() { delete inner; }

// A validator without a wrapped generator is a construction error; failing
// loudly beats dereferencing null.
static generator& wrapped(generator* g) {
  if (!g) throw_bt_exception("generator_validator: no wrapped generator");
  return *g;
}

void generator_validator::set_config(vesk::json config) { wrapped(inner).set_config(std::move(config)); }

void generator_validator::set_mappings(vesk::generator_mappings mappings) {
  wrapped(inner).set_mappings(mappings);
}

std::vector<vesk::property> generator_validator::get_properties() {
  return wrapped(inner).get_properties();
}

void remove_clashing_outputs(vesk::view_config& v) {
  if (v.inputs.empty() || v.outputs.empty()) return;
  // Found by hash, linear in the pins: a test block may carry thousands of them.
  auto& outputs = v.outputs;
  vesk::key_index at([&outputs](size_t i) { return std::string_view(outputs[i].key); }, outputs.size());
  for (size_t i = 0; i < outputs.size(); ++i) at.insert(outputs[i].key, i);
  std::vector<bool> clashes(outputs.size(), false);  // by the first output of each name
  bool any = false;
  for (const auto& in : v.inputs) {
    const size_t o = at.find(in.key);
    if (o == vesk::key_index::none || clashes[o]) continue;
    clashes[o] = any = true;
    log_debug << "ERRROR: You can not register an input and output pin with the same name! "
              << "Deleting output-pin \"" << in.key << "\"" << std::endl;
  }
  if (!any) return;
  // Every output of a clashing name goes, the others keep their order.
  std::vector<bool> drop(outputs.size());
  for (size_t i = 0; i < outputs.size(); ++i) drop[i] = clashes[at.find(outputs[i].key)];
  size_t kept = 0;
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (drop[i]) continue;
    if (kept != i) outputs[kept] = std::move(outputs[i]);
    ++kept;
  }
  using base = std::vector<hash_vector_entry<vesk::output_pin>>;
  outputs.base::erase(outputs.begin() + static_cast<long>(kept), outputs.end());
}

vesk::view_config generator_validator::get_view_config() {
  vesk::view_config v = wrapped(inner).get_view_config();
  remove_clashing_outputs(v);
  return v;
}

std::vector<std::string> generator_validator::get_sources() { return wrapped(inner).get_sources(); }
std::vector<std::string> generator_validator::get_headers() { return wrapped(inner).get_headers(); }
std::vector<std::string> generator_validator::get_include_dirs() {
  return wrapped(inner).get_include_dirs();
}
std::vector<std::string> generator_validator::get_libs() { return wrapped(inner).get_libs(); }

void generator_validator::set_name(std::string node_name) { wrapped(inner).set_name(node_name); }

void generator_validator::write_init(std::ostream& os) { wrapped(inner).write_init(os); }
void generator_validator::write_tick(std::ostream& os) { wrapped(inner).write_tick(os); }
void generator_validator::write_final(std::ostream& os) { wrapped(inner).write_final(os); }

std::string generator_validator::get_output_type() { return wrapped(inner).get_output_type(); }
bool generator_validator::has_raster_interval() { return wrapped(inner).has_raster_interval(); }
std::vector<vesk::config_warning> generator_validator::check_config() { return wrapped(inner).check_config(); }

}  // namespace vesk
