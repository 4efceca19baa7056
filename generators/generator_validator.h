#pragma once

#include "generators/generator.h"

namespace vesk {

/// Wraps the generator of one block type and forwards every operation to it;
/// the view it returns never has an output pin named like an input pin.
class generator_validator : public generator {
 public:
  /// Takes ownership of `wrapped` (may be null only until set).
  explicit generator_validator(generator* wrapped = nullptr);
  ~generator_validator() override;
  generator_validator(const generator_validator&) = delete;
  generator_validator& operator=(const generator_validator&) = delete;

  void set_config(vesk::json config) override;
  void set_mappings(vesk::generator_mappings mappings) override;
  std::vector<vesk::property> get_properties() override;
  /// The wrapped view with every output pin dropped whose name is that of an
  /// input pin (one debug line per such name).
  vesk::view_config get_view_config() override;
  std::vector<std::string> get_sources() override;
  std::vector<std::string> get_headers() override;
  std::vector<std::string> get_include_dirs() override;
  std::vector<std::string> get_libs() override;
  void set_name(std::string node_name) override;
  void write_init(std::ostream& os) override;
  void write_tick(std::ostream& os) override;
  void write_final(std::ostream& os) override;
  std::string get_output_type() override;
  bool has_raster_interval() override;
  std::vector<vesk::config_warning> check_config() override;

  /// The wrapped generator, owned.
  generator* inner;
};

/// Removes from `v` every output pin that has the name of an input pin and
/// reports each such name on log_debug.
void remove_clashing_outputs(vesk::view_config& v);

}  // namespace vesk
