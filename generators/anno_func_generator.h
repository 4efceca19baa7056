#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "annotations/block.h"
#include "annotations/block_lists.h"
#include "generators/generator.h"

namespace vesk {

/// Generator of "func" blocks: a call of an annotated free C++ function once
/// per tick. The configuration names the function ("func", "prj") and holds
/// the parameter values; everything else comes from the node description.
class anno_func_generator : public generator {
 public:
  /// `lists` (not owned) is searched on every call; null acts as empty lists.
  explicit anno_func_generator(const vesk::annotations::block_lists* lists);

  /// One property per parameter of the function.
  std::vector<vesk::property> get_properties() override;
  /// Pins, default name, raster and source place of the function.
  vesk::view_config get_view_config() override;
  /// Additional files, then the header's sibling ".cpp" if it exists.
  std::vector<std::string> get_sources() override;
  /// The node's header, if it has one.
  std::vector<std::string> get_headers() override;
  std::vector<std::string> get_libs() override;
  /// Keys that are no parameter of the function; checkbox values read as false.
  std::vector<vesk::config_warning> check_config() override;
  /// The call of the function, its result stored in the return target.
  void write_tick(std::ostream& os) override;

  /// The parsed node descriptions to look in; not owned, null reads as none.
  const vesk::annotations::block_lists* blocks;

 private:
  /// The description the configuration names, fresh from the lists.
  vesk::annotations::block_function lookup();
};

}  // namespace vesk
