#pragma once

#include "generators/generator.h"

namespace vesk {

/// Generator of "function" blocks: a call of a C++ function the user names in
/// the configuration, with its inputs listed there, and an optional result.
class function_generator : public generator {
 public:
  /// Nine properties: function, raster, inputs, output_name, output_type,
  /// header_file, include_dir, source_file, source_dir.
  std::vector<vesk::property> get_properties() override;
  /// Keys that are not in the form.
  std::vector<vesk::config_warning> check_config() override;
  /// View named after the function: one "double" input per listed input and
  /// the output pin unless it is named "void" or empty.
  vesk::view_config get_view_config() override;
  /// The trimmed "header_file", if any.
  std::vector<std::string> get_headers() override;
  /// The trimmed "include_dir", if any.
  std::vector<std::string> get_include_dirs() override;
  /// One call statement, assigned to the output's variable when mapped.
  void write_tick(std::ostream& os) override;

 private:
  /// The non-empty input names of "inputs", in order, each once.
  std::vector<std::string> input_names();
  /// The trimmed text of `key` as a one-element list, or an empty list.
  std::vector<std::string> trimmed_entry(const char* key);
};

}  // namespace vesk
