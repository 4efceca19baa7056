#include "foundation/fs_observer.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/helpers.h"

namespace fs = std::filesystem;
using strings = std::vector<std::string>;

namespace {

/// Writes down every report as "kind path".
class recorder : public fs_observer {
 public:
  explicit recorder(bool existing = true) { report_existing = existing; }
  void on_file_added(const fs::path& p) override { log.push_back("file_added " + p.string()); }
  void on_file_changed(const fs::path& p) override { log.push_back("file_changed " + p.string()); }
  void on_file_removed(const fs::path& p) override { log.push_back("file_removed " + p.string()); }
  void on_dir_added(const fs::path& p) override { log.push_back("dir_added " + p.string()); }
  void on_dir_changed(const fs::path& p) override { log.push_back("dir_changed " + p.string()); }
  void on_dir_removed(const fs::path& p) override { log.push_back("dir_removed " + p.string()); }
  /// The reports so far, which are then forgotten.
  strings take() { strings r; r.swap(log); return r; }
  strings log;
};

class FsObserver : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    root = fs::temp_directory_path() / ("vesk_obs_" + std::to_string(::getpid()) + "_" + std::to_string(rd()));
    fs::create_directories(root);
    root = fs::canonical(root);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  void put(const fs::path& rel, const std::string& text = "x") {
    fs::create_directories((root / rel).parent_path());
    std::ofstream(root / rel) << text;
  }
  /// Moves a file's write time on by one second: a change without waiting.
  void touch(const fs::path& rel) {
    fs::last_write_time(root / rel, fs::last_write_time(root / rel) + std::chrono::seconds(1));
  }
  std::string p(const fs::path& rel) const { return rel.empty() ? root.string() : (root / rel).string(); }
  fs::path root;
};

