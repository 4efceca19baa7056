#pragma once

#include "generators/generator.h"

namespace vesk {

/// Most pins a test block gets: a count typed as 1e9 must not stall the
/// editor's view request for minutes and exhaust memory.
constexpr int max_test_pins = 10000;

/// Generator of "test" blocks: placeholders with a configurable number of
/// numbered pins and no code of their own.
class test_generator : public generator {
 public:
  /// One property: "num_pins", a number defaulting to 3.
  std::vector<vesk::property> get_properties() override;
  /// Keys other than "num_pins".
  std::vector<vesk::config_warning> check_config() override;
  /// View "test" with pins test_1 .. test_n, each as input and as output.
  vesk::view_config get_view_config() override;
};

}  // namespace vesk
