#include "foundation/fs_observer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace fs = std::filesystem;

namespace {

fs::path normal_or_given(const fs::path& p) {
  std::error_code ec;
  fs::path c = fs::canonical(p, ec);
  return ec ? p : c.lexically_normal();
}

/// Stores the write time of `p` in `t`, or returns false (`t` untouched) when nothing is
/// there. Other errors throw, so a file that exists but cannot be queried reaches the caller.
bool write_time_if_present(const fs::path& p, fs::file_time_type& t) {
  std::error_code ec;
  fs::file_time_type got = fs::last_write_time(p, ec);
  if (!ec) {
    t = got;
    return true;
  }
  if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) return false;
  throw fs::filesystem_error("cannot read the write time", p, ec);
}

/// Drops the children that the last listing did not mark present, reporting each through
/// `report`; whether any was dropped.
template <class Child, class Report>
bool drop_absent(std::map<std::string, std::shared_ptr<Child>>& children, Report report) {
  bool dropped = false;
  for (auto it = children.begin(); it != children.end();) {
    if (it->second->present) { ++it; continue; }
    std::shared_ptr<Child> gone = it->second;
    it = children.erase(it);
    dropped = true;
    report(*gone);
  }
  return dropped;
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
  if (fs::is_directory(path)) list(true);
}

std::vector<fs::path> obs_dir::descent() const {
  std::vector<fs::path> d = ancestors_;
  d.push_back(path);
  return d;
}

bool obs_dir::list(bool initial) {
  bool added = false;
  for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
    std::string key = entry.path().filename().string();
    if (entry.is_directory()) {
      auto it = dirs.find(key);
      if (it != dirs.end()) {
        it->second->poll();
        it->second->present = true;
        continue;
      }
      dirs.emplace(key, std::make_shared<obs_dir>(entry.path(), observer, descent()));
      if (!initial) observer->on_dir_added(entry.path());
    } else {
      auto it = files.find(key);
      if (it != files.end()) {
        it->second->present = true;
        it->second->poll();
        continue;
      }
      files.emplace(key, std::make_shared<obs_file>(entry.path(), observer));
      if (!initial || observer->report_existing) observer->on_file_added(entry.path());
    }
    added = true;
  }
  return added;
}

void obs_dir::poll() {
  if (disabled) return;
  // Gone (its parent reports that) or not a folder at all: nothing to list.
  if (!fs::is_directory(path)) return;
  for (auto& f : files) f.second->present = false;
  for (auto& d : dirs) d.second->present = false;
  bool changed = list(false);
  changed |= drop_absent(files, [this](obs_file& f) { observer->on_file_removed(f.path); });
  changed |= drop_absent(dirs, [](obs_dir& d) { d.report_removed(); });
  if (changed) observer->on_dir_changed(path);
}

void obs_dir::report_removed() {
  for (auto& f : files) observer->on_file_removed(f.second->path);
  for (auto& d : dirs) d.second->report_removed();
  observer->on_dir_removed(path);
}

single_observed_file::single_observed_file(fs::path p) : path(std::move(p)) {
  if (write_time_if_present(path, last_write_time)) content = read_file(path.string());
}

void single_observed_file::save() {
  if (!write_file(path.string(), content)) {
    // The file on disk is as it was; the old time lets an outside edit still be seen.
    log_err << "Unable to save file: " << path.string() << " (" << std::strerror(errno) << ")" << std::endl;
    return;
  }
  last_write_time = fs::last_write_time(path);
}

void single_observed_file::check() {
  fs::file_time_type t;
  if (!write_time_if_present(path, t) || t == last_write_time) return;
  content = read_file(path.string());
  on_change();
  last_write_time = t;
}
