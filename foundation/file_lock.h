#pragma once
// An exclusive lock between processes, for a file that several of them change: each holds
// it from reading the file to writing it, so no change is made to a text another one is
// replacing. The lock is taken on a lock file of its own beside the file (never on the file,
// which a write replaces by a rename: a lock on it would guard an inode that is gone).

#include <filesystem>

namespace vesk {

/// Holds an flock on a lock file while it lives.
class file_lock {
 public:
  /// Creates `lock_file` when missing and locks it. Waits at most max_wait_ms for a holder
  /// (a peer stopped while holding it must not hold this process too), then goes on
  /// without the lock; so does a lock file that cannot be had (a folder that is gone, a
  /// name that is no regular file). What the lock guards then still checks before it writes.
  explicit file_lock(const std::filesystem::path& lock_file);
  ~file_lock();
  file_lock(const file_lock&) = delete;
  file_lock& operator=(const file_lock&) = delete;

  /// Whether the lock is held.
  bool held() const { return held_; }

  /// The longest wait for another holder, in milliseconds: the lock is taken on the event
  /// loop, which no peer may hold past about 100 ms.
  static inline unsigned max_wait_ms = 100;

 private:
  int fd_ = -1;
  bool held_ = false;
};

/// The lock file of `file`: its name with ".lock" added, in the same folder.
std::filesystem::path lock_file_of(const std::filesystem::path& file);

}  // namespace vesk
