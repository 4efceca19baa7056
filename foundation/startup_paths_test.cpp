#include "foundation/startup_paths.h"

#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/test_util.h"

namespace fs = std::filesystem;

namespace {

/// A temporary folder whose "work" is the working folder and "home" is $HOME for the test.
class StartupPaths : public testing::Test {
 protected:
  static fs::path made(const fs::path& p) {
    fs::create_directories(p);
    return p;
  }
  temp_dir t;
  fs::path root = t.path;
  scoped_cwd cwd{made(root / "work")};
  scoped_env home{"HOME", (root / "home").c_str()};
};

}  // namespace

TEST(FirstExistingPath, FirstThatExistsElseFirst) {
  temp_dir d;
  const fs::path t = d.path;
  fs::create_directories(t / "b");
  d.put("c");
  fs::create_symlink(t / "nowhere", t / "dangling");
  fs::create_symlink(t / "c", t / "link");
  EXPECT_EQ(first_existing_path({t / "a", t / "b", t / "c"}), t / "b");
  EXPECT_EQ(first_existing_path({t / "a", t / "c", t / "b"}), t / "c");
  EXPECT_EQ(first_existing_path({t / "dangling", t / "link", t / "b"}), t / "link");
  EXPECT_EQ(first_existing_path({t / "a", t / "dangling", t / "x"}), t / "a");
}

TEST(ReadLinkTarget, LongTargetIsReadWhole) {
  temp_dir t;
  // Longer than any small fixed buffer, and not a power of two.
  std::string target = "/";
  while (target.size() < 1500) target += "a_rather_long_folder_name/";
  target += "prog";
  fs::create_symlink(target, t.path / "l");
  EXPECT_EQ(read_link_target(t.path / "l").string(), target);
  EXPECT_THROW(read_link_target(t.path / "missing"), vesk::util::bt_exception);
}

TEST_F(StartupPaths, FoldersFixedAndConfigurationCreatedOnDemand) {
  fs::create_directories(root / "work" / "shared");
  setup_paths();
  EXPECT_EQ(exe_dir, fs::canonical("/proc/self/exe").parent_path());
  // The working folder's candidate wins and stays relative as written.
  EXPECT_EQ(shared_dir, fs::path("./shared"));
  EXPECT_EQ(home_dir, root / "home");
  EXPECT_EQ(config_dir, root / "home" / ".config" / "vesk");
  EXPECT_FALSE(fs::exists(root / "home"));  // fixing the folders creates nothing
  create_config_dir();
  EXPECT_TRUE(fs::is_directory(config_dir));
  // A second start keeps what is there.
  t.put("home/.config/vesk/vesk.cfg", "{}");
  fs::create_directories(root / "work" / "runtimes");
  setup_paths();
  create_config_dir();
  EXPECT_EQ(runtimes_dir, fs::path("./runtimes"));
  EXPECT_EQ(read_file(config_dir / "vesk.cfg"), "{}");
}

/// Runs in a forked child: prints on stdout, which the death test does not see otherwise.
void setup_paths_with_stdout_on_stderr() {
  ::dup2(2, 1);
  setup_paths();
  std::exit(0);
}

TEST_F(StartupPaths, UncreatableConfigOrMissingHome) {
  // A file where the home folder should be: nothing can be created below it.
  t.put("home", "not a folder");
  setup_paths();
  expect_throw_what<vesk::util::bt_exception>([] { create_config_dir(); },
                                               "Error creating config-directory in \"" + config_dir.string() + "\".");
  ::unsetenv("HOME");
  EXPECT_EXIT(setup_paths_with_stdout_on_stderr(), testing::ExitedWithCode(1),
              "Could not determine home-direcotry .no \"HOME\"-variable in environment. "
              "This is needed to run vesk.");
}
