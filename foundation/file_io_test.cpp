#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include <gtest/gtest.h>

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/test_util.h"

namespace fs = std::filesystem;

namespace {

/// Names in `dir` other than `keep`: leftovers of a write.
std::vector<std::string> others(const fs::path& dir, const std::vector<std::string>& keep) {
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    if (std::find(keep.begin(), keep.end(), name) == keep.end()) left.push_back(name);
  }
  return left;
}

unsigned mode_of(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

TEST(ReadFile, RegularFilesWholeOtherEntriesEmptyAtOnce) {
  temp_dir d;
  ASSERT_EQ(::mkfifo((d.path / "fifo").c_str(), 0644), 0);
  d.put("bin", std::string("x\0y\n", 4));
  d.put("empty", "");
  d.put("big", std::string(200000, 'b'));
  fs::create_directory(d.path / "folder");
  const struct {
    fs::path path;
    std::string want;
  } cases[] = {
      {d.path / "bin", std::string("x\0y\n", 4)},
      {d.path / "empty", ""},
      {d.path / "big", std::string(200000, 'b')},
      {d.path / "folder", ""},
      // Never waits for a writer, never drains an endless device.
      {d.path / "fifo", ""},
      {"/dev/zero", ""},
      {"/dev/null", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(in_child([&] { return read_file(c.path.string()); }), c.want) << c.path;
  // Regular files that report no size are read to their end.
  EXPECT_EQ(read_file("/proc/self/status").compare(0, 5, "Name:"), 0);
  const std::string missing = (d.path / "missing").string();
  expect_throw_what<vesk::util::bt_exception>([&] { read_file(missing); }, "Unable to open file: " + missing);
}

TEST(WriteFile, ReplacesWholeKeepsModeAndFollowsLinks) {
  temp_dir d;
  const mode_t saved_mask = ::umask(022);
  struct write_case {
    const char* name;
    std::function<void()> setup;
    const char* write_to;  // below the folder
    bool ok;
    const char* read_from;  // where the content lands ("" when nothing may)
    unsigned mode;          // of read_from after the write
    std::function<bool()> may_replace = nullptr;
  };
  const write_case cases[] = {
      {"new file, umask 022", [] {}, "new.txt", true, "new.txt", 0644},
      {"new file, umask 077", [] { ::umask(077); }, "private.txt", true, "private.txt", 0600},
      {"existing 0600", [&] { fs::permissions(d.put("keep.txt", "old"), fs::perms(0600)); }, "keep.txt", true,
       "keep.txt", 0600},
      {"existing 0755", [&] { fs::permissions(d.put("run.sh", "old"), fs::perms(0755)); }, "run.sh", true,
       "run.sh", 0755},
      {"through a relative link", [&] { d.put("sub/target", "old"); fs::create_symlink("sub/target", d.path / "ln"); },
       "ln", true, "sub/target", 0644},
      {"through a chain to a missing file", [&] {
         fs::create_symlink("ln3", d.path / "ln2");
         fs::create_symlink(d.path / "made", d.path / "ln3");
       }, "ln2", true, "made", 0644},
      {"missing folder", [] {}, "nofolder/x.txt", false, "", 0},
      {"a folder in the way", [&] { fs::create_directory(d.path / "dir"); }, "dir", false, "", 0},
      {"a link loop", [&] { fs::create_symlink("loop", d.path / "loop"); }, "loop", false, "", 0},
      {"refused right before the rename", [&] { d.put("kept.txt", "old"); }, "kept.txt", false, "", 0,
       [] { return false; }},
  };
  std::vector<std::string> names;
  for (const write_case& c : cases) {
    ::umask(022);
    c.setup();
    for (const auto& e : fs::directory_iterator(d.path)) names.push_back(e.path().filename().string());
    const std::string content = std::string("new content of ") + c.name;
    EXPECT_EQ(write_file((d.path / c.write_to).string(), content, c.may_replace), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(read_file((d.path / c.read_from).string()), content) << c.name;
      EXPECT_EQ(mode_of(d.path / c.read_from), c.mode) << c.name;
      names.push_back(c.read_from);
    }
    // Links stay links; nothing else appears (no temporary file left behind).
    EXPECT_EQ(others(d.path, names), std::vector<std::string>()) << c.name;
    if (fs::exists(d.path / "sub")) {
      EXPECT_EQ(others(d.path / "sub", {"target"}), std::vector<std::string>()) << c.name;
    }
  }
  EXPECT_TRUE(fs::is_symlink(d.path / "ln"));
  EXPECT_TRUE(fs::is_symlink(d.path / "ln2"));
  EXPECT_EQ(read_file((d.path / "kept.txt").string()), "old");
  ::umask(saved_mask);
}

TEST(WriteFile, InAnOpenFolderTheNameIsNeverFollowed) {
  temp_dir d;
  const fs::path outside = d.put("outside.txt", "keep"), in = d.path / "in";
  fs::create_directory(in);
  fs::create_symlink(outside, in / "ln");
  const int dir = ::open(in.c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_EQ(open_file_path(dir), in);
  EXPECT_FALSE(write_file_in(dir, "ln", "new"));
  EXPECT_TRUE(write_file_in(dir, "plain", "new"));
  ::close(dir);
  EXPECT_EQ(read_file(outside.string()) + read_file((in / "plain").string()), "keepnew");
}

TEST(WriteFile, FailedWriteKeepsTheOldContentWhole) {
  temp_dir d;
  const fs::path f = d.put("model.json", "old content, whole");
  // The file-size limit makes the write itself fail part-way, as a full disk would.
  std::string result = in_child([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit small{8, 8};
    ::setrlimit(RLIMIT_FSIZE, &small);
    bool ok = write_file(f.string(), std::string(4096, 'n'));
    return std::string(ok ? "ok" : "failed") + (errno == EFBIG ? " EFBIG" : " other");
  });
  EXPECT_EQ(result, "failed EFBIG");
  EXPECT_EQ(read_file(f.string()), "old content, whole");
  EXPECT_EQ(others(d.path, {"model.json"}), std::vector<std::string>());
}

TEST(ReadFile, PastItsBoundAFileIsRefusedNamingSizeAndBound) {
  temp_dir d;
  const std::string f = d.put("f", std::string(101, 'x')).string();
  EXPECT_EQ(read_file(f, 101).size(), 101u);
  // /proc files say they are empty, then give more: the bound holds while reading too.
  for (const auto& [name, bound, size] : {std::tuple{f, 100, "101"}, {f, 0, "101"}, {"/proc/self/status", 20, "21"}})
    expect_throw_what<vesk::util::bt_exception>([&, name = name, bound = bound] { read_file(name, bound); },
                                                "Unable to read file: " + name + " (" + size +
                                                    " bytes, more than the limit of " + std::to_string(bound) + ")");
}
