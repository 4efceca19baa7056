#include "generators/test_generator.h"

#include <algorithm>

#include "foundation/json_link.h"
#include "foundation/log_stream.h"
#include "generators/config_check.h"

namespace vesk {

std::vector<vesk::property> test_generator::get_properties() {
  return {{"num_pins", "number", 3, vesk::json{"lbl", "label"}}};
}

std::vector<vesk::config_warning> test_generator::check_config() {
  return unknown_block_keys(cfg, property_keys(get_properties()), "test");
}

vesk::view_config test_generator::get_view_config() {
  vesk::view_config v("no name", "auto");
  v.default_name = "test";
  try {
    int n = std::min(json_to_int(cfg["num_pins"].get_double()), max_test_pins);
    // The names are new and distinct, so appending equals the keyed insert
    // without its linear search.
    for (int i = 1; i <= n; ++i) {
      std::string pin = "test_" + std::to_string(i);
      v.inputs.push_back({pin, vesk::input_pin("auto")});
      v.outputs.push_back({pin, vesk::output_pin("double", "block")});
    }
  } catch (...) {
    log_debug << "error reading num of pins" << std::endl;
    log_debug << cfg.dump("  ") << std::endl;
  }
  return v;
}

}  // namespace vesk
