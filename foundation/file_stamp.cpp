#include "foundation/file_stamp.h"

#include <sys/stat.h>

namespace {

/// Nanoseconds since the epoch.
int64_t ns_of(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

}  // namespace

file_stamp file_stamp::of(const std::filesystem::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? of(st) : file_stamp{};
}

file_stamp file_stamp::of(const struct stat& st) {
  file_stamp s;
  s.present = true;
  s.mtime_ns = ns_of(st.st_mtim);
  s.ctime_ns = ns_of(st.st_ctim);
  s.size = static_cast<int64_t>(st.st_size);
  s.inode = static_cast<uint64_t>(st.st_ino);
  s.device = static_cast<uint64_t>(st.st_dev);
  return s;
}
