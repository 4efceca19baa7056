#include "foundation/fs_observer.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "foundation/helpers.h"

namespace fs = std::filesystem;

namespace {

fs::path normal_or_given(const fs::path& p) {
  std::error_code ec;
  fs::path c = fs::canonical(p, ec);
  return ec ? p : c.lexically_normal();
}

/// The write time of `p`, or false when nothing is there. Other errors throw, so a file
/// that exists but cannot be queried reaches the caller.
bool write_time_if_present(const fs::path& p, fs::file_time_type& t) {
  std::error_code ec;
  t = fs::last_write_time(p, ec);
  if (!ec) return true;
  if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) return false;
  throw fs::filesystem_error("cannot read the write time", p, ec);
}

}  // namespace

obs_base::obs_base(const fs::path& p, fs_observer* o) : observer(o), path(normal_or_given(p)) {}

obs_file::obs_file(const fs::path& p, fs_observer* o) : obs_base(p, o) {
  if (!disabled) write_time_if_present(path, last_write_time);
}

void obs_file::poll() {
  if (disabled) return;
  fs::file_time_type t;
  if (!write_time_if_present(path, t)) return;  // removal is the parent folder's business
  if (t == last_write_time) return;
  observer->on_file_changed(path);
  last_write_time = t;
}

obs_dir::obs_dir(const fs::path& p, fs_observer* o, std::vector<fs::path> ancestors)
    : obs_base(p, o), ancestors_(std::move(ancestors)) {
  // A link back to a folder on the way down would make the tree endless.
  if (std::find(ancestors_.begin(), ancestors_.end(), path) != ancestors_.end()) {
    disabled = true;
    return;
  }
  if (!fs::is_directory(path)) return;
  for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
    std::string key = entry.path().filename().string();
    if (entry.is_directory()) {
      dirs[key] = std::make_shared<obs_dir>(entry.path(), observer, descent());
    } else {
      files[key] = std::make_shared<obs_file>(entry.path(), observer);
      if (observer->report_existing) observer->on_file_added(entry.path());
    }
  }
}

std::vector<fs::path> obs_dir::descent() const {
  std::vector<fs::path> d = ancestors_;
  d.push_back(path);
  return d;
}

void obs_dir::poll() {
  if (disabled) return;
  // Gone (its parent reports that) or not a folder at all: nothing to list.
  if (!fs::is_directory(path)) return;
  for (auto& f : files) f.second->present = false;
  for (auto& d : dirs) d.second->present = false;

  bool changed = false;
  for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
    std::string key = entry.path().filename().string();
    if (entry.is_directory()) {
      auto it = dirs.find(key);
      if (it == dirs.end()) {
        dirs.emplace(key, std::make_shared<obs_dir>(entry.path(), observer, descent()));
        observer->on_dir_added(entry.path());
        changed = true;
      } else {
        it->second->poll();
        it->second->present = true;
      }
    } else {
      auto it = files.find(key);
      if (it == files.end()) {
        files.emplace(key, std::make_shared<obs_file>(entry.path(), observer));
        observer->on_file_added(entry.path());
        changed = true;
      } else {
        it->second->present = true;
        it->second->poll();
      }
    }
  }

  for (auto it = files.begin(); it != files.end();) {
    if (it->second->present) { ++it; continue; }
    std::shared_ptr<obs_file> gone = it->second;
    it = files.erase(it);
    changed = true;
    observer->on_file_removed(gone->path);
  }
  for (auto it = dirs.begin(); it != dirs.end();) {
    if (it->second->present) { ++it; continue; }
    std::shared_ptr<obs_dir> gone = it->second;
    it = dirs.erase(it);
    changed = true;
    gone->report_removed();
  }
  if (changed) observer->on_dir_changed(path);
}

void obs_dir::report_removed() {
  for (auto& f : files) observer->on_file_removed(f.second->path);
  for (auto& d : dirs) d.second->report_removed();
  observer->on_dir_removed(path);
}

single_observed_file::single_observed_file(fs::path p) : path(std::move(p)) {
  if (!fs::exists(path)) return;
  last_write_time = fs::last_write_time(path);
  content = read_file(path.string());
}

void single_observed_file::save() {
  write_file(path.string(), content);
  last_write_time = fs::last_write_time(path);
}

void single_observed_file::check() {
  if (!fs::exists(path)) return;
  fs::file_time_type t = fs::last_write_time(path);
  if (t == last_write_time) return;
  content = read_file(path.string());
  on_change();
  last_write_time = t;
}
