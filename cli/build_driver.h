#pragma once
// The build step of vesk-cli: from a project configuration to a prepared build directory
// and a finished run of the runtime's ./build script.

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "annotations/block_lists.h"
#include "annotations/node_total.h"
#include "foundation/runtime_dir.h"
#include "generators/src_stream.h"

namespace vesk {

/// What main hands to the build step; both referents are main's and outlive the call.
struct build_context {
  const std::filesystem::path& config_path;
  const bool& gui_output;
};

/// The node descriptions of all workspace projects, read by the "class" and "func"
/// generators.
using node_catalog = vesk::annotations::block_lists;

/// Runtime name -> runtime folder.
using runtime_map = std::map<std::string, std::shared_ptr<runtime_dir>>;

/// Compiles the project's model and prepares the build directory, then runs ./build.
/// Returns -1 for an unknown runtime or a model fault, else the raw status of ./build.
/// The build directory is made only for a model that compiled; until ./build succeeded
/// an existing one is marked as holding a failed build (note_build_result).
/// Ends the process with status 1 when no model file is selected or found, or when the
/// runtime folder is gone. Other failures are thrown.
int build_model(const build_context& context);

/// The regular files below `base` whose whole path matches the shell-style `pattern`
/// ('*' any text). Each folder is entered once, so folder-link cycles end.
std::vector<std::string> find_files(const std::string& base, const std::string& pattern);

/// Header path -> the error lines written while it was parsed (headers without any are
/// left out).
using header_error_lines = std::map<std::string, size_t>;

/// Parses the "*.h" node headers of every workspace project folder (identifier name with
/// a "nodes" entry) in ascending name order, and each folder's headers in path order,
/// into `catalog`; notes in `errors`, when given, which headers gave error lines. The
/// first header whose descriptions pass `limit` together with those before it gets one
/// error line; it and the headers after it are left out.
void collect_node_catalog(const std::filesystem::path& workspace_dir, node_catalog& catalog,
                          header_error_lines* errors = nullptr,
                          const annotations::parse_budget& limit = annotations::kAllNodeSources);

/// The error lines of `errors` whose header the compile information lists neither among
/// its "headers" nor its "sources" (entries "ws/" + path below `workspace_dir`).
size_t unused_header_error_lines(const header_error_lines& errors, vesk::json& compile_info,
                                 const std::filesystem::path& workspace_dir);

/// Runtime name -> why its folder was refused.
using refused_runtimes = std::map<std::string, std::string>;

/// The global runtime folders (every folder in `global_dir`), then the workspace's
/// "rt_" folders over them; each keyed by its runtime name. A folder that runtime_dir
/// refuses, or whose "config_def.json" is broken, is skipped with a "w: " line naming it
/// and noted in `refused`; a later folder of the same name replaces an earlier one.
runtime_map collect_runtimes(const std::filesystem::path& global_dir, const std::filesystem::path& workspace_dir,
                             refused_runtimes& refused);

/// Brings the model folder in line with the generated files: removes source and header
/// files the compile no longer produced and writes each file whose text changed.
void write_generated_files(const std::filesystem::path& model_dir, std::map<std::string, src_stream>& files);

}  // namespace vesk
