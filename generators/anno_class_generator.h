#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "annotations/block.h"
#include "annotations/block_lists.h"
#include "generators/generator.h"

namespace vesk {

/// Generator of "class" blocks: one instance of an annotated C++ class of a
/// node source. The configuration names the class ("class", "prj") and holds
/// the parameter values; everything else comes from the node description.
class anno_class_generator : public generator {
 public:
  /// `lists` (not owned) is searched on every call; null acts as empty lists.
  explicit anno_class_generator(const vesk::annotations::block_lists* lists);

  /// One property per parameter of the class.
  std::vector<vesk::property> get_properties() override;
  /// Pins, default name, raster, source place and the data member "obj"
  /// (the instance, with its constructor arguments). Throws
  /// std::runtime_error when a constructor argument is neither a parameter
  /// nor a constant.
  vesk::view_config get_view_config() override;
  /// Additional files, then the header's sibling ".cpp" if it exists.
  std::vector<std::string> get_sources() override;
  /// The node's header, if it has one.
  std::vector<std::string> get_headers() override;
  std::vector<std::string> get_libs() override;
  /// Raster interval, node name, parameter values, init calls.
  void write_init(std::ostream& os) override;
  /// Input assignments, tick calls, output assignments.
  void write_tick(std::ostream& os) override;
  /// Final calls.
  void write_final(std::ostream& os) override;
  bool has_raster_interval() override;
  /// Whether the class declares its poll(): only an automatic class can.
  bool has_poll() override;
  /// Keys that are no parameter of the class; checkbox values read as false.
  std::vector<vesk::config_warning> check_config() override;

  /// Writes the statement for one method call `c` of `node` on the instance.
  void write_call(const vesk::annotations::call& c, const vesk::annotations::block_class& node,
                  std::ostream& os);

  /// The parsed node descriptions to look in; not owned, null reads as none.
  const vesk::annotations::block_lists* blocks;

 private:
  /// The description the configuration names, fresh from the lists.
  vesk::annotations::block_class lookup();
};

/// The form of a node's parameters, one property each, in order: the
/// parameter's name, form and default text (a JSON string, never parsed), and
/// its options text parsed as JSON.
std::vector<vesk::property> parameter_properties(const vesk::annotations::block_base& node);

/// What a "class" or "func" block's `cfg` names that `node` does not read: keys other
/// than `name_key`, "prj" and the parameters, and checkbox values read as false. `what`
/// names the node in the lines ("class \"pid\""). Nothing for a node not found.
std::vector<vesk::config_warning> check_node_config(const vesk::json& cfg, const vesk::annotations::block_base& node,
                                                    const char* name_key, const std::string& what);

/// The node's header as a one-entry list, or an empty list when it has none.
std::vector<std::string> node_headers(const vesk::annotations::block_base& node);

/// `lists`, or empty lists when it is null.
const vesk::annotations::block_lists& lists_or_empty(const vesk::annotations::block_lists* lists);

/// The sources a node needs compiled: its additional files, then the source
/// file beside its header (same path, extension "cpp") when both exist.
/// Throws std::filesystem::filesystem_error when a path cannot be examined.
std::vector<std::string> node_sources(const vesk::annotations::block_base& node);

}  // namespace vesk
