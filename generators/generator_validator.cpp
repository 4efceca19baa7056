#include "generators/generator_validator.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "foundation/bt_exception.h"
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
  // Hash sets keep this linear: a test block may carry thousands of pins.
  std::unordered_set<std::string> out_names;
  for (const auto& out : v.outputs) out_names.insert(out.key);
  std::unordered_set<std::string> clashes;
  for (const auto& in : v.inputs) {
    if (!out_names.count(in.key) || !clashes.insert(in.key).second) continue;
    log_debug << "ERRROR: You can not register an input and output pin with the same name! "
              << "Deleting output-pin \"" << in.key << "\"" << std::endl;
  }
  if (clashes.empty()) return;
  using base = std::vector<hash_vector_entry<vesk::output_pin>>;
  v.outputs.base::erase(std::remove_if(v.outputs.begin(), v.outputs.end(),
                                 [&clashes](const auto& out) { return clashes.count(out.key) > 0; }),
                  v.outputs.end());
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
