#include "foundation/fs_observer.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/helpers.h"
#include "foundation/log_capture.h"
#include "foundation/test_util.h"

namespace fs = std::filesystem;

namespace {

/// Writes down every report as "<code> <path below the root>" ("." for the root itself):
/// +f ~f -f a file added, changed, removed; +d ~d -d the same for a folder.
class recorder : public fs_observer {
 public:
  explicit recorder(const fs::path& root) : root_(root.string()) {}
  void on_file_added(const fs::path& p) override { add("+f", p); }
  void on_file_changed(const fs::path& p) override { add("~f", p); }
  void on_file_removed(const fs::path& p) override { add("-f", p); }
  void on_dir_added(const fs::path& p) override { add("+d", p); }
  void on_dir_changed(const fs::path& p) override { add("~d", p); }
  void on_dir_removed(const fs::path& p) override { add("-d", p); }
  /// The reports so far joined by ", " (sorted where their order is not defined); then
  /// they are forgotten.
  std::string take(bool sort = false) {
    if (sort) std::sort(log_.begin(), log_.end());
    std::string r;
    for (const std::string& s : log_) r += (r.empty() ? "" : ", ") + s;
    log_.clear();
    return r;
  }

 private:
  void add(const char* code, const fs::path& p) {
    std::string s = p.string();
    if (s == root_) s = ".";
    else if (s.compare(0, root_.size() + 1, root_ + "/") == 0) s.erase(0, root_.size() + 1);
    log_.push_back(std::string(code) + " " + s);
  }
  std::string root_;
  std::vector<std::string> log_;
};

class FsObserver : public testing::Test {
 protected:
  using step = std::pair<std::function<void()>, const char*>;
  /// Per step: change the disk, poll `d`, expect exactly these reports.
  void expect_polls(obs_dir& d, const std::vector<step>& steps) {
    for (const step& s : steps) {
      s.first();
      d.poll();
      EXPECT_EQ(r.take(), s.second);
    }
  }
  void touch(const fs::path& rel) { shift_write_time(root / rel); }
  temp_dir t;
  fs::path root = t.path;
  recorder r{root};
};

}  // namespace

TEST_F(FsObserver, ReportsInOrderWithExactPaths) {
  for (const char* f : {"a.txt", "s/b.txt", "x", "y/inner.txt", "d/b.txt", "d/a.txt", "d/s/z.txt", "d/s/y.txt", "d/r/q.txt"})
    t.put(f);
  obs_dir d(root, &r);
  EXPECT_EQ(r.take(true), "+f a.txt, +f d/a.txt, +f d/b.txt, +f d/r/q.txt, +f d/s/y.txt, +f d/s/z.txt, +f s/b.txt, "
                          "+f x, +f y/inner.txt");
  expect_polls(d, {
      {[] {}, ""},
      {[&] { t.put("new.txt"); }, "+f new.txt, ~d ."},
      {[&] { t.put("n/one.txt"); }, "+f n/one.txt, +d n, ~d ."},
      // A changed file is no change of its folder; an older time counts as well.
      {[&] { touch("a.txt"); }, "~f a.txt"},
      {[&] { shift_write_time(root / "s/b.txt", -5 * 3600); }, "~f s/b.txt"},
      // A change below is reported by the subfolder only.
      {[&] { t.put("s/c.txt"); fs::remove(root / "new.txt"); }, "+f s/c.txt, ~d s, -f new.txt, ~d ."},
      // A vanished subtree: depth first in name order, each folder after what was in it.
      {[&] { fs::remove_all(root / "d"); },
       "-f d/a.txt, -f d/b.txt, -f d/r/q.txt, -d d/r, -f d/s/y.txt, -f d/s/z.txt, -d d/s, -d d, ~d ."},
      {[] {}, ""},
      // A file and a folder swap places.
      {[&] { fs::remove(root / "x"); fs::create_directory(root / "x"); }, "+d x, -f x, ~d ."},
      {[&] { fs::remove_all(root / "y"); t.put("y"); }, "+f y, -f y/inner.txt, -d y, ~d ."},
  });
}

