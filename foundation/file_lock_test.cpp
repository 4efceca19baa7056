#include "foundation/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "foundation/test_util.h"

namespace fs = std::filesystem;

namespace {

// Whether another open description of `path` could take the lock now.
bool free_to_take(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  const bool taken = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (fd >= 0) ::close(fd);
  return taken;
}

TEST(FileLock, HeldWhileItLivesAndNeverOnWhatIsNoPlainFile) {
  temp_dir dir;
  const fs::path plain = dir.path / "a.cfg.lock", fifo = dir.path / "fifo.lock", link = dir.path / "link.lock";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(dir.path / "elsewhere", link);
  const struct {
    fs::path lock;
    bool held;
  } rows[] = {{plain, true}, {fifo, false}, {link, false}, {dir.path / "gone" / "a.lock", false}};
  for (const auto& r : rows) {
    {
      vesk::file_lock lock(r.lock);
      EXPECT_EQ(r.held, lock.held()) << r.lock;
      if (r.held) {
        EXPECT_FALSE(free_to_take(r.lock)) << r.lock;
      }
    }
    if (r.held) {
      EXPECT_TRUE(free_to_take(r.lock)) << r.lock;
    }
  }
  EXPECT_FALSE(fs::exists(dir.path / "elsewhere")) << "a link was followed";
  EXPECT_EQ(vesk::lock_file_of(dir.path / "vesk.cfg"), dir.path / "vesk.cfg.lock");

  // A holder that does not let go holds the lock only as long as the wait is bounded.
  const int holder = ::open(plain.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  const unsigned saved = vesk::file_lock::max_wait_ms;
  vesk::file_lock::max_wait_ms = 0;
  EXPECT_FALSE(vesk::file_lock(plain).held());
  vesk::file_lock::max_wait_ms = saved;
  ::close(holder);
}

}  // namespace
