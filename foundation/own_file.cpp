#include "foundation/own_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

/// Whether `uid` may own what the program takes as its own.
bool trusted(uid_t uid) { return uid == 0 || uid == ::geteuid(); }

std::string not_ours(const std::string& what, uid_t uid) {
  return what + " belongs to uid " + std::to_string(uid) + ", neither to this user (uid " +
         std::to_string(::geteuid()) + ") nor to root";
}

}  // namespace

std::string own_file_fault(const std::filesystem::path& path) {
  const std::string name = path.string();
  struct stat link {}, target {};
  if (::lstat(path.c_str(), &link) != 0) return name + " cannot be examined: " + std::strerror(errno);
  if (S_ISLNK(link.st_mode)) {
    // A link's own mode means nothing; its owner may point it elsewhere at any time.
    if (!trusted(link.st_uid)) return not_ours(name + " (a link)", link.st_uid);
    if (::stat(path.c_str(), &target) != 0) return name + " leads nowhere: " + std::strerror(errno);
  } else {
    target = link;
  }
  const std::string what = S_ISLNK(link.st_mode) ? "what " + name + " leads to" : name;
  if (!trusted(target.st_uid)) return not_ours(what, target.st_uid);
  if (target.st_mode & S_IWOTH) return what + " is writable by every user";
  return std::string();
}
