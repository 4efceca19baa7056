#include "foundation/startup_paths.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "foundation/bt_exception.h"

namespace fs = std::filesystem;

namespace {

/// A fresh temporary folder that also becomes the working folder and $HOME's parent for
/// the test; everything is put back afterwards.
class StartupPaths : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    root = fs::temp_directory_path() / ("vesk_paths_" + std::to_string(::getpid()) + "_" + std::to_string(rd()));
    fs::create_directories(root / "work");
    saved_cwd = fs::current_path();
    fs::current_path(root / "work");
    const char* h = std::getenv("HOME");
    had_home = h != nullptr;
    if (had_home) saved_home = h;
    ::setenv("HOME", (root / "home").c_str(), 1);
  }
  void TearDown() override {
    fs::current_path(saved_cwd);
    if (had_home) ::setenv("HOME", saved_home.c_str(), 1); else ::unsetenv("HOME");
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root, saved_cwd;
  std::string saved_home;
  bool had_home = false;
};

}  // namespace

TEST(FirstExistingPath, FirstThatExistsElseFirst) {
  std::random_device rd;
  fs::path t = fs::temp_directory_path() / ("vesk_first_" + std::to_string(rd()));
  fs::create_directories(t / "b");
  std::ofstream(t / "c") << "x";
  fs::create_symlink(t / "nowhere", t / "dangling");
  fs::create_symlink(t / "c", t / "link");
  EXPECT_EQ(first_existing_path({t / "a", t / "b", t / "c"}), t / "b");
  EXPECT_EQ(first_existing_path({t / "a", t / "c", t / "b"}), t / "c");
  EXPECT_EQ(first_existing_path({t / "dangling", t / "link", t / "b"}), t / "link");
  EXPECT_EQ(first_existing_path({t / "a", t / "dangling", t / "x"}), t / "a");
  fs::remove_all(t);
}

TEST(ReadLinkTarget, LongTargetIsReadWhole) {
  std::random_device rd;
  fs::path t = fs::temp_directory_path() / ("vesk_link_" + std::to_string(rd()));
  fs::create_directories(t);
  // Longer than any small fixed buffer, and not a power of two.
  std::string target = "/";
  while (target.size() < 1500) target += "a_rather_long_folder_name/";
  target += "prog";
  fs::create_symlink(target, t / "l");
  EXPECT_EQ(read_link_target(t / "l").string(), target);
  EXPECT_EQ(read_link_target(t / "l").parent_path().filename(), "a_rather_long_folder_name");
  EXPECT_THROW(read_link_target(t / "missing"), vesk::util::bt_exception);
  fs::remove_all(t);
}

TEST_F(StartupPaths, FoldersAndConfigurationCreated) {
  fs::create_directories(root / "work" / "shared");
  setup_paths();
  EXPECT_EQ(exe_dir, fs::canonical("/proc/self/exe").parent_path());
  // The working folder's candidate wins and stays relative as written.
  EXPECT_EQ(shared_dir, fs::path("./shared"));
  if (!fs::exists(exe_dir / "runtimes") && !fs::exists("/opt/vesk/runtimes")) {
    EXPECT_EQ(runtimes_dir, fs::path("./runtimes"));
  }
  EXPECT_EQ(home_dir, root / "home");
  EXPECT_EQ(config_dir, root / "home" / ".config" / "vesk");
  EXPECT_TRUE(fs::is_directory(config_dir));

  // A second start keeps what is there.
  std::ofstream(config_dir / "vesk.cfg") << "{}";
  fs::create_directories(root / "work" / "runtimes");
  setup_paths();
  EXPECT_EQ(runtimes_dir, fs::path("./runtimes"));
  EXPECT_TRUE(fs::exists(config_dir / "vesk.cfg"));
}

/// Runs in a forked child: prints on stdout, which the death test does not see otherwise.
void setup_paths_with_stdout_on_stderr() {
  ::dup2(2, 1);
  setup_paths();
  std::exit(0);
}

TEST_F(StartupPaths, MissingHomeEndsProgram) {
  ::unsetenv("HOME");
  EXPECT_EXIT(setup_paths_with_stdout_on_stderr(), testing::ExitedWithCode(1),
              "Could not determine home-direcotry .no \"HOME\"-variable in environment. "
              "This is needed to run vesk.");
}

TEST_F(StartupPaths, UncreatableConfigEndsProgram) {
  // A file where the home folder should be: nothing can be created below it.
  std::ofstream(root / "home") << "not a folder";
  EXPECT_EXIT(setup_paths_with_stdout_on_stderr(), testing::ExitedWithCode(1),
              "Error creating config-directory in \"" + (root / "home" / ".config" / "vesk").string() + "\".");
}
