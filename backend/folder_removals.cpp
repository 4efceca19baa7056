#include "backend/folder_removals.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace fs = std::filesystem;

/// One folder being removed: the folder that holds it, and the folders entered, deepest
/// last, each open (its listing going on where the last slice left it).
struct folder_removals::removal {
  /// A folder entered, with its name in the one above it.
  struct level {
    DIR* dir;
    std::string name;
    /// Whether this listing removed anything (an entry made meanwhile asks for another).
    bool removed_any = false;
  };
  explicit removal(fs::path hidden) : root(std::move(hidden)) {}
  removal(const removal&) = delete;
  removal& operator=(const removal&) = delete;
  ~removal() {
    for (level& l : levels) ::closedir(l.dir);
    if (parent >= 0) ::close(parent);
  }
  /// The path of the deepest folder entered (the root before any is), for messages.
  fs::path path() const {
    fs::path p = root;
    for (size_t i = 1; i < levels.size(); ++i) p /= levels[i].name;
    return p;
  }
  /// The descriptor of the folder that holds the deepest one entered.
  int above() const { return levels.size() > 1 ? ::dirfd(levels[levels.size() - 2].dir) : parent; }

  fs::path root;
  int parent = -1;
  bool started = false;
  std::vector<level> levels;
};

namespace {

/// The beginning of the hidden names that removals of `folder` rename it to.
std::string hidden_prefix(const fs::path& folder) { return "." + folder.filename().string() + ".removed-"; }

/// Opens the folder `name` in the one open on `at` without following a link; its stream,
/// or null with errno (ELOOP or ENOTDIR for anything that is no folder now).
DIR* open_folder(int at, const char* name) {
  const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  DIR* d = ::fdopendir(fd);
  if (d == nullptr) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
  }
  return d;
}

/// Removes the entry `name` of the folder open on `at` that is no folder (a link as the
/// link); one already gone is no failure. False with errno otherwise.
bool remove_entry(int at, const char* name) { return ::unlinkat(at, name, 0) == 0 || errno == ENOENT; }

/// After open_folder failed on `name` of the folder open on `at`: what is gone is no
/// failure, and what is no folder now (a link put there) goes as it is, never followed.
/// False with errno otherwise.
bool remove_unopened(int at, const char* name) {
  if (errno == ENOENT) return true;
  return (errno == ELOOP || errno == ENOTDIR) && remove_entry(at, name);
}

}  // namespace

folder_removals::folder_removals(vesk::io::event_list& events) : timer_(events, 0, [this] { slice(); }) {}

folder_removals::~folder_removals() = default;

void folder_removals::take(const fs::path& hidden) {
  for (const auto& f : folders_)
    if (f->root == hidden) return;
  folders_.push_back(std::make_unique<removal>(hidden));
  if (timer_.period == 0) timer_.set_interval(slice_gap_ms);
}

bool folder_removals::remove_some(removal& r, size_t& budget, fs::path& failed, std::error_code& ec) {
  // The entry `name` of the deepest folder entered (that folder itself when null) failed.
  const auto fail = [&](const char* name) {
    ec.assign(errno, std::generic_category());
    failed = name ? r.path() / name : r.path();
    return false;
  };
  if (!r.started) {
    r.started = true;
    r.parent = ::open(r.root.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (r.parent < 0) return errno == ENOENT || fail(nullptr);
    const std::string name = r.root.filename().string();
    if (DIR* d = open_folder(r.parent, name.c_str())) {
      r.levels.push_back({d, name});
    } else if (!remove_unopened(r.parent, name.c_str())) {
      return fail(nullptr);
    }
  }
  while (!r.levels.empty()) {
    if (budget == 0) return true;  // the rest with the next slice, where this listing left off
    removal::level& l = r.levels.back();
    const int fd = ::dirfd(l.dir);
    errno = 0;
    const struct dirent* e = ::readdir(l.dir);
    if (e == nullptr) {
      if (errno != 0) return fail(nullptr);
      if (::unlinkat(r.above(), l.name.c_str(), AT_REMOVEDIR) != 0) {
        // Entries made while it was listed: listed again, as long as each listing removes some.
        if ((errno == ENOTEMPTY || errno == EEXIST) && l.removed_any) {
          ::rewinddir(l.dir);
          l.removed_any = false;
          continue;
        }
        // Exchanged for something that is no folder: that goes, and the folder it left is
        // no longer in the removed one.
        if (errno == ENOTDIR ? !remove_entry(r.above(), l.name.c_str()) : errno != ENOENT) return fail(nullptr);
      }
      ::closedir(l.dir);
      r.levels.pop_back();
      if (!r.levels.empty()) r.levels.back().removed_any = true;
      --budget;
      continue;
    }
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    bool folder = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st {};
      folder = ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    }
    if (!folder) {
      if (before_remove) before_remove(r.path() / name);
      if (remove_entry(fd, name)) {
        --budget;
        l.removed_any = true;
        continue;
      }
      if (errno != EISDIR) return fail(name);
      // A folder now: entered below.
    }
    if (r.levels.size() >= max_depth) {
      errno = ENAMETOOLONG;
      return fail(name);
    }
    if (DIR* d = open_folder(fd, name)) {
      r.levels.push_back({d, name});  // `l` and `e` are not used past this
      continue;
    }
    // Gone, or exchanged for a link since it was listed.
    if (!remove_unopened(fd, name)) return fail(name);
    --budget;
    l.removed_any = true;
  }
  return true;
}

std::error_code folder_removals::remove(const fs::path& folder) {
  std::error_code ec;
  const fs::path parent = folder.parent_path();
  const std::string prefix = hidden_prefix(folder);
  for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (starts_with(name, prefix) && it->symlink_status(ec).type() == fs::file_type::directory) take(it->path());
  }
  ec.clear();
  const fs::file_status st = fs::symlink_status(folder, ec);
  if (!fs::exists(st)) return {};
  if (st.type() != fs::file_type::directory) {
    fs::remove(folder, ec);
    return ec;
  }
  fs::path hidden;
  for (unsigned n = 1; hidden.empty() || fs::exists(fs::symlink_status(hidden, ec)); ++n)
    hidden = parent / (prefix + std::to_string(n));
  fs::rename(folder, hidden, ec);
  if (!ec) take(hidden);
  return ec;
}

void folder_removals::slice() {
  size_t budget = slice_entries;
  while (budget > 0 && !folders_.empty()) {
    removal& r = *folders_.front();
    fs::path failed;
    std::error_code ec;
    if (!remove_some(r, budget, failed, ec)) {
      log_err << "clean_build_dir: unable to remove " << failed.string() << ": " << ec.message() << "; "
              << r.root.string() << " is left as it is." << std::endl;
      folders_.erase(folders_.begin());
    } else if (r.levels.empty()) {
      folders_.erase(folders_.begin());
    }
  }
  if (folders_.empty()) timer_.set_interval(0);
}

}  // namespace vesk
