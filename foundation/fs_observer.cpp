#include "foundation/fs_observer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <utility>

#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace fs = std::filesystem;

namespace {

using dir_id = std::pair<uint64_t, uint64_t>;

fs::path normal_or_given(const fs::path& p) {
  std::error_code ec;
  fs::path c = fs::canonical(p, ec);
  return ec ? p : c.lexically_normal();
}

/// The file system library's time for a stamp's modification time (zero when absent).
fs::file_time_type write_time_of(const file_stamp& s) {
  if (!s.present) return fs::file_time_type{};
  // The library's clock counts from its own epoch, a whole number of seconds away from
  // the system clock's.
  static const auto epoch_shift = [] {
    auto file_now = fs::file_time_type::clock::now().time_since_epoch();
    auto sys_now = std::chrono::duration_cast<fs::file_time_type::duration>(
        std::chrono::system_clock::now().time_since_epoch());
    return std::chrono::duration_cast<fs::file_time_type::duration>(
        std::chrono::round<std::chrono::seconds>(file_now - sys_now));
  }();
  return fs::file_time_type(
      std::chrono::duration_cast<fs::file_time_type::duration>(std::chrono::nanoseconds(s.mtime_ns)) + epoch_shift);
}

bool is_link(int dir_fd, const struct dirent* e) {
  if (e->d_type != DT_UNKNOWN) return e->d_type == DT_LNK;
  struct stat st {};
  return ::fstatat(dir_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
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

/// Files and folders observed now, and whether the warning on reaching the bound was given
/// since there was last room.
size_t watched_now = 0;
bool noted_full = false;

/// Whether the warning on a folder below the depth bound was given (once a run).
bool noted_deep = false;

/// Notes an entry left out for want of room; the first since there was room warns.
void note_full(const fs::path& folder, const char* name) {
  if (!noted_full) {
    log_warn << "Observing " << obs_base::max_watched << " files and folders, the most there may be: "
             << (folder / name).string() << " and further entries are not observed." << std::endl;
  }
  noted_full = true;
}

/// A name looked up in the child maps; reused, so lookups do not allocate.
std::string& lookup_key(const char* name) {
  static std::string key;
  key.assign(name);
  return key;
}

}  // namespace

obs_base::obs_base(const fs::path& p, fs_observer* o) : observer(o), path(normal_or_given(p)) { ++watched_now; }
obs_base::obs_base(fs::path p, fs_observer* o, bool) : observer(o), path(std::move(p)) { ++watched_now; }
obs_base::obs_base(const obs_base& other)
    : observer(other.observer), path(other.path), disabled(other.disabled), present(other.present) {
  ++watched_now;
}
obs_base::~obs_base() {
  --watched_now;
  if (watched_now < max_watched) noted_full = false;
}
size_t obs_base::watched() { return watched_now; }

obs_file::obs_file(const fs::path& p, fs_observer* o) : obs_base(p, o) {
  if (!disabled) stamp_ = file_stamp::of(path);
  last_write_time = write_time_of(stamp_);
}

obs_file::obs_file(fs::path p, fs_observer* o, const file_stamp& now)
    : obs_base(std::move(p), o, true), stamp_(now) {
  last_write_time = write_time_of(stamp_);
}

void obs_file::poll() {
  if (!disabled) poll(file_stamp::of(path));
}

void obs_file::poll(const file_stamp& now) {
  if (disabled || !now.present) return;  // removal is the parent folder's business
  if (now == stamp_) return;
  observer->on_file_changed(path);
  stamp_ = now;
  last_write_time = write_time_of(now);
}

obs_dir::obs_dir(const fs::path& p, fs_observer* o, std::vector<fs::path> ancestors)
    : obs_base(p, o), visited_(std::make_shared<visited_set>()) {
  for (const fs::path& a : ancestors) {
    struct stat st {};
    if (::stat(a.c_str(), &st) == 0) visited_->insert({st.st_dev, st.st_ino});
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    // Not a folder (or gone): nothing to list. Any other failure: listed by a later poll.
    if (errno != ENOENT && errno != ENOTDIR) note_unlisted(errno);
    return;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return;
  }
  start({st.st_dev, st.st_ino}, fd, 0);
}

obs_dir::obs_dir(fs::path p, fs_observer* o, std::shared_ptr<visited_set> visited, dir_id id, int fd, int error,
                 unsigned depth)
    : obs_base(std::move(p), o, true), visited_(std::move(visited)), depth_(depth) {
  start(id, fd, error);
}

obs_dir::~obs_dir() {
  if (claimed_) visited_->erase(id_);
}

void obs_dir::start(dir_id id, int fd, int error) {
  id_ = id;
  // Folders that link to each other would repeat the same subtree without end.
  if (!visited_->insert(id).second) {
    if (fd >= 0) ::close(fd);
    return;
  }
  claimed_ = true;
  if (fd < 0) {
    note_unlisted(error);
    return;
  }
  bool complete = true;
  list(fd, true, complete);
}

void obs_dir::note_unlisted(int error) {
  if (!unlisted_) log_warn << "Unable to list folder: " << path.string() << " (" << std::strerror(error) << ")" << std::endl;
  unlisted_ = true;
}

bool obs_dir::list(int fd, bool initial, bool& complete) {
  DIR* d = ::fdopendir(fd);
  if (d == nullptr) {
    note_unlisted(errno);
    ::close(fd);
    complete = false;
    return false;
  }
  unlisted_ = false;
  bool added = false;
  for (;;) {
    errno = 0;
    const struct dirent* e = ::readdir(d);
    if (e == nullptr) {
      if (errno != 0) complete = false;
      break;
    }
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    // Past the bound, an entry not yet known costs no stat call: only known ones are polled.
    if (watched_now >= max_watched && !dirs.count(lookup_key(name)) && !files.count(lookup_key(name))) {
      note_full(path, name);
      continue;
    }
    // Links followed; an entry that cannot be queried (a dangling or looping link, no
    // permission) is a file that does not exist now.
    struct stat st {};
    const bool ok = ::fstatat(fd, name, &st, 0) == 0;
    if (ok && S_ISDIR(st.st_mode)) {
      auto it = dirs.find(lookup_key(name));
      if (it == dirs.end() && depth_ >= max_depth) {
        if (!noted_deep) {
          log_warn << "Folders more than " << max_depth << " levels deep are not observed: " << (path / name).string()
                   << std::endl;
        }
        noted_deep = true;
        continue;
      }
      if (it != dirs.end()) {
        obs_dir& child = *it->second;
        if (!child.disabled) {
          int child_fd = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
          if (child_fd >= 0) child.poll_fd(child_fd);
          else if (errno != ENOENT && errno != ENOTDIR) child.note_unlisted(errno);
        }
        child.present = true;
        continue;
      }
      std::string key(name);
      fs::path listed = path / key;
      const dir_id id{st.st_dev, st.st_ino};
      int child_fd = visited_->count(id) ? -1 : ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      const int open_error = errno;
      std::shared_ptr<obs_dir> child(new obs_dir(is_link(fd, e) ? normal_or_given(listed) : listed, observer,
                                                 visited_, id, child_fd, open_error, depth_ + 1));
      dirs.emplace(std::move(key), std::move(child));
      if (!initial) observer->on_dir_added(listed);
    } else {
      const file_stamp now = ok ? file_stamp::of(st) : file_stamp{};
      auto it = files.find(lookup_key(name));
      if (it != files.end()) {
        it->second->present = true;
        it->second->poll(now);
        continue;
      }
      std::string key(name);
      fs::path listed = path / key;
      files.emplace(std::move(key),
                    std::make_shared<obs_file>(is_link(fd, e) ? normal_or_given(listed) : listed, observer, now));
      if (!initial || observer->report_existing) observer->on_file_added(listed);
    }
    added = true;
  }
  ::closedir(d);
  return added;
}

void obs_dir::poll() {
  if (disabled) return;
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) poll_fd(fd);
  // Gone (its parent reports that) or not a folder at all: nothing to list.
  else if (errno != ENOENT && errno != ENOTDIR) note_unlisted(errno);
}

void obs_dir::poll_fd(int fd) {
  if (!claimed_) {
    // A repeat of a folder listed elsewhere in the tree; it takes over once that is gone.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || visited_->count({st.st_dev, st.st_ino})) {
      ::close(fd);
      return;
    }
    id_ = {st.st_dev, st.st_ino};
    visited_->insert(id_);
    claimed_ = true;
  }
  for (auto& f : files) f.second->present = false;
  for (auto& d : dirs) d.second->present = false;
  bool complete = true;
  bool changed = list(fd, false, complete);
  if (!complete) {
    // What was not seen may still be there: nothing is taken for removed.
    for (auto& f : files) f.second->present = true;
    for (auto& d : dirs) d.second->present = true;
  }
  changed |= drop_absent(files, [this](obs_file& f) { observer->on_file_removed(f.path); });
  changed |= drop_absent(dirs, [](obs_dir& d) { d.report_removed(); });
  if (changed) observer->on_dir_changed(path);
}

