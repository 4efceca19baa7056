// Whole-file reading and writing (declared in helpers.h). Reading never waits on or
// drains something that is not a regular file; writing replaces a file in one rename, so
// a failed save leaves the old content as it was.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"

namespace fs = std::filesystem;

namespace {

/// Reads an open regular file: its size first, then whatever it grew by (files under
/// /proc report size 0), never more than `limit` + 1 bytes, so a file that grows while it
/// is read still shows that it is too long. False on a read error.
bool read_regular(int fd, off_t size, size_t limit, std::string& text) {
  const size_t most = limit == SIZE_MAX ? limit : limit + 1;
  text.assign(std::min(static_cast<size_t>(size > 0 ? size : 0), most), '\0');
  size_t have = 0;
  for (;;) {
    if (have == most) break;
    if (have == text.size()) text.resize(std::min(most, have + (have < 65536 ? 65536 : have)));
    ssize_t n = ::read(fd, &text[have], text.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  text.resize(have);
  return true;
}

/// What a write to `given` replaces: the final target of a chain of symbolic links (which
/// need not exist yet), else `given` itself. Empty for a link loop.
fs::path write_target(const fs::path& given) {
  fs::path p = given;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) return p;
    fs::path to = fs::read_symlink(p, ec);
    if (ec) return p;
    p = to.is_absolute() ? to : p.parent_path() / to;
  }
  return fs::path();
}

/// Writes all of `content` to `fd`; false on the first error.
bool write_all(int fd, const std::string& content) {
  const char* p = content.data();
  size_t left = content.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

/// Creates a new, unused file in the folder open on `dir_fd` (hidden, named after
/// `name`); its descriptor, or -1. Mode 0666 so that the umask decides for a new file, as
/// for any other created file.
int create_temp(int dir_fd, const std::string& name, std::string& temp) {
  static unsigned counter = 0;
  for (int tries = 0; tries < 100; ++tries) {
    const unsigned salt = static_cast<unsigned>(::getpid()) * 2654435761u ^
                          static_cast<unsigned>(std::time(nullptr)) ^ (++counter * 40503u);
    temp = "." + name + ".tmp" + std::to_string(salt);
    int fd = ::openat(dir_fd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

std::string read_file(const std::string& file_name) { return read_file(file_name, SIZE_MAX); }

std::string read_file(const std::string& file_name, size_t max_bytes) {
  std::string text;
  size_t size = 0;
  const bounded_read r = read_file_within(file_name, max_bytes, text, size);
  if (r == bounded_read::too_large) throw_bt_exception(too_long(file_name, size, max_bytes));
  if (r == bounded_read::failed) throw_bt_exception("Unable to read file: " + file_name);
  return text;
}

bounded_read read_file_within(const std::string& file_name, size_t max_bytes, std::string& text, size_t& size) {
  if (!path_exists(file_name)) throw_bt_exception("Unable to open file: " + file_name);
  // Non-blocking, so opening a FIFO does not wait for a writer.
  const int fd = ::open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw_bt_exception("Unable to open file: " + file_name);
  const bounded_read r = read_open_file(fd, text, max_bytes, size);
  ::close(fd);
  return r;
}

bool read_open_file(int fd, std::string& text) {
  size_t size = 0;
  return read_open_file(fd, text, SIZE_MAX, size) == bounded_read::ok;
}

bounded_read read_open_file(int fd, std::string& text, size_t max_bytes, size_t& size) {
  struct stat st {};
  text.clear();
  size = 0;
  if (::fstat(fd, &st) != 0) return bounded_read::failed;
  if (!S_ISREG(st.st_mode)) return bounded_read::ok;
  // Refused by its size before a byte is read; one that grows past it while read, after.
  size = static_cast<size_t>(st.st_size > 0 ? st.st_size : 0);
  if (size > max_bytes) return bounded_read::too_large;
  if (!read_regular(fd, st.st_size, max_bytes, text)) {
    std::string().swap(text);
    return bounded_read::failed;
  }
  size = text.size();
  if (size <= max_bytes) return bounded_read::ok;
  std::string().swap(text);
  return bounded_read::too_large;
}

std::string too_long(const std::string& file_name, size_t size, size_t max_bytes) {
  return "Unable to read file: " + file_name + " (" + std::to_string(size) + " bytes, more than the limit of " +
         std::to_string(max_bytes) + ")";
}

std::filesystem::path open_file_path(int fd) {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
  // A removed entry reads "<path> (deleted)"; such a path names nothing.
  if (ec || !p.is_absolute() || ends_with(p.string(), " (deleted)")) return fs::path();
  return p;
}

bool path_exists(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::status(path, ec));
}

std::function<void()> write_file_renamed_hook;

bool write_file(const std::string& file_name, const std::string& content,
                const std::function<bool()>& may_replace, file_stamp* written) {
  const fs::path target = write_target(file_name);
  if (target.empty()) {
    errno = ELOOP;
    return false;
  }
  const std::string dir = target.has_parent_path() ? target.parent_path().string() : ".";
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return false;
  const bool ok = write_file_in(dfd, target.filename().string(), content, may_replace, written);
  const int saved = errno;
  ::close(dfd);
  errno = saved;
  return ok;
}

bool write_file_in(int dir_fd, const std::string& name, const std::string& content,
                   const std::function<bool()>& may_replace, file_stamp* written) {
  struct stat old {};
  const bool existed = ::fstatat(dir_fd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  // A folder, FIFO, device or link is not a file we may replace by a regular one.
  if (existed && !S_ISREG(old.st_mode)) {
    errno = S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  std::string temp;
  int fd = create_temp(dir_fd, name, temp);
  if (fd < 0) return false;
  bool ok = true;
  if (existed) {
    // Owner and group are kept where we may; the permission bits always.
    ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    if (ok && ::fchown(fd, old.st_uid, old.st_gid) != 0) errno = 0;
  }
  struct stat wrote {};
  ok = ok && write_all(fd, content) && ::fsync(fd) == 0 && ::fstat(fd, &wrote) == 0;
  int saved = errno;
  // The stamp is the written file's own, so its descriptor outlives the close (whose error
  // still stops the write) until after the rename, which moves the change time.
  const int own = ok && written ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
  if (ok && written && own < 0) {
    ok = false;
    saved = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && may_replace && !may_replace()) {
    ok = false;
    saved = ECANCELED;
  }
  // The rename replaces the entry itself: a link put there meanwhile is replaced, never followed.
  if (ok && ::renameat(dir_fd, temp.c_str(), dir_fd, name.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    if (own >= 0) ::close(own);
    ::unlinkat(dir_fd, temp.c_str(), 0);
    errno = saved;
    return false;
  }
  if (write_file_renamed_hook) {
    const std::function<void()> hook = std::move(write_file_renamed_hook);
    write_file_renamed_hook = nullptr;
    hook();
  }
  if (written) {
    // Modification time and size as written: an edit in place since differs from them.
    // Another file renamed over ours differs by its inode at the next look at the path.
    struct stat now {};
    *written = file_stamp{};
    if (::fstat(own, &now) == 0) {
      now.st_mtim = wrote.st_mtim;
      now.st_size = wrote.st_size;
      *written = file_stamp::of(now);
    }
    ::close(own);
  }
  // The rename itself reaches the disk with the folder; a failure here loses nothing.
  ::fsync(dir_fd);
  return true;
}
