#include "backend/workspace.h"

#include <exception>
#include <system_error>

#include "backend/main_controller.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"
#include "foundation/startup_paths.h"

namespace fs = std::filesystem;

namespace vesk {

namespace {

// Whether a folder is gone (or cannot be asked about): its entry goes.
bool vanished(const fs::path& folder) {
  std::error_code ec;
  fs::file_type t = fs::status(folder, ec).type();
  return t == fs::file_type::not_found || t == fs::file_type::none;
}

// Erases every entry of `entries` whose folder vanished; true when one was erased.
template <typename M, typename F>
bool drop_vanished(M& entries, F folder_of) {
  std::vector<std::string> gone;
  for (auto& e : entries)
    if (vanished(folder_of(*e.second))) gone.push_back(e.first);
  for (const std::string& n : gone) entries.erase(n);
  return !gone.empty();
}

}  // namespace

workspace::workspace(fs::path r, std::string own, vesk::main_controller& owner)
    : root(std::move(r)), own_project(std::move(own)), controller(owner) {}

workspace::~workspace() = default;

void workspace::rescan() {
  poll_step([&] {
    if (drop_vanished(projects, [](project_dir& p) { return p.path; })) changed = true;
  });
  poll_step([&] {
    if (drop_vanished(runtimes, [](runtime_dir& r) { return r.path; })) changed = true;
  });

  // Each folder, project and loose file on its own: one that fails is tried again by the
  // next rescan and keeps none of the others from being looked at.
  std::error_code ec;
  size_t seen = 0;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (++seen > max_entries) {
      if (!noted_full_)
        log_warn << "The workspace folder " << root.string() << " holds more than " << max_entries
                 << " entries; the others are not looked at." << std::endl;
      noted_full_ = true;
      break;
    }
    poll_step([&] { add_folder(*it); });
  }

  for (auto& p : projects) {
    for (auto& o : p.second->observers) poll_step([&] { o->poll(); });
    if (p.second->files_changed || p.second->blocks_changed) {
      changed = true;
      p.second->files_changed = p.second->blocks_changed = false;
    }
  }

  // A loose file is read again only when its stamp moved (reload_if_changed looks first).
  for (auto& f : files)
    poll_step([&] {
      if (f.second->reload_if_changed()) changed = true;
    });
}

void workspace::add_folder(const fs::directory_entry& entry) {
  std::error_code ec;
  if (!entry.is_directory(ec)) return;
  const std::string n = entry.path().filename().string();
  if (n.empty() || n[0] == '.' || n == own_project) return;
  if (!is_identifier(n)) {
    // Bounded too: names that come and go must not pile up.
    if (ignored.size() < max_entries && ignored.insert(n).second) {
      log_warn << "Workspace directory '" << n
               << "' is ignored because it does not follow the pattern '[a-zA-Z][a-zA-Z0-9_]*'." << std::endl;
    }
    return;
  }
  const bool known = starts_with(n, "rt_") ? runtimes.count(n.substr(3)) > 0 : projects.count(n) > 0;
  if (!known && projects.size() + runtimes.size() >= max_folders) {
    if (!noted_folders_)
      log_warn << "The workspace folder " << root.string() << " holds more than " << max_folders
               << " projects and runtimes; the others are not taken in." << std::endl;
    noted_folders_ = true;
    return;
  }
  if (starts_with(n, "rt_")) {
    const std::string r = n.substr(3);
    if (runtimes.count(r)) return;
    auto made = std::make_shared<runtime_dir>(root / n);  // stored only once it was built
    runtimes[r] = made;
    changed = true;
  } else if (!projects.count(n)) {
    // A new project's observers report its files, which sets its flags: the rescan turns
    // those into the mark, so an empty project leaves it alone.
    auto made = std::make_shared<project_dir>(root / n, controller);
    projects[n] = made;
  }
}

std::shared_ptr<managed_file> workspace::get_file(fs::path& file) {
  file = fs::weakly_canonical(file).lexically_normal();
  for (auto& p : projects)
    if (starts_with(file.string(), p.second->path.string())) return p.second->get_file(file);
  auto it = files.find(file);
  if (it != files.end()) return it->second;
  auto made = std::make_shared<managed_file>(file, controller);
  files[file] = made;
  return made;
}

void main_controller::scan_runtimes() {
  global_runtimes.clear();
  // A missing runtimes folder means no installed runtimes; the workspace may still have some.
  std::error_code ec;
  if (fs::is_directory(runtimes_dir, ec)) {
    for (const fs::path& folder : runtime_folders(runtimes_dir)) {
      // A stray folder (a backup such as "old.bak") is skipped, as vesk-cli skips it,
      // instead of ending the program; warned about once, like a bad workspace folder.
      try {
        global_runtimes.emplace_back(folder);
      } catch (const std::exception& e) {
        if (workspace.ignored.insert(folder.string()).second)
          log_warn << "Runtime folder '" << folder.string() << "' is skipped: " << e.what() << std::endl;
      }
    }
  }
  state.rt_properties = vesk::json::make_object();
  for (runtime_dir& r : global_runtimes) state.rt_properties[r.name] = r.config_def;
  for (auto& r : workspace.runtimes) state.rt_properties[r.first] = r.second->config_def;
  send_backend_state();
}

}  // namespace vesk
