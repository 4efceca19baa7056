// The build directory that the real vesk-cli leaves: what is written, what is left alone
// on a rebuild, what is mirrored, copied and pruned, and "config.json".

#include <algorithm>
#include <map>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"
#include "foundation/helpers.h"

namespace {

using cli_test::counter_block;
using cli_test::lines_with;
using cli_test::workspace;
namespace fs = std::filesystem;

/// Every regular file below `root` (links not followed) with its write time; times have
/// nanoseconds, so any later write shows.
std::map<std::string, fs::file_time_type> file_times(const fs::path& root) {
  std::map<std::string, fs::file_time_type> times;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_symlink() || !it->is_regular_file()) continue;
    times[it->path().lexically_relative(root).string()] = fs::last_write_time(it->path());
  }
  return times;
}

std::vector<std::string> rewritten(const fs::path& root, const std::map<std::string, fs::file_time_type>& before) {
  std::vector<std::string> changed;
  for (const auto& [rel, t] : before) {
    if (!fs::exists(root / rel) || fs::last_write_time(root / rel) != t) changed.push_back(rel);
  }
  return changed;
}

TEST(CliBuildDir, UnchangedRebuildWritesOnlyTheTwoAlwaysWrittenFiles) {
  workspace w;
  w.put("ws/rt_sim/src/main.cpp", "int main() {}\n");
  w.put("ws/demo/nodes/counter.cpp", "// counter\n");
  w.model({counter_block("a", "r10ms")});
  ASSERT_EQ(0, w.run({"-b", w.vcfg.string()}).status);
  // What every part contributed is there.
  for (const char* rel : {"model/model.h", "model/model.cpp", "model/compile_info.json", "config.json", "build",
                          "start", "src/main.cpp", "shared/vesk/rt/model.h", "ws/demo/nodes/counter.h", "resources"}) {
    EXPECT_TRUE(fs::exists(w.build_dir / rel)) << rel;
  }
  const auto before = file_times(w.build_dir);
  const auto res = w.run({"-b", w.vcfg.string()});
  ASSERT_EQ(0, res.status) << res.out;
  const std::vector<std::string> expected = {"config.json", "model/compile_info.json"};
  EXPECT_EQ(expected, rewritten(w.build_dir, before));
}

TEST(CliBuildDir, ChangedSourcesAreWrittenAndRemovedRastersCleaned) {
  workspace w;
  w.model({counter_block("a", "r10ms"), counter_block("b", "r1s")});
  ASSERT_EQ(0, w.run({"-b", w.vcfg.string()}).status);
  const fs::path model = w.build_dir / "model";
  ASSERT_TRUE(fs::exists(model / "r1s.h"));
  w.put("ws/demo/build-demo-sim/model/stale.cpp", "x");
  w.put("ws/demo/build-demo-sim/model/notes.txt", "kept");
  w.put("ws/demo/build-demo-sim/model/r10ms.o", "kept");
  // Restored files (other bytes, an older time) replace their copies with a time later
  // than the old copy's, so the runtime's build compiles them again; a file touched
  // without a change is not copied.
  const auto before = file_times(w.build_dir);
  w.script("ws/rt_sim/start", "echo restored");
  w.put("ws/demo/nodes/counter.h", std::string(cli_test::counter_header) + "// restored\n");
  for (const char* f : {"rt_sim/start", "demo/nodes/counter.h"}) shift_write_time(w.ws / f, -3600);
  shift_write_time(w.ws / "rt_sim" / "build", 3600);

  w.model({counter_block("a", "r10ms")});
  const auto res = w.run({"-b", w.vcfg.string()});
  ASSERT_EQ(0, res.status) << res.out;
  for (const char* gone : {"r1s.h", "r1s.cpp", "stale.cpp"}) EXPECT_FALSE(fs::exists(model / gone)) << gone;
  for (const char* kept : {"notes.txt", "r10ms.o", "r10ms.h", "model.h"}) EXPECT_TRUE(fs::exists(model / kept)) << kept;
  const auto changed = rewritten(w.build_dir, before);
  for (const char* rel : {"start", "ws/demo/nodes/counter.h", "model/model.h", "config.json"}) {
    EXPECT_NE(changed.end(), std::find(changed.begin(), changed.end(), rel)) << rel;
    EXPECT_GT(fs::last_write_time(w.build_dir / rel), before.at(rel)) << rel;
  }
  EXPECT_EQ(read_file((w.ws / "demo" / "nodes" / "counter.h").string()),
            read_file((w.build_dir / "ws" / "demo" / "nodes" / "counter.h").string()));
  for (const char* rel : {"build", "model/r10ms.h", "model/notes.txt"}) {
    EXPECT_EQ(changed.end(), std::find(changed.begin(), changed.end(), rel)) << rel;
  }
}

