// Sliced removals, paused between slices by running each slice here: nothing outside the
// removed folder goes, whatever is exchanged for a link meanwhile, and an entry another
// program removed first is no failure.
#include "backend/folder_removals.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "foundation/log_capture.h"
#include "foundation/test_util.h"

namespace fs = std::filesystem;

namespace {

/// Exchanges two entries in one step, as another program may.
void exchange(const fs::path& a, const fs::path& b) {
  ASSERT_EQ(::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE), 0) << a;
}

size_t count_files(const fs::path& dir) {
  size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir)) n += e.is_regular_file();
  return n;
}

TEST(FolderRemovals, NothingOutsideGoesAndWhatOthersRemovedFirstIsNoFailure) {
  struct row {
    const char* label;
    int slices_before;  // run before `meanwhile`
    std::function<void(const fs::path& hidden, const fs::path& link, vesk::folder_removals& r)> meanwhile;
  };
  const row rows[] = {
      {"a folder being emptied exchanged for a link to a folder outside", 1,
       [](const fs::path& hidden, const fs::path& link, vesk::folder_removals&) { exchange(hidden / "d", link); }},
      {"the removed folder itself exchanged so before its first slice", 0,
       [](const fs::path& hidden, const fs::path& link, vesk::folder_removals&) { exchange(hidden, link); }},
      {"a file removed by another program between listing and removal", 1,
       [](const fs::path&, const fs::path&, vesk::folder_removals& r) {
         r.before_remove = [first = true](const fs::path& p) mutable {
           if (first) {
             ASSERT_TRUE(fs::remove(p)) << p;
           }
           first = false;
         };
       }},
  };
  for (const row& c : rows) {
    SCOPED_TRACE(c.label);
    temp_dir t;
    for (int i = 0; i < 20; ++i) t.put("outside/f" + std::to_string(i));
    // More than one slice removes, so the first ends inside d.
    for (size_t i = 0; i < vesk::folder_removals::slice_entries + 500; ++i) t.put("build/d/" + std::to_string(i));
    const fs::path link = t.path / "ln";
    fs::create_directory_symlink(t.path / "outside", link);
    vesk::io::event_list loop;
    vesk::folder_removals removals(loop);
    log_capture err(log_err);
    ASSERT_FALSE(removals.remove(t.path / "build"));
    const fs::path hidden = t.path / ".build.removed-1";
    for (int i = 0; i < c.slices_before; ++i) removals.slice();
    ASSERT_TRUE(fs::exists(hidden));
    c.meanwhile(hidden, link, removals);
    for (int i = 0; i < 10 && fs::exists(fs::symlink_status(hidden)); ++i) removals.slice();
    EXPECT_EQ(err.lines, std::vector<std::string>());
    EXPECT_FALSE(fs::exists(fs::symlink_status(hidden)));
    EXPECT_EQ(count_files(t.path / "outside"), 20u);
  }
}

}  // namespace
