#include "foundation/project_config.h"

#include <stdexcept>

#include <gtest/gtest.h>

#include "foundation/bt_exception.h"
#include "foundation/log_capture.h"
#include "foundation/test_util.h"

namespace fs = std::filesystem;
using vesk::json;
using vesk::project_config_file;

namespace {

class ProjectConfig : public testing::Test {
 protected:
  /// Writes the file and moves its write time past the one before, so the next check sees
  /// an outside edit even within the clock's granularity.
  void edit(const std::string& file, const std::string& text) {
    std::error_code ec;
    fs::file_time_type before = fs::last_write_time(t.path / file, ec);
    t.put(file, text);
    if (!ec) fs::last_write_time(t.path / file, before + std::chrono::seconds(1));
  }
  temp_dir t;
};

const char* const start_text = R"({"model": "m1", "runtime": "rpi", "unknown": 7,
  "runtime_configs": {"rpi": {"ip": "10.0.0.2"}, "linux": {"cores": 2}}})";

}  // namespace

TEST_F(ProjectConfig, LoadsKeysAndWritesThemBack) {
  edit("start.vcfg", start_text);
  project_config_file cfg(t.path / "start.vcfg");
  EXPECT_EQ(cfg.name, "start");
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
  project_config_file again(t.path / "start.vcfg");
  EXPECT_EQ(again.to_json().dump(),
            R"({"model":"m2","runtime":"rpi","runtime_configs":{"rpi":{"ip":"x"},"linux":{"cores":2.000000}}})");
}

TEST_F(ProjectConfig, ReloadRules) {
  project_config_file cfg(t.path / "later.vcfg");
  int updates = 0;
  cfg.on_update = [&] { ++updates; };
  cfg.file.check();  // still missing: no update
  EXPECT_EQ(updates, 0);
  EXPECT_EQ(cfg.to_json().dump(), R"({"model":"","runtime":"","runtime_configs":{}})");
  const char* const kept = R"({"model":"m1","runtime":"linux","runtime_configs":{"rpi":{"ip":"b"},"linux":{"cores":2.000000}}})";
  const std::pair<const char*, const char*> steps[] = {
      // The older single configuration goes under the runtime read before, even "".
      {R"({"runtime_config": {"a": true}})", R"({"model":"","runtime":"","runtime_configs":{"":{"a":true}}})"},
      // ... and replaces the selected runtime's entry only.
      {R"({"model": "m1", "runtime": "rpi", "runtime_configs": {"rpi": {"ip": "a"}, "linux": {"cores": 2}},
           "runtime_config": {"ip": "b"}})",
       R"({"model":"m1","runtime":"rpi","runtime_configs":{"rpi":{"ip":"b"},"linux":{"cores":2.000000}}})"},
      // Absent keys keep their values; not an object, empty or a syntax error (logged by
      // the parser, then naming the file): nothing changes.
      {R"({"runtime": "linux"})", kept},
      {"[1, 2]", kept},
      {"", kept},
      {"nonsense", kept},
      // A number is taken as its text.
      {R"({"model": 1})", R"({"model":"1.000000","runtime":"linux","runtime_configs":{"rpi":{"ip":"b"},"linux":{"cores":2.000000}}})"},
      // The model hosts: addresses only (a name is left out with a warning), written back.
      {R"({"model_hosts": ["192.168.1.20", "lab-pc"]})",
       R"({"model":"1.000000","runtime":"linux","runtime_configs":{"rpi":{"ip":"b"},"linux":{"cores":2.000000}},)"
       R"("model_hosts":["192.168.1.20"]})"},
  };
  log_capture errors(log_err);
  for (const auto& s : steps) {
    int before = updates;
    edit("later.vcfg", s.first);
    cfg.file.check();
    EXPECT_EQ(updates, before + 1) << s.first;  // on_update after every reload
    EXPECT_EQ(cfg.to_json().dump(), s.second) << s.first;
  }
  const std::string file = (t.path / "later.vcfg").string();
  ASSERT_EQ(errors.lines.size(), 3u);
  EXPECT_EQ(errors.lines[0], "Error reading " + file + ": Value [1,2] is an array, expected an object");
  EXPECT_EQ(errors.lines[2], file + ":1:1: syntax error in JSON text");
  // A wrong type is left out and named with the file, once; the keys beside it apply and
  // the owner is told. Opening the file throws that text.
  errors.lines.clear();
  edit("later.vcfg", R"({"model": "m9", "runtime": true, "model_hosts": ["10.0.0.1", 7]})");
  cfg.file.check();
  cfg.file.check();
  const std::string wrong = "Error reading " + file +
                            ": Value true of key \"runtime\" is a bool, expected a text or null; Value 7 of key "
                            "\"model_hosts\" is a number, expected a text";
  EXPECT_EQ(errors.lines, std::vector<std::string>{wrong});
  EXPECT_EQ(cfg.model, "m9");
  EXPECT_EQ(cfg.runtime, "linux");
  EXPECT_EQ(cfg.model_hosts, std::vector<std::string>{"192.168.1.20"});
  expect_throw_what<vesk::util::bt_exception>([&] { project_config_file again(t.path / "later.vcfg"); }, wrong);
  EXPECT_EQ(updates, 9);
}

TEST_F(ProjectConfig, NameMustBeAnIdentifier) {
  const fs::path bad = t.put("my-project.vcfg", "{}");
  expect_throw_what<std::runtime_error>([&] { project_config_file cfg(bad); },
                                        "Error opening '" + bad.string() +
                                            "'. A project configurations must have a c-compatible name "
                                            "('[a-zA-Z][a-zA-Z0-9_]*').");
  EXPECT_THROW(project_config_file(t.path / "1abc.vcfg"), std::runtime_error);
  EXPECT_THROW(project_config_file(t.path / "a.b.vcfg"), std::runtime_error);
  EXPECT_EQ(project_config_file(t.path / "_p.vcfg").name, "_p");
}
