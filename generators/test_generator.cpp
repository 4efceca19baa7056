#include "generators/test_generator.h"

#include <algorithm>
#include <cstdlib>

#include "foundation/json_link.h"
#include "foundation/log_stream.h"
#include "generators/config_check.h"

namespace vesk {

std::vector<vesk::property> test_generator::get_properties() {
  return {{"num_pins", "number", 3, vesk::json{"lbl", "label"}}};
}

std::vector<vesk::config_warning> test_generator::check_config() {
  vesk::json_reader r(cfg);
  const vesk::json* count = r.take("num_pins");
  // A text that is wholly a number reads as written; anything else is read as the view
  // reads it, which a user would not guess.
  bool as_written = count == nullptr || count->is_number();
  if (count != nullptr && count->is_string() && !count->get_string_ref().empty()) {
    const char* begin = count->get_string_ref().c_str();
    char* end = nullptr;
    std::strtod(begin, &end);
    as_written = end == begin + count->get_string_ref().size();
  }
  if (!as_written)
    r.warn_value("num_pins", *count, "is no number: the block has " + std::to_string(get_view_config().inputs.size()) + " pins");
  return block_findings(r, property_keys(get_properties()), "test");
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
