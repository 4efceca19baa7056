// The controller's block list, file list and file pushes: what the editor's block palette
// and file browser show, and the "read_file" pushes of changed managed files.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "backend/main_controller.h"
#include "backend/shown_text.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace {

// The entry of a model that can be used as a node.
vesk::json model_entry(const std::string& model, const std::string& project) {
  return vesk::json{{"type", "base"},
                    {"name", model},
                    {"cfg", vesk::json{{"node", "reference"}, {"mdl", model}, {"prj", project}}}};
}

// The node descriptions of every header of a project, as JSON, in map and parse order.
vesk::json descriptions_of(const project_dir& project) {
  vesk::json list = vesk::json::make_array(nullptr, 0);
  for (const auto& h : project.headers)
    for (const auto& b : h.second->blocks) list.push_back(b->to_json());
  return list;
}

}  // namespace

void main_controller::send_block_list() {
  blocks.classes.clear();
  blocks.functions.clear();
  collect_blocks(blocks, descriptions_of(prj_dir));
  for (const auto& p : workspace.projects) collect_blocks(blocks, descriptions_of(*p.second));
  std::vector<std::string> repeats = vesk::annotations::repeated_nodes(blocks);
  for (const std::string& line : repeats)
    if (repeats_written.count(line) == 0) log_warn << line << std::endl;
  repeats_written = std::set<std::string>(repeats.begin(), repeats.end());

  vesk::json message{{"cmd", "get_blk_list"}, {"prj", vesk::json::make_array(nullptr, 0)}, {"ws", vesk::json::make_object()}};
  // A block names its model and project, which the compile looks up: names that cannot be
  // shown as they are stay out.
  for (const auto& m : prj_dir.models)
    if (m.second->is_node && state.unshown.admit(m.second->model_name, "model"))
      message["prj"].push_back(model_entry(m.second->model_name, prj_dir.name));
  for (const auto& p : workspace.projects)
    for (const auto& m : p.second->models)
      if (m.second->is_node && state.unshown.admit(p.first, "project") &&
          state.unshown.admit(m.second->model_name, "model"))
        message["ws"][p.first].push_back(model_entry(m.second->model_name, p.first));

  auto place = [&](vesk::json entry) {
    vesk::json& prj = entry["cfg"]["prj"];
    if (prj.is_string() && prj.get_string_ref() == state.prj_name)
      message["prj"].push_back(std::move(entry));
    else
      message["ws"][prj.get_string()].push_back(std::move(entry));
  };
  for (const auto& c : blocks.classes)
    place(vesk::json{{"type", "class"}, {"name", c.class_name}, {"cfg", vesk::json{{"class", c.class_name}, {"prj", c.project}}}});
  for (const auto& f : blocks.functions)
    place(vesk::json{{"type", "func"},
                     {"name", f.function.method_name},
                     {"cfg", vesk::json{{"func", f.function.method_name}, {"prj", f.project}}}});
  send_to_gui(message);
}

void main_controller::collect_blocks(vesk::annotations::block_lists& lists, const vesk::json& descriptions) {
  if (!descriptions.is_array()) return;
  for (const vesk::json& d : descriptions.array_elements()) {
    if (d.is_object() && vesk::json::has_member(d.object_members(), "class"))
      lists.classes.emplace_back(d);
    else
      lists.functions.emplace_back(d);
  }
}

void main_controller::update_file_list() {
  const char* kinds[] = {"headers", "sources", "models", "views"};
  for (const char* k : kinds) state.file_list[k] = vesk::json::make_array(nullptr, 0);
  // The editor opens a listed file by its name: one it cannot be shown as it is stays out.
  auto list = [this](const char* kind, const std::filesystem::path& name) {
    if (state.unshown.admit(name.string(), "file")) state.file_list[kind].push_back(name.string());
  };
  for (const auto& f : prj_dir.headers) list("headers", f.first);
  for (const auto& f : prj_dir.sources) list("sources", f.first);
  for (const auto& f : prj_dir.models) list("models", f.first);
  for (const auto& f : prj_dir.views) list("views", f.first);
  send_backend_state();
}

void main_controller::notify_file_changed(const managed_file& file) {
  // Over a copy: a push may end a session whose connection broke.
  std::vector<std::shared_ptr<vesk::session>> copy = sessions;
  for (const auto& s : copy) {
    std::vector<std::shared_ptr<managed_file>> matching;
    for (const auto& f : s->open_files)
      if (f.second && f.second->path == file.path) matching.push_back(f.second);
    for (const auto& f : matching) s->send_read_file(f);
  }
}

}  // namespace vesk
