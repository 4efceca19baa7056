#include "foundation/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace vesk {

file_lock::file_lock(const std::filesystem::path& lock_file) {
  // Not blocking on a fifo, never following a link: the name is only ever a plain file.
  fd_ = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd_ < 0) return;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return;
  // Holders keep the lock for one read and one write; a short step bounds the wait.
  const unsigned step_ms = 5;
  for (unsigned waited = 0;; waited += step_ms) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      held_ = true;
      return;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || waited >= max_wait_ms) return;
    const struct timespec pause {0, static_cast<long>(step_ms) * 1000000};
    ::nanosleep(&pause, nullptr);
  }
}

file_lock::~file_lock() {
  // Closing the only descriptor of its description releases the lock.
  if (fd_ >= 0) ::close(fd_);
}

std::filesystem::path lock_file_of(const std::filesystem::path& file) {
  std::filesystem::path lock = file;
  lock += ".lock";
  return lock;
}

}  // namespace vesk