TEST(CliBuildDir, WorkspaceNodeFilesAreCopiedAndPruned) {
  workspace w;
  w.put("ws/demo/nodes/counter.cpp", "// the node's source, listed\n");
  w.put("ws/demo/nodes/unused.cpp", "// no node of the model needs it\n");
  w.put("ws/demo/nodes/extra.h", "#pragma once\n");
  w.put("ws/demo/nodes/sub/helper.h", "#pragma once\n");
  w.put("ws/demo/nodes/data.txt", "table\n");
  w.put("ws/other/nodes/o.h", "#pragma once\n");
  ASSERT_EQ(0, w.run({"-b", w.vcfg.string()}).status);
  const fs::path nodes = w.build_dir / "ws" / "demo" / "nodes";
  EXPECT_TRUE(fs::exists(nodes / "counter.h"));
  EXPECT_TRUE(fs::exists(nodes / "extra.h"));
  EXPECT_TRUE(fs::exists(nodes / "sub" / "helper.h"));  // nested files come with their folder
  EXPECT_TRUE(fs::exists(nodes / "data.txt"));
  EXPECT_TRUE(fs::exists(nodes / "counter.cpp"));
  EXPECT_FALSE(fs::exists(nodes / "unused.cpp"));  // not listed, not copied
  EXPECT_FALSE(fs::exists(w.build_dir / "ws" / "other"));  // the model uses no node of it

  // Leftovers of earlier builds and a deleted original.
  w.put("ws/demo/build-demo-sim/ws/demo/nodes/gone.cpp", "x");
  w.put("ws/demo/build-demo-sim/ws/demo/nodes/gone.o", "x");
  w.put("ws/demo/build-demo-sim/ws/old/nodes/a.h", "x");
  w.put("ws/demo/build-demo-sim/ws/junk", "x");
  fs::remove(w.project / "nodes" / "extra.h");
  fs::remove(w.project / "nodes" / "sub" / "helper.h");
  const auto res = w.run({"-b", w.vcfg.string()});
  ASSERT_EQ(0, res.status) << res.out;
  for (const fs::path& gone : {nodes / "gone.cpp", nodes / "gone.o", nodes / "extra.h", nodes / "sub" / "helper.h",
                               w.build_dir / "ws" / "old", w.build_dir / "ws" / "junk"}) {
    EXPECT_FALSE(fs::exists(gone)) << gone;
  }
  EXPECT_TRUE(fs::exists(nodes / "counter.h"));
  EXPECT_TRUE(fs::exists(nodes / "data.txt"));
}

TEST(CliBuildDir, NodeHeaderSearchSurvivesAFolderLinkCycle) {
  workspace w;
  fs::create_directory_symlink("..", w.project / "nodes" / "loop");
  const auto res = w.run({"-b", w.vcfg.string()});
  EXPECT_EQ(0, res.status) << res.out;
  EXPECT_TRUE(fs::exists(w.build_dir / "model" / "model.h"));
}

TEST(CliBuildDir, RuntimeConfiguration) {
  const std::string defs = R"([{"key":"ticks","default":10},{"key":"port","default":"15101"},)"
                           R"({"default":5},{"key":"lonely"},7,{"key":3,"default":[1]}])";
  struct row {
    std::string configs;  // "runtime_configs" member, or empty for none
    std::string def;      // config_def.json, or empty for none
    std::string expected;
  } rows[] = {
      {"", defs, R"({"ticks":10.000000,"port":"15101","3.000000":[1.000000]})"},
      {R"({"sim":{"port":1,"extra":"x"}})", defs, R"({"port":1.000000,"extra":"x","ticks":10.000000,"3.000000":[1.000000]})"},
      {R"({"sim":[1,2]})", defs, R"({"ticks":10.000000,"port":"15101","3.000000":[1.000000]})"},
      {R"({"other":{"a":1}})", "", "{}"},
      {R"({"sim":{"a":true}})", "[]", R"({"a":true})"},
  };
  for (const row& r : rows) {
    workspace w;
    w.config(R"({"model":"m","runtime":"sim")" + (r.configs.empty() ? "" : ",\"runtime_configs\":" + r.configs) + "}");
    if (!r.def.empty()) w.put("ws/rt_sim/config_def.json", r.def);
    const auto res = w.run({"-b", w.vcfg.string()});
    ASSERT_EQ(0, res.status) << res.out;
    const std::string text = read_file((w.build_dir / "config.json").string());
    EXPECT_EQ(r.expected, vesk::json::parse(text).dump()) << r.configs << " " << r.def;
    EXPECT_EQ(vesk::json::parse(text).dump("  "), text);
  }
}

TEST(CliBuildDir, RuntimesAreFoundByName) {
  struct row {
    std::vector<std::string> folders;  // runtime folders (relative to the temp root) with a start script
    std::string runtime;
    std::string started;  // the folder whose script ran
  } rows[] = {
      {{"cwd/runtimes/rt_glob"}, "glob", "cwd/runtimes/rt_glob"},
      {{"cwd/runtimes/plain"}, "plain", "cwd/runtimes/plain"},
      // A workspace runtime replaces a global one of the same name.
      {{"cwd/runtimes/rt_sim", "ws/rt_sim"}, "sim", "ws/rt_sim"},
      {{"cwd/runtimes/sim", "ws/rt_sim"}, "sim", "ws/rt_sim"},
  };
  for (const row& r : rows) {
    workspace w;
    for (const std::string& f : r.folders) {
      w.script(f + "/build", "true");
      w.script(f + "/start", "echo " + f + " > " + vesk::shell_quote(w.trace.string()));
    }
    w.config(R"({"model":"m","runtime":")" + r.runtime + "\"}");
    const auto res = w.run({w.vcfg.string()});
    EXPECT_EQ(0, res.status) << r.runtime << "\n" << res.out;
    EXPECT_EQ(r.started + "\n", w.trace_text());
  }
}

TEST(CliBuildDir, AFileThatCannotBeWrittenFailsTheBuild) {
  for (const char* blocked : {"model/model.h", "model/compile_info.json", "config.json"}) {
    workspace w;
    // A non-empty folder where the file belongs cannot be replaced by a file.
    w.put(("ws/demo/build-demo-sim/" + std::string(blocked) + "/keep").c_str(), "x");
    const auto res = w.run({"-b", w.vcfg.string()});
    const std::string path = (w.build_dir / blocked).string();
    EXPECT_EQ(std::vector<std::string>{"e: An exception occured: Unable to write file: " + path},
              lines_with(res.out, "e: "))
        << res.out;
    EXPECT_EQ(1, res.status) << blocked;
    EXPECT_EQ("", w.trace_text()) << blocked;  // the build script did not run
  }
}

}  // namespace