void obs_dir::report_removed() {
  for (auto& f : files) observer->on_file_removed(f.second->path);
  for (auto& d : dirs) d.second->report_removed();
  observer->on_dir_removed(path);
}

single_observed_file::single_observed_file(fs::path p, size_t max) : path(std::move(p)), max_bytes(max) {
  stamp_ = file_stamp::of(path);
  if (stamp_.present && !refused(stamp_)) {
    try {
      content = read_file(path.string(), max_bytes);
    } catch (const std::exception&) {
      // Unreadable for now: empty, and the first check that can read it reports a change.
      stamp_ = file_stamp{};
    }
  }
  last_write_time = write_time_of(stamp_);
}

bool single_observed_file::refused(const file_stamp& now) {
  too_long_ = now.size >= 0 && static_cast<size_t>(now.size) > max_bytes;
  if (too_long_) {
    log_err << too_long(path.string(), static_cast<size_t>(now.size), max_bytes)
            << "; it is neither read nor written until it changes." << std::endl;
  }
  return too_long_;
}

bool single_observed_file::save() { return save(stamp_); }

bool single_observed_file::save(const file_stamp& read) {
  if (content.size() > max_bytes || (too_long_ && file_stamp::of(path) == stamp_)) {
    log_err << "Unable to save file: " << path.string() << " ("
            << (too_long_ ? "the file on disk was too long to be read" : std::to_string(content.size()) + " bytes")
            << ", more than the limit of " << max_bytes << ")" << std::endl;
    return false;
  }
  // Another program wrote the file after the change was made: its text is the newer one.
  // Asked right before the rename, so that an edit during the write is seen too. A file
  // that is gone is written anew; a folder in its place makes the write fail before that.
  bool outside = false;
  file_stamp wrote;
  const bool written = write_file(
      path.string(), content,
      [&] {
        const file_stamp now = file_stamp::of(path);
        outside = now.present && now != read;
        return !outside;
      },
      &wrote);
  if (outside) {
    log_warn << path.string() << " was changed by another program: the " << content.size()
             << " bytes meant for it were not written, and the file is read as it is now." << std::endl;
    return false;
  }
  if (!written) {
    // The file on disk is as it was; the old time lets an outside edit still be seen.
    log_err << "Unable to save file: " << path.string() << " (" << std::strerror(errno) << ")" << std::endl;
    return false;
  }
  too_long_ = false;
  // The written file's own stamp, never the path's: what another program put there since
  // is seen by the next check.
  stamp_ = wrote;
  last_write_time = write_time_of(stamp_);
  return true;
}

void single_observed_file::check() {
  const file_stamp now = file_stamp::of(path);
  if (!now.present || now == stamp_) return;
  if (refused(now)) {
    stamp_ = now;
    return;
  }
  content = read_file(path.string(), max_bytes);
  on_change();
  stamp_ = now;
  last_write_time = write_time_of(now);
}
