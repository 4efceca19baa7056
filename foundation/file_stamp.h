#pragma once
// What tells a file's change from its last reading or writing: everything one stat call
// gives that a change moves, so that a poll needs nothing more to compare.

#include <cstdint>
#include <filesystem>

struct stat;

/// A file's modification and change times, size, inode and device. A save within the same
/// tick of a coarse clock still changes the size or (saved through a rename) the inode; an
/// edit that puts the old modification time back still moves the change time, which no
/// program can set.
struct file_stamp {
  bool present = false;
  int64_t mtime_ns = 0;
  int64_t ctime_ns = 0;
  int64_t size = 0;
  uint64_t inode = 0;
  uint64_t device = 0;
  bool operator==(const file_stamp& o) const {
    return present == o.present && mtime_ns == o.mtime_ns && ctime_ns == o.ctime_ns && size == o.size &&
           inode == o.inode && device == o.device;
  }
  bool operator!=(const file_stamp& o) const { return !(*this == o); }
  /// The stamp of `path` (links followed); not present when it cannot be had.
  static file_stamp of(const std::filesystem::path& path);
  /// The stamp a stat call gave.
  static file_stamp of(const struct stat& st);
};