strings sorted(strings v) {
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

TEST_F(FsObserver, ConstructionReportsExistingFilesOnlyWhenAsked) {
  put("a.txt");
  put("s/b.txt");
  recorder yes, no(false);
  obs_dir d1(root, &yes), d2(root, &no);
  EXPECT_EQ(sorted(yes.take()), (strings{"file_added " + p("a.txt"), "file_added " + p("s/b.txt")}));
  EXPECT_TRUE(no.take().empty());
  EXPECT_EQ(d1.files.count("a.txt"), 1u);
  EXPECT_EQ(d1.dirs.count("s"), 1u);
  // Given in a roundabout way, the path is canonical and lexically normal.
  obs_dir d3(root / "s" / ".." / "s" / ".", &no);
  EXPECT_EQ(d3.path, root / "s");
  // Nothing changed: nothing reported, however often polled.
  d1.poll();
  d1.poll();
  EXPECT_TRUE(yes.take().empty());
}

TEST_F(FsObserver, AddedChangedRemovedInOrder) {
  put("a.txt");
  put("s/b.txt");
  recorder r;
  obs_dir d(root, &r);
  r.take();

  put("new.txt");
  d.poll();
  EXPECT_EQ(r.take(), (strings{"file_added " + p("new.txt"), "dir_changed " + p("")}));
  d.poll();
  EXPECT_TRUE(r.take().empty());

  // A changed file is no change of its folder; an older time counts as well.
  touch("a.txt");
  d.poll();
  EXPECT_EQ(r.take(), (strings{"file_changed " + p("a.txt")}));
  fs::last_write_time(root / "s/b.txt", fs::last_write_time(root / "s/b.txt") - std::chrono::hours(5));
  d.poll();
  EXPECT_EQ(r.take(), (strings{"file_changed " + p("s/b.txt")}));

  // A change below is reported by the subfolder only.
  put("s/c.txt");
  fs::remove(root / "new.txt");
  d.poll();
  EXPECT_EQ(r.take(), (strings{"file_added " + p("s/c.txt"), "dir_changed " + p("s"),
                               "file_removed " + p("new.txt"), "dir_changed " + p("")}));
}

TEST_F(FsObserver, VanishedSubtreeReportedDepthFirstInNameOrder) {
  put("d/b.txt");
  put("d/a.txt");
  put("d/s/z.txt");
  put("d/s/y.txt");
  put("d/r/q.txt");
  put("keep.txt");
  recorder r;
  obs_dir d(root, &r);
  r.take();
  fs::remove_all(root / "d");
  d.poll();
  EXPECT_EQ(r.take(), (strings{"file_removed " + p("d/a.txt"), "file_removed " + p("d/b.txt"),
                               "file_removed " + p("d/r/q.txt"), "dir_removed " + p("d/r"),
                               "file_removed " + p("d/s/y.txt"), "file_removed " + p("d/s/z.txt"),
                               "dir_removed " + p("d/s"), "dir_removed " + p("d"),
                               "dir_changed " + p("")}));
  EXPECT_TRUE(d.dirs.empty());
  d.poll();
  EXPECT_TRUE(r.take().empty());
}

TEST_F(FsObserver, NewSubfolderWithFiles) {
  recorder r;
  obs_dir d(root, &r);
  put("n/one.txt");
  put("n/two.txt");
  d.poll();
  strings got = r.take();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(sorted({got[0], got[1]}), (strings{"file_added " + p("n/one.txt"), "file_added " + p("n/two.txt")}));
  EXPECT_EQ(got[2], "dir_added " + p("n"));
  EXPECT_EQ(got[3], "dir_changed " + p(""));

  // Without report_existing the files are only known, and reported when they change.
  recorder quiet(false);
  fs::remove_all(root / "n");
  obs_dir q(root, &quiet);
  put("m/one.txt");
  q.poll();
  EXPECT_EQ(quiet.take(), (strings{"dir_added " + p("m"), "dir_changed " + p("")}));
  touch("m/one.txt");
  fs::remove(root / "m/one.txt");
  put("m/two.txt");
  q.poll();
  EXPECT_EQ(quiet.take(), (strings{"file_added " + p("m/two.txt"), "file_removed " + p("m/one.txt"),
                                   "dir_changed " + p("m")}));
}

TEST_F(FsObserver, FileAndFolderSwapPlaces) {
  put("x");
  put("y/inner.txt");
  recorder r;
  obs_dir d(root, &r);
  r.take();
  fs::remove(root / "x");
  fs::create_directory(root / "x");
  d.poll();
  EXPECT_EQ(r.take(), (strings{"dir_added " + p("x"), "file_removed " + p("x"), "dir_changed " + p("")}));
  fs::remove_all(root / "y");
  put("y");
  d.poll();
  EXPECT_EQ(r.take(), (strings{"file_added " + p("y"), "file_removed " + p("y/inner.txt"),
                               "dir_removed " + p("y"), "dir_changed " + p("")}));
}

TEST_F(FsObserver, MissingOrNonFolderRootReportsNothing) {
  put("sub/a.txt");
  recorder r;
  obs_dir d(root / "sub", &r);
  r.take();
  fs::remove_all(root / "sub");
  d.poll();
  EXPECT_TRUE(r.take().empty());
  put("sub");  // now a file where the folder was
  d.poll();
  EXPECT_TRUE(r.take().empty());
  obs_dir f(root / "sub", &r);
  f.poll();
  EXPECT_TRUE(r.take().empty());
  EXPECT_TRUE(f.files.empty());
  // Missing at construction: kept as given, empty.
  obs_dir m(root / "none" / "..", &r);
  EXPECT_EQ(m.path, root / "none" / "..");
  EXPECT_TRUE(r.take().empty());
}

TEST_F(FsObserver, LinksReportTheirTargetAfterAdding) {
  put("target/t.txt");
  fs::create_directory(root / "watched");
  recorder r;
  obs_dir d(root / "watched", &r);
  fs::create_symlink(root / "target/t.txt", root / "watched/link.txt");
  fs::create_symlink(root / "nowhere", root / "watched/dangling");
  d.poll();
  EXPECT_EQ(sorted(r.take()), sorted({"file_added " + p("watched/link.txt"), "file_added " + p("watched/dangling"),
                                      "dir_changed " + p("watched")}));
  touch("target/t.txt");
  d.poll();
  EXPECT_EQ(r.take(), (strings{"file_changed " + p("target/t.txt")}));
  // A dangling link is listed but never changes; its removal is reported.
  fs::remove(root / "watched/dangling");
  d.poll();
  EXPECT_EQ(r.take(), (strings{"file_removed " + p("watched/dangling"), "dir_changed " + p("watched")}));
}

TEST_F(FsObserver, LinkCyclesAreNotDescended) {
  put("a.txt");
  put("s/b.txt");
  fs::create_directory_symlink(root, root / "s" / "loop");
  fs::create_directory_symlink(root / "s", root / "s" / "self");
  recorder r;
  obs_dir d(root, &r);
  EXPECT_EQ(sorted(r.take()), (strings{"file_added " + p("a.txt"), "file_added " + p("s/b.txt")}));
  ASSERT_EQ(d.dirs.at("s")->dirs.count("loop"), 1u);
  EXPECT_TRUE(d.dirs.at("s")->dirs.at("loop")->files.empty());
  d.poll();
  EXPECT_TRUE(r.take().empty());
  // A cycle that appears later is added once and then stays quiet.
  fs::create_directory_symlink(root / "s", root / "s" / "again");
  d.poll();
  EXPECT_EQ(r.take(), (strings{"dir_added " + p("s/again"), "dir_changed " + p("s")}));
  d.poll();
  EXPECT_TRUE(r.take().empty());
  // Polled without descending: no endless recursion, no reports.
  touch("s/b.txt");
  d.poll();
  EXPECT_EQ(r.take(), (strings{"file_changed " + p("s/b.txt")}));
}

TEST_F(FsObserver, SingleFileKeepsContentAndIgnoresOwnSave) {
  put("cfg.json", "one");
  single_observed_file f(root / "cfg.json");
  EXPECT_EQ(f.content, "one");
  int calls = 0;
  f.on_change = [&] { ++calls; };
  f.check();
  EXPECT_EQ(calls, 0);

  f.content = "two";
  f.save();
  EXPECT_EQ(read_file(p("cfg.json")), "two");
  f.check();
  EXPECT_EQ(calls, 0);

  // An outside edit: reloaded once, then quiet.
  put("cfg.json", "three");
  touch("cfg.json");
  f.check();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(f.content, "three");
  f.check();
  EXPECT_EQ(calls, 1);

  // Deleted: the last content stays, nothing is called.
  fs::remove(root / "cfg.json");
  f.check();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(f.content, "three");
}

TEST_F(FsObserver, SingleFileAppearingLaterAndFailingCallbacks) {
  single_observed_file f(root / "late.json");
  EXPECT_EQ(f.content, "");
  f.check();  // default callback, no file: nothing
  put("late.json", "here");
  int calls = 0;
  f.on_change = [&] {
    ++calls;
    if (calls == 1) throw std::runtime_error("owner failed");
  };
  EXPECT_THROW(f.check(), std::runtime_error);
  EXPECT_EQ(f.content, "here");
  // The time was not taken, so the next check tries again.
  f.check();
  EXPECT_EQ(calls, 2);
  f.check();
  EXPECT_EQ(calls, 2);

  f.on_change = nullptr;
  touch("late.json");
  EXPECT_THROW(f.check(), std::bad_function_call);
}
