#include "cli/build_driver.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <regex>
#include <set>

#include "annotations/block_lists.h"
#include "annotations/scanner.h"
#include "cli/build_dir_sync.h"
#include "cli/build_trace.h"
#include "cli/cli_output.h"
#include "cli/file_write.h"
#include "cli/json_input.h"
#include "cli/runtime_scripts.h"
#include "compiler/compiler.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"
#include "foundation/project_config.h"
#include "foundation/startup_paths.h"
#include "generators/generator_registry.h"

namespace vesk {

namespace fs = std::filesystem;

std::vector<std::string> find_files(const std::string& base, const std::string& pattern) {
  const std::regex re(replace_all(replace_all(pattern, ".", "\\."), "*", ".*"));
  std::vector<std::string> found;
  std::vector<fs::path> stack{fs::is_directory(base) ? fs::path(base) : fs::path(base).parent_path()};
  std::set<fs::path> visited;
  while (!stack.empty()) {
    const fs::path folder = stack.back();
    stack.pop_back();
    if (!visited.insert(fs::canonical(folder)).second) continue;
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
      if (e.is_directory()) {
        stack.push_back(e.path());
      } else if (e.is_regular_file() && std::regex_match(e.path().string(), re)) {
        found.push_back(e.path().string());
      }
    }
  }
  return found;
}

void collect_node_catalog(const fs::path& workspace_dir, node_catalog& catalog, header_error_lines* errors,
                          const annotations::parse_budget& limit) {
  std::map<std::string, std::vector<std::string>> headers;
  for (const fs::directory_entry& e : fs::directory_iterator(workspace_dir)) {
    const std::string name = e.path().filename().string();
    if (!e.is_directory() || !is_identifier(name) || !path_exists(e.path() / "nodes")) continue;
    // In name order, so that the same files are left out past the bound every time.
    std::vector<std::string> found = find_files((e.path() / "nodes").string(), "*");
    std::sort(found.begin(), found.end());
    for (std::string& path : found) {
      if (ends_with(path, ".h")) {
        headers[name].push_back(std::move(path));
      } else if (is_header_file(path)) {
        // A header the build cannot use must not look like one with no nodes.
        log_warn << "Node source " << path << " is not read: the node sources of a project are its files named "
                 << "*.h in its folder \"nodes\" and the folders within; rename it to read its nodes" << std::endl;
      }
    }
  }
  annotations::node_total total;
  total.limit = limit;
  bool full = false;
  for (const auto& [project, paths] : headers) {
    for (const std::string& path : paths) {
      const size_t before = error_lines_written();
      annotations::parse_budget cost;
      auto blocks = annotations::parse_file(path, project, &cost);
      const std::string passed = total.take(cost);
      if (!passed.empty()) {
        log_err << path << ": The node descriptions of all node sources exceed the limit of " << passed
                << "; the nodes of this file and of the files after it are left out." << std::endl;
      }
      if (errors != nullptr && error_lines_written() != before) (*errors)[path] += error_lines_written() - before;
      if (!passed.empty()) {
        full = true;
        break;
      }
      for (const auto& block : blocks) {
        block->header = path;
        // The lists hold copies, which keep what lives only in memory, such as the line
        // of the annotation that set a node's raster.
        if (auto c = std::dynamic_pointer_cast<annotations::block_class>(block)) {
          catalog.classes.push_back(*c);
        } else if (auto f = std::dynamic_pointer_cast<annotations::block_function>(block)) {
          catalog.functions.push_back(*f);
        }
      }
    }
    if (full) break;
  }
  for (const std::string& line : annotations::repeated_nodes(catalog)) log_warn << line << std::endl;
}

size_t unused_header_error_lines(const header_error_lines& errors, vesk::json& compile_info,
                                 const fs::path& workspace_dir) {
  std::set<std::string> listed;
  for (const char* key : {"headers", "sources"})
    for (auto item : compile_info[key])
      if (item.value->is_string()) listed.insert(item.value->get_string());
  size_t unused = 0;
  for (const auto& [path, count] : errors)
    if (listed.count("ws/" + fs::path(path).lexically_relative(workspace_dir).string()) == 0) unused += count;
  return unused;
}

runtime_map collect_runtimes(const fs::path& global_dir, const fs::path& workspace_dir,
                             refused_runtimes& refused) {
  runtime_map runtimes;
  // A stray folder (a backup such as "rt_old.bak", or one whose form is broken) must not
  // break the builds that do not use it: it is skipped, and an error only for the project
  // that selects it. A later folder of the same name replaces what an earlier one gave.
  const auto skip = [&](const fs::path& folder, const std::string& reason) {
    log_warn << "Runtime folder '" << folder.string() << "' is skipped: " << reason << std::endl;
    const std::string name = runtime_dir::name_of(folder);
    refused[name] = reason;
    runtimes.erase(name);
  };
  const auto add = [&](const fs::path& folder) {
    try {
      auto rt = std::make_shared<runtime_dir>(folder, true);
      if (!rt->form_fault.empty()) return skip(folder, rt->form_fault);
      refused.erase(rt->name);
      runtimes[rt->name] = rt;
    } catch (const std::exception& e) {
      skip(folder, e.what());
    }
  };
  for (const fs::path& folder : runtime_folders(global_dir)) add(folder);
  for (const fs::directory_entry& e : fs::directory_iterator(workspace_dir)) {
    if (e.is_directory() && starts_with(e.path().filename().string(), "rt_")) add(e.path());
  }
  return runtimes;
}