TEST_F(FsObserver, WithoutReportExistingFilesAreOnlyKnown) {
  t.put("a.txt");
  r.report_existing = false;
  obs_dir d(root, &r);
  expect_polls(d, {
      {[&] { t.put("m/one.txt"); }, "+d m, ~d ."},
      {[&] { touch("m/one.txt"); }, "~f m/one.txt"},
      {[&] { fs::remove(root / "m/one.txt"); t.put("m/two.txt"); }, "+f m/two.txt, -f m/one.txt, ~d m"},
  });
}

TEST_F(FsObserver, PathFormsAndObservedFolderGone) {
  t.put("s/a.txt");
  // The path is canonical and lexically normal; a missing one is kept as given.
  obs_dir sub(root / "s" / ".." / "s" / ".", &r);
  EXPECT_EQ(sub.path, root / "s");
  EXPECT_EQ(obs_dir(root / "none" / "..", &r).path, root / "none" / "..");
  r.take();
  // The observed folder itself gone, then a file in its place: nothing to report.
  expect_polls(sub, {{[&] { fs::remove_all(root / "s"); }, ""}, {[&] { t.put("s"); }, ""}});
  obs_dir file(root / "s", &r);
  expect_polls(file, {{[] {}, ""}});
}

TEST_F(FsObserver, LinksReportTheirTargetAndCyclesAreNotDescended) {
  t.put("s/b.txt");
  fs::create_directory_symlink(root, root / "s" / "loop");
  fs::create_directory_symlink(root / "s", root / "s" / "self");
  obs_dir d(root, &r);
  EXPECT_EQ(r.take(), "+f s/b.txt");
  ASSERT_EQ(d.dirs.at("s")->dirs.count("loop"), 1u);
  EXPECT_TRUE(d.dirs.at("s")->dirs.at("loop")->files.empty());
  expect_polls(d, {
      {[] {}, ""},
      {[&] { fs::create_symlink(root / "s/b.txt", root / "link.txt"); }, "+f link.txt, ~d ."},
      {[&] { fs::create_symlink(root / "nowhere", root / "dangling"); }, "+f dangling, ~d ."},
      {[&] { touch("s/b.txt"); }, "~f s/b.txt, ~f s/b.txt"},
      // A dangling link is listed but never changes; its removal is reported.
      {[&] { fs::remove(root / "dangling"); }, "-f dangling, ~d ."},
      // A cycle that appears later is added once, then stays quiet.
      {[&] { fs::create_directory_symlink(root / "s", root / "s" / "again"); }, "+d s/again, ~d s"},
      {[] {}, ""},
  });
}

TEST_F(FsObserver, SingleFileKeepsContentIgnoresOwnSaveAndRetriesFailedCallbacks) {
  single_observed_file f(root / "cfg.json");
  f.check();  // default callback, no file: nothing
  int calls = 0;
  f.on_change = [&] {
    if (++calls == 1) throw std::runtime_error("owner failed");
  };
  // Checks, then tells how often the owner was called and the content.
  auto check = [&] { f.check(); return std::to_string(calls) + " " + f.content; };
  t.put("cfg.json", "one");
  EXPECT_THROW(f.check(), std::runtime_error);
  // The time was not taken, so the next check tries again, once.
  EXPECT_EQ(check(), "2 one");
  EXPECT_EQ(check(), "2 one");
  // Its own save is no change.
  f.content = "two";
  f.save();
  EXPECT_EQ(check(), "2 two");
  EXPECT_EQ(single_observed_file(root / "cfg.json").content, "two");
  // An outside edit: reloaded once, then quiet.
  t.put("cfg.json", "three");
  touch("cfg.json");
  EXPECT_EQ(check(), "3 three");
  EXPECT_EQ(check(), "3 three");
  // Deleted: the last content stays, nothing is called.
  fs::remove(root / "cfg.json");
  EXPECT_EQ(check(), "3 three");
  // Another program's file renamed over its own save before the stamp was taken: read.
  f.content = "mine";
  write_file_renamed_hook = [&] { fs::rename(t.put("other.json", "other"), root / "cfg.json"); };
  EXPECT_TRUE(f.save());
  EXPECT_EQ(check(), "4 other");
  f.on_change = nullptr;
  t.put("cfg.json", "four");
  EXPECT_THROW(f.check(), std::bad_function_call);
}

