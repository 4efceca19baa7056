#include "backend/project_dir.h"

#include "backend/main_controller.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace fs = std::filesystem;

namespace vesk {

namespace {

// The textual "under" test of the project: the folder's text begins the file's text (so a
// folder "nodes_old" counts as part of "nodes").
bool under(const fs::path& folder, const fs::path& file) { return starts_with(file.string(), folder.string()); }

}  // namespace

project_dir::project_dir(const fs::path& folder, vesk::main_controller& owner)
    : controller(owner), path(fs::canonical(folder).lexically_normal()) {
  name = path.filename().string();
  if (!is_identifier(name))
    throw_bt_exception("Project name '" + name +
                       "' is invalid. A project name must follow the pattern '[a-zA-Z][a-zA-Z0-9_]*'.");
  nodes_dir = path / "nodes";
  models_dir = path / "models";
  views_dir = path / "views";
  data_dir = path / "data";
  // Each observer reports the files already there, so the project starts loaded.
  observers[0] = std::make_shared<obs_dir>(nodes_dir, this);
  observers[1] = std::make_shared<obs_dir>(models_dir, this);
  observers[2] = std::make_shared<obs_dir>(views_dir, this);
  observers[3] = std::make_shared<obs_dir>(data_dir, this);
}

project_dir::~project_dir() = default;

void project_dir::on_file_added(const fs::path& file) {
  // One unreadable file (a dangling or looping link, no permission) must neither end the
  // start-up nor stop the poll that reports the others.
  try {
    add(file);
    skipped.erase(file);
  } catch (const std::exception& e) {
    skipped.insert(file);
    log_warn << e.what() << "; the file is skipped until it changes." << std::endl;
  }
}

void project_dir::add(const fs::path& file) {
  if (under(nodes_dir, file)) {
    if (is_header_file(file)) {
      files_changed = blocks_changed = true;
      if (!headers.count(file)) headers[file] = std::make_shared<managed_header>(file, controller, name);
    } else if (is_source_file(file)) {
      files_changed = true;
      if (!sources.count(file)) sources[file] = std::make_shared<managed_file>(file, controller);
    }
  } else if (under(models_dir, file)) {
    files_changed = true;
    if (!models.count(file)) models[file] = std::make_shared<managed_model>(file, controller, name);
  } else if (under(views_dir, file)) {
    files_changed = true;
    if (!views.count(file)) views[file] = std::make_shared<managed_file>(file, controller);
  }
}

void project_dir::on_file_changed(const fs::path& file) {
  if (skipped.count(file)) {
    on_file_added(file);
    return;
  }
  // Only a held file can have changed; one the project does not hold is ignored.
  auto reload = [&file](auto& files) {
    auto it = files.find(file);
    return it != files.end() && it->second->reload_if_changed();
  };
  if (under(nodes_dir, file)) {
    if (is_header_file(file)) {
      if (reload(headers)) files_changed = blocks_changed = true;
    } else if (is_source_file(file)) {
      if (reload(sources)) files_changed = true;
    }
  } else if (under(models_dir, file)) {
    if (reload(models)) files_changed = true;
  } else if (under(views_dir, file)) {
    if (reload(views)) files_changed = true;
  } else {
    reload(others);
  }
}

void project_dir::on_file_removed(const fs::path& file) {
  skipped.erase(file);
  on_file_changed(file);
  if (under(nodes_dir, file)) {
    if (is_header_file(file)) {
      headers.erase(file);
      files_changed = blocks_changed = true;
    } else if (is_source_file(file)) {
      sources.erase(file);
      files_changed = true;
    }
  } else if (under(models_dir, file)) {
    models.erase(file);
    files_changed = true;
  } else if (under(views_dir, file)) {
    views.erase(file);
    files_changed = true;
  } else {
    others.erase(file);
  }
  if (files_changed) controller.send_to_gui(vesk::json{{"cmd", "delete_notification"}, {"file_name", file.string()}});
}

std::shared_ptr<managed_file> project_dir::get_file(fs::path& file) {
  file = fs::weakly_canonical(file).lexically_normal();
  auto held = [&file](auto& files, auto make) -> std::shared_ptr<managed_file> {
    auto it = files.find(file);
    if (it != files.end()) return it->second;
    auto made = make();  // stored only once it could be loaded
    files[file] = made;
    return made;
  };
  if (under(nodes_dir, file) && is_header_file(file))
    return held(headers, [&] { return std::make_shared<managed_header>(file, controller, name); });
  if (under(nodes_dir, file) && is_source_file(file))
    return held(sources, [&] { return std::make_shared<managed_file>(file, controller); });
  if (!under(nodes_dir, file) && under(models_dir, file))
    return held(models, [&] { return std::make_shared<managed_model>(file, controller, name); });
  if (!under(nodes_dir, file) && under(views_dir, file))
    return held(views, [&] { return std::make_shared<managed_file>(file, controller); });
  return held(others, [&] { return std::make_shared<managed_file>(file, controller); });
}

bool project_dir::contains(const fs::path& file) const { return under(path, file); }

}  // namespace vesk
