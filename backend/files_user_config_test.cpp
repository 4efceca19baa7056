// The user configuration and the model perspectives in a configuration folder of their own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "backend/user_config.h"
#include "foundation/helpers.h"
#include "foundation/log_capture.h"
#include "foundation/startup_paths.h"
#include "foundation/test_util.h"

namespace fs = std::filesystem;

namespace {

// Points the configuration folder at a fresh temporary folder for one test.
struct config_folder {
  temp_dir dir;
  fs::path saved = config_dir;
  config_folder() { config_dir = dir.path; }
  ~config_folder() { config_dir = saved; }
  fs::path cfg() const { return dir.path / "vesk.cfg"; }
  fs::path persp() const { return dir.path / "model_perspectives.json"; }
};

struct expected_config {
  int lines;
  std::string hg, git, last;
  double history;
};

void expect_config(const vesk::vesk_config& c, const expected_config& e, const std::string& label) {
  EXPECT_EQ(e.lines, c.num_console_lines) << label;
  EXPECT_EQ(e.hg, c.hg_tool) << label;
  EXPECT_EQ(e.git, c.git_tool) << label;
  EXPECT_EQ(e.last, c.last_open_prj) << label;
  EXPECT_EQ(e.history, c.history_size_sec) << label;
}

const expected_config defaults{1000, "thg", "gitk", "", 300.0};

TEST(FilesUserConfig, LoadsWhatTheFileSetsAndKeepsDefaultsForTheRest) {
  struct row {
    const char* label;
    const char* text;  // null: no file at all
    expected_config want;
    bool errors;
    std::string line = "";  // a line the reading writes, after "e: " or "w: "; {cfg} is the file
  };
  const std::string reads = " is ignored: the user configuration reads num_console_lines, hg_tool, git_tool, "
                            "last_open_prj, history_size_sec";
  const row rows[] = {
      {"no file", nullptr, defaults, false},
      {"empty file", "", defaults, false},
      {"only git_tool", R"({"git_tool":"tig"})", {1000, "thg", "tig", "", 300.0}, false},
      {"all keys", R"({"num_console_lines":5,"hg_tool":"h","git_tool":"g","last_open_prj":"/p/a.vcfg","history_size_sec":1.5})",
       {5, "h", "g", "/p/a.vcfg", 1.5}, false},
      {"fraction truncated", R"({"num_console_lines":12.9})", {12, "thg", "gitk", "", 300.0}, false},
      {"unknown keys ignored", R"({"colour":"red","hg_tool":"x"})", {1000, "x", "gitk", "", 300.0}, false,
       "w: Key \"colour\" in {cfg}" + reads},
      {"syntax error", R"({"hg_tool" "x"})", defaults, true},
      {"not an object", R"([1,2])", defaults, true, "e: Value [1,2] in {cfg} is an array, expected an object"},
      // A wrong type keeps that key's value, naming key and file; the other keys apply.
      {"wrong type", R"({"num_console_lines":7,"hg_tool":{"a":1},"git_tool":"g"})", {7, "thg", "g", "", 300.0}, true,
       "e: Value {\"a\":1} of key \"hg_tool\" in {cfg} is an object, expected a text"},
      {"text that is no number", R"({"history_size_sec":"abc"})", defaults, true,
       "e: Value \"abc\" of key \"history_size_sec\" in {cfg} is a text, expected a number"},
      {"key given twice", R"({"hg_tool":"a","hg_tool":"b"})", {1000, "a", "gitk", "", 300.0}, false,
       "w: Key \"hg_tool\" in {cfg} is given more than once: the first value \"a\" counts, \"b\" is ignored"},
  };
  for (const row& r : rows) {
    config_folder f;
    if (r.text) std::ofstream(f.cfg()) << r.text;
    log_capture err(log_err), warn(log_warn);
    vesk::vesk_config c;
    expect_config(c, r.want, r.label);
    EXPECT_EQ(r.errors, !err.lines.empty()) << r.label;
    std::vector<std::string> lines;
    for (const std::string& l : err.lines) lines.push_back("e: " + l);
    for (const std::string& l : warn.lines) lines.push_back("w: " + l);
    EXPECT_TRUE(r.line.empty() || lines == std::vector<std::string>{replace_all(r.line, "{cfg}", f.cfg().string())})
        << r.label << "\n" << ::testing::PrintToString(lines);
    // Every error ends with a line naming the file.
    EXPECT_TRUE(!r.errors || err.lines.back().find(f.cfg().string()) != std::string::npos) << r.label;
  }
}

TEST(FilesUserConfig, SaveChangesTheFileAndKeepsWhatItDoesNotRead) {
  // The file's keys keep their places and values, a key the back end does not read too;
  // the keys it lacks follow in order.
  config_folder f;
  std::ofstream(f.cfg()) << R"({"extra":[true, 1],"git_tool":"tig","num_console_lines":12.5})";
  vesk::vesk_config c;
  c.last_open_prj = "/w/p/p.vcfg";
  c.save();
  EXPECT_EQ(
      "{\n  \"extra\": [\n    true,\n    1.000000\n  ],\n  \"git_tool\": \"tig\",\n  \"num_console_lines\": 12.500000,\n"
      "  \"hg_tool\": \"thg\",\n  \"last_open_prj\": \"/w/p/p.vcfg\",\n  \"history_size_sec\": 300.000000\n}",
      read_file(f.cfg().string()));
}

TEST(FilesUserConfig, OutsideEditReloadsOnceButOwnSaveDoesNot) {
  config_folder f;
  vesk::vesk_config c;
  int updates = 0;
  c.on_update = [&] { ++updates; };

  c.hg_tool = "mine";
  c.save();  // creates the file
  c.file.check();
  EXPECT_EQ(0, updates) << "own save taken for an outside change";

  std::ofstream(f.cfg()) << R"({"git_tool":"edited"})";
  shift_write_time(f.cfg());
  c.file.check();
  EXPECT_EQ(1, updates);
  EXPECT_EQ("edited", c.git_tool);
  EXPECT_EQ("mine", c.hg_tool) << "a key absent from the file keeps its value";
  c.file.check();
  EXPECT_EQ(1, updates) << "no second reload without a new change";

  // A broken edit still tells the owner, and changes nothing.
  std::ofstream(f.cfg()) << "{oops";
  shift_write_time(f.cfg(), 2);
  {
    log_capture err(log_err);
    c.file.check();
    EXPECT_FALSE(err.lines.empty());
  }
  EXPECT_EQ(2, updates);
  EXPECT_EQ("edited", c.git_tool);
}

TEST(FilesUserConfig, FailedSaveIsReported) {
  config_folder f;
  vesk::vesk_config c;
  fs::remove_all(f.dir.path);  // the configuration folder vanished under the back end
  log_capture err(log_err);
  c.save();
  ASSERT_EQ(1u, err.lines.size());
  EXPECT_NE(std::string::npos, err.lines[0].find(f.cfg().string())) << err.lines[0];
}

TEST(FilesPerspectives, MissingOrEmptyFileIsCreatedAsEmptyObject) {
  for (const char* text : {static_cast<const char*>(nullptr), ""}) {
    config_folder f;
    if (text) std::ofstream(f.persp()) << text;
    vesk::vesk_model_perspectives p;
    EXPECT_TRUE(p.document.is_object());
    EXPECT_EQ(0u, p.document.size());
    EXPECT_EQ("{\n}", read_file(f.persp().string()));
  }
}

TEST(FilesPerspectives, LoadsStoresAndIgnoresOutsideEditsUntilChecked) {
  config_folder f;
  std::ofstream(f.persp()) << R"({"m1":{"scale":2}})";
  vesk::vesk_model_perspectives p;
  EXPECT_EQ(2.0, p.document["m1"]["scale"].get_double());

  p.document["m2"] = vesk::json{"scale", 3};
  p.save();
  vesk::json back = vesk::json::parse(read_file(f.persp().string()));
  EXPECT_EQ(2.0, back["m1"]["scale"].get_double());
  EXPECT_EQ(3.0, back["m2"]["scale"].get_double());

  // An outside edit is not read on its own; the next save does not write over it, but reads it.
  std::ofstream(f.persp()) << R"({"other":1})";
  shift_write_time(f.persp());
  EXPECT_TRUE(p.document.contains("m2"));
  p.save();
  EXPECT_EQ(read_file(f.persp().string()), R"({"other":1})");
  EXPECT_FALSE(p.document.contains("m2"));

  // Its check, when run, does read it.
  std::ofstream(f.persp()) << R"({"other":1})";
  shift_write_time(f.persp(), 5);
  p.file.check();
  EXPECT_FALSE(p.document.contains("m2"));
  EXPECT_EQ(1.0, p.document["other"].get_double());
}

TEST(FilesPerspectives, BrokenFileGivesNullAndNextStoreKeepsOnlyTheNewModel) {
  config_folder f;
  std::ofstream(f.persp()) << R"({"m1":)";
  vesk::vesk_model_perspectives p;
  EXPECT_TRUE(p.document.is_null());
  p.document["m9"] = vesk::json{"scale", 1};
  p.save();
  vesk::json back = vesk::json::parse(read_file(f.persp().string()));
  EXPECT_EQ(1u, back.size());
  EXPECT_TRUE(back.contains("m9"));
}

TEST(FilesPerspectives, AChangePastTheBoundIsDroppedAndTheFileKept) {
  config_folder f;
  vesk::vesk_model_perspectives p;
  log_capture err(log_err);
  p.document["huge"] = std::string(max_config_file_bytes, 'x');
  p.save();
  EXPECT_EQ(0u, p.document.size());
  EXPECT_EQ("{\n}", read_file(f.persp().string()));
  ASSERT_EQ(1u, err.lines.size());
  EXPECT_NE(std::string::npos, err.lines[0].find("more than the limit of 16777216); the last change is dropped."));
}

TEST(FilesPerspectives, SetTakesAChangeUpToTheBoundToTheByte) {
  // The document's text is measured by what each change adds or replaces, not by writing
  // the whole document: a change that makes it exactly the bound is taken, one byte more
  // is not, whether the model is new (first or later member) or replaced, from a text
  // already at the bound or one measured anew after a refused save.
  enum start {
    as_file,        // the file as it was
    at_bound,       // the model already set so that the text is exactly the bound
    after_refusal,  // a larger text saved, the file then edited outside, and a save past the bound refused
  };
  const struct {
    const char* label;
    const char* before;  // the file at start
    const char* model;
    long over;  // bytes past the bound the change would make
    start from = as_file;
  } rows[] = {
      {"first member at the bound", "", "m", 0},
      {"first member one past", "", "m", 1},
      {"new member at the bound", R"({"a":{"scale":2},"b":[1,2]})", "m", 0},
      {"new member one past", R"({"a":{"scale":2},"b":[1,2]})", "m", 1},
      {"replaced member at the bound", R"({"a":{"scale":2},"m":[1,2]})", "m", 0},
      {"replaced member one past", R"({"a":{"scale":2},"m":[1,2]})", "m", 1},
      {"replaced at the bound by as much", R"({"a":{"scale":2}})", "m", 0, at_bound},
      {"new member after a refused save", R"({"a":{"scale":2}})", "m", 0, after_refusal},
  };
  for (const auto& r : rows) {
    config_folder f;
    std::ofstream(f.persp()) << r.before;
    vesk::vesk_model_perspectives p;
    // The text with an empty perspective, then a string long enough to reach the bound.
    const auto reaching = [&](long over, char fill) {
      vesk::json probe = p.document;
      probe[r.model] = "";
      return std::string(max_config_file_bytes - probe.dump("  ").size() + over, fill);
    };
    if (r.from == at_bound) p.set(r.model, reaching(0, 'y'));
    if (r.from == after_refusal) {
      log_capture refused(log_err);
      p.set("big", std::string(max_config_file_bytes / 2, 'y'));
      std::ofstream(f.persp()) << r.before;
      shift_write_time(f.persp());
      p.file.check();
      p.document["huge"] = std::string(max_config_file_bytes, 'y');
      p.save();
      ASSERT_EQ(1u, refused.lines.size()) << r.label;
    }
    const std::string value = reaching(r.over, 'x');
    const std::string was = p.document.dump();
    log_capture err(log_err);
    p.set(r.model, value);
    const std::string text = read_file(f.persp().string());
    EXPECT_EQ(r.over <= 0, text.size() == max_config_file_bytes) << r.label;
    EXPECT_EQ(r.over > 0, !err.lines.empty()) << r.label;
    EXPECT_EQ(r.over > 0, p.document.dump() == was) << r.label << ": a refused change is not applied";
  }
}

}  // namespace
