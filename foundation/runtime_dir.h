#pragma once
// One runtime folder ("rt_" + name in the runtimes folder): its name, where it is and the
// configuration form it describes in "config_def.json".

#include <cstddef>
#include <filesystem>
#include <string>

#include "foundation/json.h"

namespace vesk {

/// What one runtime folder declares about itself.
class runtime_dir {
 public:
  /// Reads the folder. Throws vesk::util::bt_exception when the name holds anything but
  /// ASCII letters, digits, '-' and '_'. A bad "config_def.json" is not thrown: it gives
  /// an empty form and form_fault, and its lines are logged unless `quiet` (a reader that
  /// decides itself what the fault means, such as the build tool for a runtime it skips).
  explicit runtime_dir(const std::filesystem::path& path, bool quiet = false);
  /// A copy holds its form too, so it counts against max_forms_bytes again.
  runtime_dir(const runtime_dir& other);
  /// Takes the other's share of max_forms_bytes along with its form.
  runtime_dir(runtime_dir&& other) noexcept;
  /// Swaps with `other` (a copy or a moved-from one), shares included.
  runtime_dir& operator=(runtime_dir other) noexcept;
  /// Gives its share of max_forms_bytes back.
  ~runtime_dir();

  /// The runtime name a folder stands for: its name without a leading "rt_" (checked by
  /// the constructor, not here).
  static std::string name_of(const std::filesystem::path& folder);

  /// The bytes the "config_def.json" files of all runtimes held now may have together.
  /// A form is a few lines; each is parsed and published in the back end's state, and a
  /// workspace may hold many runtimes. A file past what is left is not read: an error
  /// line names it, its size and the bytes left, and the runtime has an empty form.
  /// A form counts by the larger of its file's bytes and the text it takes in the state
  /// (three levels deep, with the indent): a deep nesting of a few KB would take hundreds
  /// of MB there. One past what is left, or nested deeper than max_form_depth, is
  /// refused with an error line naming it.
  static constexpr size_t max_forms_bytes = size_t{1} << 20;
  /// The deepest nesting of a form: real ones are a few levels deep.
  static constexpr size_t max_form_depth = 32;

  /// The folder's name without a leading "rt_".
  std::string name;
  /// The folder as given.
  std::filesystem::path path;
  /// The array from "config_def.json"; an empty array when it is missing or no array.
  json config_def;
  /// What is wrong with "config_def.json", naming the file (its first line as logged);
  /// empty when it is sound or missing.
  std::string form_fault;

 private:
  /// The bytes of "config_def.json" this runtime counts against max_forms_bytes.
  size_t form_bytes_ = 0;
};

}  // namespace vesk
