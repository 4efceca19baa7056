#pragma once
// One runtime folder ("rt_" + name in the runtimes folder): its name, where it is and the
// configuration form it describes in "config_def.json".

#include <filesystem>
#include <string>

#include "foundation/json.h"

namespace vesk {

/// What one runtime folder declares about itself.
class runtime_dir {
 public:
  /// Reads the folder. Throws vesk::util::bt_exception when the name holds anything but
  /// ASCII letters, digits, '-' and '_'. A bad "config_def.json" is logged, not thrown.
  explicit runtime_dir(const std::filesystem::path& path);

  /// The folder's name without a leading "rt_".
  std::string name;
  /// The folder as given.
  std::filesystem::path path;
  /// The array from "config_def.json"; an empty array when it is missing or no array.
  json config_def;
};

}  // namespace vesk
