#pragma once
// The model compiler: one ".vmdl" model becomes the model's C++ sources (held in memory,
// file name -> src_stream) and the compile information that tells the build what to
// compile and link. One object per build: set it up, call compile once, read the results.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "compiler/block_lines.h"
#include "compiler/compiler_node.h"
#include "foundation/helpers.h"
#include "foundation/json.h"
#include "generators/generator.h"
#include "generators/src_stream.h"

namespace vesk {

class compiler {
 public:
  using node_map = std::map<std::string, std::shared_ptr<compiler_node>>;
  using node_list = std::vector<std::shared_ptr<compiler_node>>;

  compiler() = default;
  /// Unbinds the connections: bound blocks point at each other (loops through delays).
  ~compiler();
  compiler(const compiler&) = delete;
  compiler& operator=(const compiler&) = delete;

  /// Runs the whole pipeline on a parsed model. Model faults are reported through the
  /// log streams and send_to_all and set `error`; step failures throw.
  void compile(const vesk::json& model_json);

  /// The generator registered under a block type keyword; throws when there is none.
  std::shared_ptr<vesk::generator> find_generator(const std::string& type);
  /// Position of a raster in `raster_names`; throws when it is not there.
  size_t find_raster_index(const std::string& raster) const;

  /// Rebuilds every output pin's consumers from the "inputs" maps.
  void link_output_connections();
  /// Warns about and drops connections to missing blocks or pins.
  void build_connections();
  /// Flattens references and subsystems into the node map.
  void resolve_subsystems();
  /// Gives every block its final raster, "auto" inherited along connections.
  void resolve_rasters();
  /// Reports cross-raster connections, names every variable, builds the parameter entries.
  void check_raster_connections();
  /// Writes "parameters_and_shared_data.h" and the compile information's block files.
  void write_parameters_header();
  /// Writes the class of one raster (header and source) from its ordered blocks.
  void write_raster_class(const std::string& raster, const node_list& ordered);
  /// Writes the init_tick (init set) or tick body of a raster into its source.
  void write_tick_body(const std::string& raster, const node_list& ordered, bool init);

  node_map nodes;
  std::vector<std::string> signal_entries;
  /// The place of the block behind each of signal_entries ("" for none).
  std::vector<std::string> signal_places;
  std::vector<std::string> parameter_entries;
  vesk::json model;
  std::string header_file_name;
  std::string source_file_name;
  std::vector<std::string> raster_names;
  /// Subsystem port aliases: display name -> feeding "block.pin", or "." when unfed.
  std::map<std::string, std::string> signal_names;
  /// The same aliases with the feeding "block.pin" as the block is named in `nodes`.
  std::map<std::string, std::string> signal_sources;
  std::string base_name = "model";
  std::map<std::string, src_stream> files;
  /// Which block wrote which lines of `files`.
  block_line_map block_lines;
  bool error = false;
  vesk::json compile_info;
  /// Path of the model's file, named in the reports about its blocks.
  std::string model_file;
  /// The open project's folder; references start from it, its parent is the workspace.
  std::string reference_base;
  std::string default_raster = "r10ms";
  /// Receiver of the messages for the editor ("mdl_error", "set_text_left", ...).
  std::function<void(vesk::json)> send_to_all = [](vesk::json) {};
  std::map<std::string, std::shared_ptr<vesk::generator>> generators;
  /// Reads the model file a reference block names (its path); the build tool replaces it
  /// with a reader that refuses a file with syntax errors.
  std::function<vesk::json(const std::string&)> read_model = [](const std::string& path) {
    return vesk::json::parse(read_file(path));
  };

 private:
  /// Orders one raster's blocks; false (after the loop report) when they hold a loop.
  bool order_raster(const node_list& group, node_list& ordered);
  /// Reports each name used more than once among the blocks of one level: a model
  /// file's top level (`subsystem` empty) or the subsystem at that path in the file.
  void report_duplicate_names(const std::vector<std::string>& names, const std::string& file,
                              const std::string& subsystem);
  /// Where a level of blocks stands, for reports: "model file F" or "subsystem 'p' of
  /// model file F" (`subsystem` is the dotted path within the file).
  static std::string level_text(const std::string& file, const std::string& subsystem);
  /// The block `e` (the `position`th, from 1, of its level; `shown` its name as written
  /// there). What its construction throws is thrown again with the block, the level
  /// and, when it can be told, the key at fault added; of what its reading finds, the
  /// warnings are written and the first error is thrown, placed alike.
  std::shared_ptr<compiler_node> make_block(vesk::json& e, size_t position, const std::string& shown,
                                            const std::string& file, const std::string& subsystem);
  /// The place of a block for reports: "block 'x' of " + level_text, or "block 3 of ..."
  /// by position when it has no usable name (`shown` empty).
  static std::string block_place(size_t position, const std::string& shown, const std::string& file,
                                 const std::string& subsystem);
  /// Checks what a block names against the sets the compiler reads: an "rt" behavior
  /// outside its set gives a "w: " line (the reading stays); a block name that is no C++
  /// identifier, and a "fifo" rate transition of a plain number type, are thrown with
  /// `place` (the C++ compiler would refuse the code). `warn` is false for a place already
  /// reported (a model referenced again).
  void check_block(const compiler_node& n, const std::string& place, bool warn) const;
  /// The blocks of a model read from `file` (its "nodes"; none when absent). Throws,
  /// naming the file, for a model that is no object and for "nodes" that are no array.
  static vesk::json model_blocks(const vesk::json& model, const std::string& file);
  /// Sets a generator up for writing the code of `n`.
  std::shared_ptr<vesk::generator> configured_generator(compiler_node& n);
  void write_model_header_head();
  void write_model_tail();
  void write_global_getter();

  /// The places of the blocks whose configuration warnings are written.
  std::set<std::string> warned_blocks;
};

/// Current CLOCK_REALTIME time in nanoseconds.
int64_t now_ns();

}  // namespace vesk
