#include "foundation/runtime_dir.h"

#include <unistd.h>

#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "foundation/bt_exception.h"
#include "foundation/log_capture.h"

namespace fs = std::filesystem;
using vesk::runtime_dir;

namespace {

class RuntimeDir : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir = fs::temp_directory_path() / ("vesk_rt_" + std::to_string(::getpid()) + "_" + std::to_string(rd()));
    fs::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path make(const std::string& name, const char* config_def = nullptr) {
    fs::create_directories(dir / name);
    if (config_def) std::ofstream(dir / name / "config_def.json") << config_def;
    return dir / name;
  }
  fs::path dir;
};

}  // namespace

TEST_F(RuntimeDir, NameWithoutPrefix) {
  EXPECT_EQ(runtime_dir(make("rt_linux")).name, "linux");
  EXPECT_EQ(runtime_dir(make("linux")).name, "linux");
  EXPECT_EQ(runtime_dir(make("rt_rt_x")).name, "rt_x");
  EXPECT_EQ(runtime_dir(make("x_rt_")).name, "x_rt_");
  EXPECT_EQ(runtime_dir(make("rt_")).name, "");
  EXPECT_EQ(runtime_dir(make("rt_Pi-4_b")).name, "Pi-4_b");
  EXPECT_EQ(runtime_dir(dir / "rt_linux" / "").name, "linux");
  EXPECT_EQ(runtime_dir(make("rt_linux")).path, dir / "rt_linux");
  try {
    runtime_dir r(make("rt_a.b"));
    FAIL() << "accepted a bad name";
  } catch (const vesk::util::bt_exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "Runtimes can only have names characters a-z, A-Z, '-' or '_'. Error occured for runtime a.b");
  }
  EXPECT_THROW(runtime_dir(make("rt_a b")), vesk::util::bt_exception);
  EXPECT_THROW(runtime_dir(make("rt_\xc3\xa4")), vesk::util::bt_exception);
}

TEST_F(RuntimeDir, ConfigDefinition) {
  log_capture errors(log_err);
  // Missing: an empty array, quietly.
  runtime_dir none(make("rt_none"));
  EXPECT_EQ(none.config_def.dump(), "[]");
  EXPECT_TRUE(errors.lines.empty());

  runtime_dir good(make("rt_good", R"([{"key": "ip", "default": "10.0.0.1"}, 3])"));
  EXPECT_EQ(good.config_def.dump(), R"([{"key":"ip","default":"10.0.0.1"},3.000000])");
  EXPECT_TRUE(errors.lines.empty());

  // Anything but an array: the message, then an empty array; the folder stays usable.
  const std::string expected = "Error parsing " + (dir / "rt_obj" / "config_def.json").string() + ". It must be an array.";
  runtime_dir obj(make("rt_obj", R"({"key": "ip"})"));
  EXPECT_EQ(obj.config_def.dump(), "[]");
  ASSERT_EQ(errors.lines.size(), 1u);
  EXPECT_EQ(errors.lines[0], expected);

  for (const char* text : {"", "nonsense", "-", "[-]"}) {
    errors.lines.clear();
    fs::remove_all(dir / "rt_bad");
    runtime_dir bad(make("rt_bad", text));
    EXPECT_EQ(bad.config_def.dump(), "[]") << text;
    ASSERT_FALSE(errors.lines.empty()) << text;
    EXPECT_EQ(errors.lines.back(), "Error parsing " + (dir / "rt_bad" / "config_def.json").string() + ". It must be an array.");
  }
}