void write_generated_files(const fs::path& model_dir, std::map<std::string, src_stream>& files) {
  for (const fs::directory_entry& e : fs::directory_iterator(model_dir)) {
    const fs::path& p = e.path();
    if ((is_source_file(p) || is_header_file(p)) && files.count(p.filename().string()) == 0) fs::remove_all(p);
  }
  for (auto& [name, stream] : files) write_if_changed(model_dir / name, stream.text.str());
}

namespace {

[[noreturn]] void end_build(const std::string& message) {
  log_err << message << std::endl;
  std::cout.flush();
  std::exit(1);
}

}  // namespace

int build_model(const build_context& context) {
  log_printf(log_info, "Build model...");
  compiler comp;
  comp.base_name = "model";
  comp.default_raster = "r10ms";
  comp.send_to_all = ignore_json_message;

  const std::unique_ptr<project_config_file> loaded = read_project_config(context.config_path);
  const project_config_file& config = *loaded;
  const fs::path project_dir = project_folder_of(context.config_path);
  const fs::path workspace_dir = project_dir.parent_path();

  // Until this build succeeds, the latest build of its directory counts as failed,
  // whichever way it ends.
  if (is_plain_runtime_name(config.runtime)) {
    const fs::path dir = build_dir_of(project_dir, config.name, config.runtime);
    std::error_code ec;
    if (fs::is_directory(dir, ec)) note_build_result(dir, false);
  }

  // The faults of what the configuration selects name it.
  const std::string in_config = " in " + config.file.path.string();
  // The blocks name their project by its folder, whose nodes are read only under a name
  // the generated code can use; vesk refuses to open such a project with the same words.
  // A model that uses none of its nodes still builds.
  const std::string project_name = project_dir.filename().string();
  if (!is_identifier(project_name))
    log_warn << "Project name '" << project_name
             << "' is invalid. A project name must follow the pattern '[a-zA-Z][a-zA-Z0-9_]*'." << in_config
             << ": the node sources of its folder \"nodes\" are not read" << std::endl;
  const fs::path model_file = project_dir / "models" / (config.model + ".vmdl");
  if (!path_exists(model_file)) {
    if (config.model.empty()) end_build("No model to execute selected in your project configuration." + in_config);
    end_build("The selected modelfile '" + config.model +
              "' does not exist. Select another model to execute in your configuration." + in_config);
  }
  const json model = read_model_file(model_file);

  node_catalog catalog;
  header_error_lines header_errors;
  collect_node_catalog(workspace_dir, catalog, &header_errors);
  const generator_registry registry = make_generator_registry(&catalog, workspace_dir.string(), &comp.files);

  refused_runtimes refused;
  const runtime_map runtimes = collect_runtimes(runtimes_dir, workspace_dir, refused);
  if (refused.count(config.runtime) != 0) throw_bt_exception(refused[config.runtime]);
  // Only a plain name may go into a path and a command; the empty name of an "rt_"
  // folder is let through here and refused after the compile.
  const auto rt = runtimes.find(config.runtime);
  if (rt == runtimes.end() || (!config.runtime.empty() && !is_plain_runtime_name(config.runtime))) {
    log_err << "Selected runtime '" << config.runtime << "' does not exists." << in_config << std::endl;
    return -1;
  }
  const fs::path build_dir = build_dir_of(project_dir, config.name, config.runtime);
  const fs::path model_dir = build_dir / "model";

  log_info << "Start compiling..." << std::endl;
  comp.base_name = "model";
  comp.reference_base = project_dir.string();
  comp.model_file = model_file.string();
  comp.generators = registry;
  comp.read_model = [](const std::string& path) { return read_model_file(path); };
  if (context.gui_output) comp.send_to_all = print_json_message;
  comp.compile(model);
  if (comp.error) return -1;
  // Only a model that compiled gets a build directory: a fault leaves nothing behind.
  // A new one holds no successful build until ./build succeeds, however this run ends.
  if (!fs::is_directory(build_dir)) {
    fs::create_directories(build_dir);
    note_build_result(build_dir, false);
  }
  fs::create_directories(model_dir);
  fs::create_directories(build_dir / "resources");
  // A broken node source of a project that this model does not use (another project of
  // the workspace, say) is reported but must not fail this build.
  excuse_error_lines(unused_header_error_lines(header_errors, comp.compile_info, workspace_dir));

  write_generated_files(model_dir, comp.files);
  write_text_file(model_dir / "compile_info.json", comp.compile_info.dump("  "));
  write_if_changed(build_dir / block_lines_file, block_lines_text(comp.block_lines, "model/"));

  {
    log_place place(config.file.path.string());
    sync_runtime_files(rt->second->path, config.runtime, build_dir, shared_dir);
  }
  sync_workspace_nodes(ws_sync_context{comp.compile_info, build_dir}, workspace_dir);
  write_runtime_config(build_dir, config, config.runtime);
  // The C++ compiler's messages about generated lines name the block that wrote them.
  const int status = run_build_script(
      build_dir, [&](const std::string& line) { return traced_line(line, comp.block_lines, build_dir); });
  note_build_result(build_dir, status == 0);
  return status;
}

}  // namespace vesk
