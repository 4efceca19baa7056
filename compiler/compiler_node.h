#pragma once
// A block of a model: as the ".vmdl" file stores it (vesk::node) and as the compiler
// works on it (vesk::compiler_node), enriched with what its generator reports.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "foundation/json_link.h"
#include "foundation/view_config.h"
#include "generators/generator.h"

namespace vesk {

class compiler;

/// Position of a block in the editor's drawing; the compiler never reads it.
class node_pos : public json_link {
 public:
  void get_links(std::vector<json_link_element>& links) override;
  double x = 0;  ///< "x"
  double y = 0;  ///< "y"
};

/// One node object of a model file, bound key by key in file order.
class node : public json_link {
 public:
  void get_links(std::vector<json_link_element>& links) override;
  std::string name;                                  ///< "name"
  std::string type;                                  ///< "type": the generator keyword
  vesk::json cfg;                                    ///< "cfg"
  node_pos pos;                                      ///< "pos"
  std::string raster;                                ///< "raster"
  bool rotate = false;                               ///< "rotate"
  bool comment_out = false;                          ///< "comment_out"
  std::map<std::string, node_connection> inputs;     ///< "inputs": pin -> source block and pin
  std::map<std::string, std::string> default_values; ///< "default_values": pin -> value text
  /// What a checked reading of "inputs" and "default_values" found in their members.
  std::vector<vesk::read_finding> read_findings;
};

/// A node plus its generator's view (pins, members, raster, error) and the work marks
/// of the compile steps. Held by shared pointer in the compiler's node map.
class compiler_node : public node {
 public:
  /// Reads `node_object` checked, fills the cfg defaults of the block's properties and
  /// takes the pins, members, raster and error state from its generator's view. What the
  /// reading finds is in config_warnings; after an error the generator is not asked, after an
  /// error of its own check_config its view is not.
  compiler_node(vesk::json node_object, vesk::compiler* owner);

  /// The three name maps (inputs, members, outputs: name -> mapped_name) for a generator.
  vesk::generator_mappings get_mappings() const;

  /// The cfg "node" text of a "base" block, "" for other blocks or a non-text value.
  std::string base_kind() const;
  /// Whether this is a "base" block of the given element kind ("delay", "rt", ...).
  bool is_base(const char* kind) const { return base_kind() == kind; }

  /// The output pin a new reader of `pin` is listed on; null when the block has no such
  /// output. Only blocks that stand for others ("output" blocks, expanded subsystems)
  /// get the pin made for their readers.
  output_pin* reader_output(const std::string& pin);
  /// As reader_output, with the outputs found through `outputs`, a filler of output_pins:
  /// the connections of a block of many pins are linked in time linear in them.
  output_pin* reader_output(const std::string& pin, hash_vector_filler<output_pin>& outputs);

  vesk::compiler* compiler = nullptr;
  uint64_t order_number = 0;
  hash_vector<data_member> member_copy;
  bool placed = false;
  bool raster_source = false;
  hash_vector<input_pin> input_pins;
  hash_vector<output_pin> output_pins;
  hash_vector<data_member> members;
  bool has_error = false;
  std::string error_text;
  /// What the reading of the block and its generator found not read as written; reported
  /// with the block's place, an error stops the compile.
  std::vector<vesk::config_warning> config_warnings;
  /// Where the block stands, for every report about it: "block 'x' of model file F".
  std::string place;
  /// "file:line" of the node source whose annotation gave the raster; empty when the
  /// model file gave it.
  std::string raster_origin;
  int32_t read_count = 0;
};

/// Whether a block is a rate transition: a "base" block whose cfg "node" is "rt" or "fifo"
/// (a kind of no pins: a "fifo" is an "rt" of behavior "fifo").
bool is_rate_transition(const compiler_node& n);

/// How the generated code reads an "rt" block's cfg "behavior": "fifo" or "add" as
/// written, any other value (missing, misspelt, not a text) as "last".
std::string rt_behavior(const compiler_node& n);

}  // namespace vesk
