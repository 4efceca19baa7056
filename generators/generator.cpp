#include "generators/generator.h"

#include <utility>

namespace vesk {

generator::generator() = default;
generator::~generator() = default;

void generator::set_config(vesk::json config) {
  cfg = std::move(config);
  // Virtual on purpose: a derived list may depend on the configuration just stored.
  std::vector<vesk::property> props = get_properties();
  for (const auto& p : props) {
    // contains() turns null into an object and throws the type error for
    // anything that cannot hold members.
    if (!cfg.contains(p.key)) cfg[p.key] = p.def;
  }
}

void generator::set_mappings(vesk::generator_mappings mappings) {
  inputs = mappings.inputs;
  members = mappings.members;
  outputs = mappings.outputs;
}

std::vector<vesk::property> generator::get_properties() { return {}; }
std::vector<std::string> generator::get_sources() { return {}; }
std::vector<std::string> generator::get_headers() { return {}; }
std::vector<std::string> generator::get_include_dirs() { return {}; }
std::vector<std::string> generator::get_libs() { return {}; }

void generator::set_name(std::string node_name) { name = node_name; }

void generator::write_init(std::ostream&) {}
void generator::write_tick(std::ostream& os) { os << "// function: override me" << std::endl; }
void generator::write_final(std::ostream&) {}

std::string generator::get_output_type() { return "auto"; }
bool generator::has_raster_interval() { return false; }

bool generator::has_poll() { return false; }
std::vector<vesk::config_warning> generator::check_config() { return {}; }

std::string generator::find_mapping(const std::string& key) const {
  for (const auto* m : {&inputs, &members, &outputs}) {
    auto it = m->find(key);
    if (it != m->end()) return it->second;
  }
  return "Error: mapping not found";
}

}  // namespace vesk
