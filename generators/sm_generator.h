#pragma once

#include <map>
#include <string>
#include <vector>

#include "generators/generator.h"
#include "generators/src_stream.h"

namespace vesk {

/// Generator of "state_machine" blocks: states with init/tick/final
/// statements and guarded transitions, plus state variables whose names make
/// pins. The build gets a generated class "sm_" + node name in two files.
class sm_generator : public generator {
 public:
  /// `generated_files` (not owned) receives the generated files by name; null
  /// where nothing is to be generated (the back end).
  explicit sm_generator(std::map<std::string, src_stream>* generated_files);

  /// "vars", "includes" and "namespaces".
  std::vector<vesk::property> get_properties() override;
  /// Pins from the declarations in "vars", the output "state" and the data
  /// member "obj" of the generated class.
  vesk::view_config get_view_config() override;
  /// Empty: the generated source is compiled as one of the generated files.
  std::vector<std::string> get_sources() override;
  /// The generated header, "model/sm_" + name + ".h".
  std::vector<std::string> get_headers() override;
  /// Generates the files, then starts the machine object.
  void write_init(std::ostream& os) override;
  void write_tick(std::ostream& os) override;
  void write_final(std::ostream& os) override;
  /// Unknown keys of the block, its states and transitions; transitions dropped for a
  /// target that names no state.
  std::vector<vesk::config_warning> check_config() override;

  /// Fills the templates from `cfg` and `name` and appends both texts to
  /// `files`; does nothing when `files` is null. Throws when no state that
  /// is not commented out is named "init"; nothing is stored then.
  void write_files();

  /// Where the generated files go, by name; not owned, may be null.
  std::map<std::string, src_stream>* files;
};

}  // namespace vesk
