#include "foundation/project_config.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>

#include <gtest/gtest.h>

#include "foundation/bt_exception.h"
#include "foundation/log_capture.h"

namespace fs = std::filesystem;
using vesk::json;
using vesk::project_config_file;

namespace {

class ProjectConfig : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir = fs::temp_directory_path() / ("vesk_cfg_" + std::to_string(::getpid()) + "_" + std::to_string(rd()));
    fs::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  /// Writes the file and moves its write time on, so the next check sees an outside edit.
  void edit(const std::string& file, const std::string& text) {
    fs::path p = dir / file;
    bool existed = fs::exists(p);
    fs::file_time_type before = existed ? fs::last_write_time(p) : fs::file_time_type{};
    std::ofstream(p) << text;
    if (existed) fs::last_write_time(p, before + std::chrono::seconds(1));
  }
  fs::path dir;
};

const char* const start_text = R"({"model": "m1", "runtime": "rpi", "unknown": 7,
  "runtime_configs": {"rpi": {"ip": "10.0.0.2"}, "linux": {"cores": 2}}})";

}  // namespace

TEST_F(ProjectConfig, LoadsKeysAndWritesThemBack) {
  edit("start.vcfg", start_text);
  project_config_file cfg(dir / "start.vcfg");
  EXPECT_EQ(cfg.name, "start");
  EXPECT_EQ(cfg.model, "m1");
  EXPECT_EQ(cfg.runtime, "rpi");
  EXPECT_EQ(cfg.runtime_configs.dump(), R"({"rpi":{"ip":"10.0.0.2"},"linux":{"cores":2.000000}})");
  EXPECT_EQ(cfg.to_json().dump(),
            R"({"model":"m1","runtime":"rpi","runtime_configs":{"rpi":{"ip":"10.0.0.2"},"linux":{"cores":2.000000}}})");

  // The back end's write path: read a new configuration, save it, and the poll stays quiet.
  int updates = 0;
  cfg.on_update = [&] { ++updates; };
  cfg.read(json::parse(R"({"model": "m2", "runtime_config": {"ip": "x"}})"));
  cfg.file.content = cfg.to_json().dump("  ");
  cfg.file.save();
  cfg.file.check();
  EXPECT_EQ(updates, 0);
  project_config_file again(dir / "start.vcfg");
  EXPECT_EQ(again.to_json().dump(), R"({"model":"m2","runtime":"rpi","runtime_configs":{"rpi":{"ip":"x"},"linux":{"cores":2.000000}}})");
}

TEST_F(ProjectConfig, ReloadRules) {
  edit("start.vcfg", start_text);
  project_config_file cfg(dir / "start.vcfg");
  int updates = 0;
  cfg.on_update = [&] { ++updates; };

  // The older single configuration replaces the selected runtime's entry only.
  edit("start.vcfg", R"({"model": "m1", "runtime": "rpi", "runtime_configs": {"rpi": {"ip": "a"}, "linux": {"cores": 2}},
                         "runtime_config": {"ip": "b"}})");
  cfg.file.check();
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(cfg.runtime_configs.dump(), R"({"rpi":{"ip":"b"},"linux":{"cores":2.000000}})");

  // Absent keys keep their values; on_update is called all the same.
  edit("start.vcfg", R"({"runtime": "linux"})");
  cfg.file.check();
  EXPECT_EQ(updates, 2);
  EXPECT_EQ(cfg.model, "m1");
  EXPECT_EQ(cfg.runtime, "linux");
  EXPECT_EQ(cfg.runtime_configs.dump(), R"({"rpi":{"ip":"b"},"linux":{"cores":2.000000}})");

  // Not an object, or empty: nothing changes.
  edit("start.vcfg", "[1, 2]");
  cfg.file.check();
  edit("start.vcfg", "");
  cfg.file.check();
  EXPECT_EQ(updates, 4);
  EXPECT_EQ(cfg.model, "m1");

  // A number is taken as its text.
  edit("start.vcfg", R"({"model": 1})");
  cfg.file.check();
  EXPECT_EQ(cfg.model, "1.000000");
}

TEST_F(ProjectConfig, OlderKeyWithoutRuntimeUsesTheOneReadBefore) {
  edit("p.vcfg", R"({"runtime_config": {"a": true}})");
  project_config_file cfg(dir / "p.vcfg");
  EXPECT_EQ(cfg.runtime, "");
  EXPECT_EQ(cfg.runtime_configs.dump(), R"({"":{"a":true}})");
}

TEST_F(ProjectConfig, MissingFileAppearsLater) {
  project_config_file cfg(dir / "later.vcfg");
  EXPECT_EQ(cfg.model, "");
  EXPECT_EQ(cfg.runtime, "");
  EXPECT_TRUE(cfg.runtime_configs.is_object());
  EXPECT_EQ(cfg.to_json().dump(), R"({"model":"","runtime":"","runtime_configs":{}})");
  int updates = 0;
  cfg.on_update = [&] { ++updates; };
  cfg.file.check();
  EXPECT_EQ(updates, 0);
  edit("later.vcfg", R"({"model": "m"})");
  cfg.file.check();
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(cfg.model, "m");
}

TEST_F(ProjectConfig, NameMustBeAnIdentifier) {
  edit("my-project.vcfg", "{}");
  try {
    project_config_file cfg(dir / "my-project.vcfg");
    FAIL() << "accepted a bad name";
  } catch (const vesk::util::bt_exception&) {
    FAIL() << "expected a plain runtime error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Error opening '" + (dir / "my-project.vcfg").string() +
                                         "'. A project configurations must have a c-compatible name "
                                         "('[a-zA-Z][a-zA-Z0-9_]*').");
  }
  EXPECT_THROW(project_config_file(dir / "1abc.vcfg"), std::runtime_error);
  EXPECT_THROW(project_config_file(dir / "a.b.vcfg"), std::runtime_error);
  project_config_file ok(dir / "_p.vcfg");
  EXPECT_EQ(ok.name, "_p");
}

TEST_F(ProjectConfig, BadContent) {
  edit("start.vcfg", start_text);
  project_config_file cfg(dir / "start.vcfg");
  int updates = 0;
  cfg.on_update = [&] { ++updates; };
  {
    // A syntax error is logged by the parser and changes nothing.
    log_capture errors(log_err);
    edit("start.vcfg", "nonsense");
    cfg.file.check();
    EXPECT_FALSE(errors.lines.empty());
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(cfg.model, "m1");
  }
  // A wrong type stops the reload before on_update; the next check tries again.
  edit("start.vcfg", R"({"model": "m9", "runtime": true})");
  try {
    cfg.file.check();
    FAIL() << "no type error";
  } catch (const vesk::util::bt_exception& e) {
    EXPECT_EQ(std::string(e.what()), "vesk::json: Types do not match");
  }
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(cfg.model, "m9");
  EXPECT_THROW(cfg.file.check(), vesk::util::bt_exception);
  EXPECT_THROW(project_config_file(dir / "start.vcfg"), vesk::util::bt_exception);
}
