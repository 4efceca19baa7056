#pragma once
// Telling a user which names of a block's configuration were not read as written: each
// generator lists what it knows, these helpers turn the rest into warnings.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "foundation/json_reader.h"
#include "foundation/view_config.h"
#include "generators/generator.h"

namespace vesk {

/// Most warning lines one block gives; a configuration with more names typed wrong gets
/// these and one line with the count of the rest.
constexpr size_t max_config_warnings = 10;

/// The names joined by ", ".
std::string name_list(const std::vector<std::string>& names);

/// The keys of a form, in order.
std::vector<std::string> property_keys(const std::vector<vesk::property>& props);

/// Adds to `out` one warning per member of `object` whose key is not in `known`:
/// `Key "k"`, then " of " + `of` unless that is empty, "is ignored: " + `reads()`.
/// Nothing for a value that is no object. `reads` is called only when a key is unknown,
/// so that a block without faults costs no text.
void add_unknown_keys(const vesk::json& object, const std::vector<std::string>& known, const std::string& of,
                      const std::function<std::string()>& reads, std::vector<vesk::config_warning>& out);

/// The warnings of add_unknown_keys for a block configuration whose generator reads the
/// keys `known` of blocks described as `type`: "is ignored: a "delay" block reads ...".
std::vector<vesk::config_warning> unknown_block_keys(const vesk::json& cfg, const std::vector<std::string>& known,
                                                     const std::string& type);

/// Adds to `out` a warning when the checkbox value of `key` in `cfg` is none of what a
/// checkbox means, so that it is read as false.
void add_checkbox_value(const vesk::json& cfg, const std::string& key, std::vector<vesk::config_warning>& out);

/// Writes `warnings` to log_warn, one line each, placed in `block` (such as "block 'pid'
/// of model file m.vmdl"); past max_config_warnings, one line counts the rest.
void write_config_warnings(const std::vector<vesk::config_warning>& warnings, const std::string& block);

}  // namespace vesk