TEST_F(FsObserver, SingleFileFailedSaveIsReportedAndChangesNothing) {
  const fs::path folder = root / "p", file = folder / "cfg.json";
  t.put("p/cfg.json", "on disk");
  single_observed_file f(file);
  int calls = 0;
  f.on_change = [&] { ++calls; };
  f.content = "edited";
  {
    log_capture err(log_err);
    fs::remove_all(folder);
    f.save();  // the folder is gone: nothing to write into
    fs::create_directories(file);
    f.save();  // a folder stands where the file was
    EXPECT_EQ(err.lines, (std::vector<std::string>{"Unable to save file: " + file.string() + " (No such file or directory)",
                                                    "Unable to save file: " + file.string() + " (Is a directory)"}));
  }
  EXPECT_TRUE(fs::is_directory(file));
  // The failed saves took no write time, so the file written from outside is still seen.
  fs::remove(file);
  t.put("p/cfg.json", "outside");
  EXPECT_EQ(f.content, "edited");
  f.check();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(f.content, "outside");
}

TEST_F(FsObserver, LoopingLinksAreDanglingLinks) {
  t.put("s/a.txt");
  fs::create_symlink("x", root / "x");  // ln -s x x
  fs::create_symlink("y", root / "s" / "y");
  obs_dir d(root, &r);
  EXPECT_EQ(r.take(true), "+f s/a.txt, +f s/y, +f x");
  expect_polls(d, {
      {[] {}, ""},
      {[&] { touch("s/a.txt"); }, "~f s/a.txt"},
      {[&] { fs::create_symlink("z", root / "z"); }, "+f z, ~d ."},
      {[&] { fs::remove(root / "x"); }, "-f x, ~d ."},
  });
}

TEST_F(FsObserver, SavesWithinOneClockTickAreSeen) {
  t.put("a.txt", "abcd");
  obs_dir d(root, &r);
  single_observed_file single(root / "a.txt");
  r.take();
  EXPECT_EQ(d.files.at("a.txt")->last_write_time, fs::last_write_time(root / "a.txt"));
  EXPECT_EQ(single.last_write_time, fs::last_write_time(root / "a.txt"));
  // Each step writes and then puts the old time back, as a clock with a coarse tick shows
  // it, or as a program that restores it does.
  const struct {
    const char* name;
    std::function<void()> save;
    const char* reports;
    const char* content;
  } steps[] = {
      {"longer, in place", [&] { std::ofstream(root / "a.txt") << "abcde"; }, "~f a.txt", "abcde"},
      {"same size, renamed over", [&] { ASSERT_TRUE(write_file((root / "a.txt").string(), "vwxyz")); }, "~f a.txt",
       "vwxyz"},
      {"nothing", [] {}, "", "vwxyz"},
      {"same size, in place", [&] { std::ofstream(root / "a.txt") << "12345"; }, "~f a.txt", "12345"},
  };
  int calls = 0;
  single.on_change = [&] { ++calls; };
  for (const auto& s : steps) {
    const fs::file_time_type before = fs::last_write_time(root / "a.txt");
    s.save();
    // Setting a time is a change of its own (the change time moves): only a moved one.
    if (fs::last_write_time(root / "a.txt") != before) fs::last_write_time(root / "a.txt", before);
    d.poll();
    EXPECT_EQ(r.take(), s.reports) << s.name;
    const int calls_before = calls;
    single.check();
    EXPECT_EQ(calls - calls_before, *s.reports ? 1 : 0) << s.name;
    EXPECT_EQ(single.content, s.content) << s.name;
  }
}

