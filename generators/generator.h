#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "foundation/json_reader.h"
#include "foundation/view_config.h"

namespace vesk {

/// The three name maps the model compiler assigns to one node: pin or member
/// name to the C++ variable that holds it.
struct generator_mappings {
  std::map<std::string, std::string> inputs;
  std::map<std::string, std::string> members;
  std::map<std::string, std::string> outputs;
};

/// What a generator finds in a block's configuration that it does not read as written:
/// written by the model compiler as one line, subject, " in ", the block and its model
/// file, " ", outcome; an error stops the compile.
using config_warning = read_finding;

/// Generator of one block type. Describes a block for the editor (property
/// form, view) and writes its code for the model compiler. Handles one block
/// at a time: set_config / set_mappings / set_name replace the previous one's.
class generator {
 public:
  generator();
  virtual ~generator();

  /// Stores the block configuration and appends the default of every
  /// property it lacks (a present member is never overwritten).
  virtual void set_config(vesk::json config);
  /// Replaces the three name maps by copies of the argument's.
  virtual void set_mappings(vesk::generator_mappings mappings);
  /// The block's configuration form; empty by default.
  virtual std::vector<vesk::property> get_properties();
  /// The block's face: default name, pins, data members, error state.
  virtual vesk::view_config get_view_config() = 0;
  /// Source files the block needs compiled.
  virtual std::vector<std::string> get_sources();
  /// Headers the generated code must include.
  virtual std::vector<std::string> get_headers();
  /// Include folders the block needs.
  virtual std::vector<std::string> get_include_dirs();
  /// Libraries the block needs linked.
  virtual std::vector<std::string> get_libs();
  /// Sets the node (instance) name used by the writers.
  virtual void set_name(std::string node_name);
  /// Statements run once before the first tick; nothing by default.
  virtual void write_init(std::ostream& os);
  /// Statements run every tick.
  virtual void write_tick(std::ostream& os);
  /// Statements run once at the end; nothing by default.
  virtual void write_final(std::ostream& os);
  /// C++ type of the block's output; "auto" by default.
  virtual std::string get_output_type();
  /// Whether the block object has a raster interval member to be set.
  virtual bool has_raster_interval();
  /// Whether the block object has a poll() returning vesk::time, which runs a raster of
  /// its own ("source"); false by default.
  virtual bool has_poll();
  /// What the configuration (as set_config left it) names that this generator never
  /// reads or reads leniently (warnings), and what could only end in errors of the C++
  /// compiler (errors); nothing by default. Asked once a block by the model
  /// compiler only, so that the editor's many view requests stay quiet.
  virtual std::vector<vesk::config_warning> check_config();

  /// Looks a name up in inputs, then members, then outputs; returns
  /// "Error: mapping not found" when none holds it. Changes no map.
  std::string find_mapping(const std::string& key) const;

  vesk::json cfg;
  std::map<std::string, std::string> inputs;
  std::map<std::string, std::string> members;
  std::map<std::string, std::string> outputs;
  std::string name;
};

}  // namespace vesk