namespace {
size_t folder_count(const obs_dir& d) {
  size_t n = 1;
  for (const auto& c : d.dirs) n += folder_count(*c.second);
  return n;
}
}  // namespace

TEST_F(FsObserver, FoldersLinkingToEachOtherAreListedOnce) {
  constexpr int n = 7;
  for (int i = 0; i < n; ++i) t.put("d" + std::to_string(i) + "/f.txt");
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      if (i != j) fs::create_directory_symlink(root / ("d" + std::to_string(j)), root / ("d" + std::to_string(i)) / ("to" + std::to_string(j)));
  obs_dir d(root, &r);
  // The root, the seven folders, and every link kept as a folder that is not listed.
  EXPECT_EQ(folder_count(d), 1u + n + n * (n - 1));
  EXPECT_EQ(r.take(true), "+f d0/f.txt, +f d1/f.txt, +f d2/f.txt, +f d3/f.txt, +f d4/f.txt, +f d5/f.txt, +f d6/f.txt");
  expect_polls(d, {{[] {}, ""}, {[&] { touch("d3/f.txt"); }, "~f d3/f.txt"}});
  // A folder reached both directly and through a link: when the way it was listed by goes,
  // the other takes over.
  t.put("a/g.txt");
  fs::create_directory_symlink(root / "a", root / "b");
  d.poll();
  fs::remove(root / "b");
  d.poll();
  d.poll();
  ASSERT_EQ(d.dirs.count("a"), 1u);
  EXPECT_EQ(d.dirs.at("a")->files.count("g.txt"), 1u);
}

TEST_F(FsObserver, UnreadableFolderIsKeptAndListedOnceReadable) {
  // Permissions bind root only after it gives up its rights, here in a child process.
  const std::string out = in_child([&] {
    if (::geteuid() == 0 && (::chown(root.c_str(), 65534, 65534) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
      return std::string("cannot drop rights");
    log_capture warn(log_warn);
    obs_dir d(root, &r);
    std::string polls;
    auto poll = [&] {
      d.poll();
      polls += "[" + r.take() + "]";
    };
    t.put("n/a.txt");
    t.put("n/locked/b.txt");
    fs::permissions(root / "n" / "locked", fs::perms::none);
    poll();
    poll();
    fs::permissions(root / "n" / "locked", fs::perms::owner_all);
    poll();
    for (const std::string& w : warn.lines) polls += " " + w;
    return polls;
  });
  EXPECT_EQ(out, "[+f n/a.txt, +d n, ~d .][][+f n/locked/b.txt, ~d n/locked] Unable to list folder: " +
                     (root / "n" / "locked").string() + " (Permission denied)");
}

TEST_F(FsObserver, EntriesPastTheBoundsAreNotObservedUntilThereIsRoom) {
  for (const char* f : {"flat/a", "flat/b", "flat/c", "deep/f/g"}) t.put(f);
  const auto saved = std::pair(obs_base::max_watched, obs_dir::max_depth);
  log_capture warn(log_warn);
  obs_dir::max_depth = 0;
  EXPECT_TRUE(obs_dir(root / "deep", &r).dirs.empty());
  obs_dir::max_depth = saved.second;
  obs_base::max_watched = obs_base::watched() + 3;  // the folder and two files
  obs_dir d(root / "flat", &r);
  EXPECT_EQ(d.files.size(), 2u);
  // Removing an observed file makes room: a later poll takes the third one in.
  fs::remove(d.files.begin()->second->path);
  for (int i = 0; i < 3; ++i) d.poll();
  EXPECT_EQ(d.files.size(), 2u);
  obs_base::max_watched = saved.first;
  std::string w;
  for (const std::string& l : warn.lines) w += l.substr(0, 10) + ";";
  EXPECT_EQ(w, "Folders mo;Observing ;");
}
