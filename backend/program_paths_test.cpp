// File commands that take a path from the editor stay inside their folders, in a
// workspace whose path holds a blank; nothing outside is touched, and nothing blocks.
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend/core_test_util.h"

namespace core_test {
namespace {

TEST(ProgramPaths, DeleteRemovesOnlyFilesInsideTheProject) {
  program p;
  const fs::path outside = p.tmp.put("my ws/outside.txt", "keep");
  const fs::path sibling = p.tmp.put("my ws/demo2/x.txt", "keep");
  const fs::path deep = p.tmp.put("elsewhere/y.txt", "keep");
  fs::create_directory_symlink(deep.parent_path(), p.prj / "data" / "linked");
  const fs::path inside = p.tmp.put("my ws/demo/data/gone.txt", "x");
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  const std::vector<std::string> refused = {
      (p.prj / ".." / "outside.txt").string(),
      sibling.string(),
      outside.string(),
      (p.prj / "data" / "linked" / "y.txt").string(),
      (p.prj / "data" / "missing.txt").string(),
      (p.prj / "data").string(),
      p.prj.string(),
  };
  for (const std::string& f : refused) {
    const size_t from = e.seen.size();
    e.send(vesk::json{{"cmd", "delete"}, {"file_name", f}});
    EXPECT_GE(e.wait_log("error", "File not in project dir...", 10000, from), 0) << f;
  }
  for (const fs::path& f : {outside, sibling, deep}) EXPECT_EQ(slurp(f), "keep") << f;
  EXPECT_TRUE(fs::is_directory(p.prj / "data"));
  e.send(vesk::json{{"cmd", "delete"}, {"file_name", inside.string()}});
  EXPECT_TRUE(eventually([&] { return !fs::exists(inside); }));
  EXPECT_TRUE(e.answers());
}

TEST(ProgramPaths, DataFilesOnlyFromTheDataFolder) {
  program p;
  const fs::path secret = p.tmp.put("secret.txt", "secret");
  p.tmp.put("my ws/demo/data/sub/x.bin", std::string("\x00\x01\xfe" "ab", 5));
  fs::create_symlink(secret, p.prj / "data" / "link.txt");
  ASSERT_EQ(::mkfifo((p.prj / "data" / "pipe").c_str(), 0600), 0);
  const fs::path big = p.tmp.put("my ws/demo/data/big.bin", "");
  fs::resize_file(big, (32u << 20) + 1);  // more than the editor could be sent, in base64
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  struct row {
    std::string name;
    std::string logged;
  };
  const std::vector<row> rows = {
      {"", "Error while requesting data_file: no filename set"},
      {"a..b", "Error while requesting data_file: \"..\" is not allowed in path."},
      {"sub/../../secret.txt", "Error while requesting data_file: \"..\" is not allowed in path."},
      {secret.string(), "Error while requesting data_file: \""},
      {"link.txt", "Error while requesting data_file: \"link.txt\" leads out of the data folder."},
      {"pipe", "error opening file: "},
      {"sub", "error opening file: "},
      {"missing", "error opening file: "},
      {"big.bin", "error opening file: " + big.string() + " is larger than 33554432 bytes, more than can be sent"},
  };
  for (const row& r : rows) {
    const size_t from = e.seen.size();
    e.send(vesk::json{{"cmd", "get_data_file"}, {"file_name", r.name}});
    EXPECT_GE(e.wait_log("error", r.logged, 10000, from), 0) << r.name;
    EXPECT_TRUE(e.answers()) << r.name;
  }
  for (const vesk::json& m : e.seen) EXPECT_FALSE(vesk::json(m)["cmd"] == "get_data_file");
  e.send(R"({"cmd":"get_data_file","file_name":"sub/x.bin"})");
  int at = e.wait_cmd("get_data_file");
  ASSERT_GE(at, 0);
  EXPECT_EQ(e.raw[at], "{\n  \"cmd\": \"get_data_file\",\n  \"file_name\": \"sub/x.bin\",\n  \"file\": \"AAH+YWI=\"\n}");
  // The editor's change of the file, still waiting for its write, is what is read.
  const std::string held = (p.prj / "data/sub/x.bin").string();
  e.send(vesk::json{{"cmd", "open_file"}, {"file_name", held}});
  e.send(vesk::json{{"cmd", "add_save_point"}, {"file_name", held}, {"content", "ab"}});
  e.send(R"({"cmd":"get_data_file","file_name":"sub/x.bin"})");
  at = e.wait_cmd("get_data_file", "", 10000, at + 1);
  ASSERT_GE(at, 0);
  EXPECT_EQ(e.seen[at]["file"].get_string(), "YWI=");
}

TEST(ProgramPaths, NewNodeSourcesNeedAnIdentifier) {
  program p;
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  for (const char* bad : {"../evil", "a b", "", "x/y", "9lives"}) {
    const size_t from = e.seen.size();
    e.send(vesk::json{{"cmd", "create_h_cpp"}, {"name", bad}});
    EXPECT_GE(e.wait_log("error", "create_h_cpp: '", 10000, from), 0) << bad;
  }
  EXPECT_TRUE(fs::is_empty(p.prj / "nodes"));
  EXPECT_FALSE(fs::exists(p.ws / "evil.h"));
  e.send(R"({"cmd":"create_h_cpp","name":"blk"})");
  ASSERT_TRUE(eventually([&] { return fs::exists(p.prj / "nodes/blk.cpp"); }));
  EXPECT_EQ(slurp(p.prj / "nodes/blk.h"),
            "#ifndef DEMO_BLK_H\n#define DEMO_BLK_H DEMO_BLK_H\n\nnamespace demo{\n\n\n\n} // namespace demo\n\n"
            "#endif // DEMO_BLK_H\n");
  EXPECT_EQ(slurp(p.prj / "nodes/blk.cpp"), "#include \"blk.h\"\n\nusing namespace std;\nusing namespace demo;\n\n");
  // What the user wrote is never written over, whole pair or half of one.
  const std::string nodes = (p.prj / "nodes/").string();
  p.tmp.put("my ws/demo/nodes/blk.h", "mine");
  p.tmp.put("my ws/demo/nodes/solo.cpp", "mine");
  for (const std::string& taken : {nodes + "blk.h and " + nodes + "blk.cpp exist", nodes + "solo.cpp exists"}) {
    const size_t from = e.seen.size();
    e.send(vesk::json{{"cmd", "create_h_cpp"}, {"name", taken.substr(nodes.size(), taken.find('.') - nodes.size())}});
    EXPECT_GE(e.wait_log("error", "create_h_cpp: " + taken + " already; nothing written.", 10000, from), 0) << taken;
  }
  EXPECT_EQ(slurp(p.prj / "nodes/blk.h") + slurp(p.prj / "nodes/solo.cpp"), "minemine");
  EXPECT_FALSE(fs::exists(p.prj / "nodes/solo.h"));
}

TEST(ProgramPaths, NewNodeSourcesNeverWriteThroughLinks) {
  program p;
  const fs::path outside = p.tmp.put("outside/o.h", "keep"), nodes = p.prj / "nodes";
  fs::create_symlink(outside, nodes / "blk.h");
  fs::create_symlink(outside, nodes / "src.cpp");
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  for (const char* name : {"blk", "src", "fresh"}) {
    if (std::string(name) == "fresh") {  // the nodes folder itself leads out
      fs::remove_all(nodes);
      fs::create_directory_symlink(outside.parent_path(), nodes);
    }
    const size_t from = e.seen.size();
    e.send(vesk::json{{"cmd", "create_h_cpp"}, {"name", name}});
    EXPECT_GE(e.wait_log("error", "create_h_cpp: " + (nodes / name).string() + ".h or .cpp is a link", 10000, from), 0);
  }
  EXPECT_EQ(slurp(outside), "keep");
  for (const char* made : {"blk.cpp", "src.h", "fresh.h", "fresh.cpp"})
    EXPECT_FALSE(fs::exists(outside.parent_path() / made) || fs::exists(p.prj / "nodes" / made)) << made;
}

TEST(ProgramPaths, ValuesOfTheWrongKindChangeNoFile) {
  program p;
  const fs::path view = p.tmp.put("my ws/demo/views/v.json", "view"), user = p.home / ".config" / "vesk";
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  e.send(vesk::json{{"cmd", "open_file"}, {"file_name", view.string()}});
  ASSERT_GE(e.wait_cmd("read_file"), 0);
  const std::vector<fs::path> kept = {p.cfg, user / "vesk.cfg", user / "model_perspectives.json", view};
  // The start's own write of vesk.cfg (the project last opened) waits for its timer.
  ASSERT_TRUE(eventually([&] { return slurp(user / "vesk.cfg").find("last_open_prj") != std::string::npos; }));
  std::vector<std::string> before;
  for (const fs::path& f : kept) before.push_back(slurp(f));
  const std::string v = vesk::json(view.string()).dump();
  const std::vector<std::pair<std::string, std::string>> rows = {  // request, start of the error line
      {R"({"cmd":"write_prj_config","cfg":"oops"})", R"(write_prj_config: "cfg" must be a JSON object)"},
      {R"({"cmd":"write_vesk_config","cfg":[3]})", R"(write_vesk_config: "cfg" must be a JSON object)"},
      {R"({"cmd":"set_perspective","mdl":7,"perspective":{}})", R"(set_perspective: "mdl" must be a JSON text)"},
      {R"({"cmd":"open_file","file_name":42})", R"(open_file: "file_name" must be a JSON text)"},
      {R"({"cmd":"add_save_point","file_name":)" + v + R"(,"content":42})", R"(add_save_point: "content" must)"},
      {R"({"cmd":"save_dump_file","file_name":42,"file":"x"})", R"(save_dump_file: "file_name" must)"},
      {R"({"cmd":"save_dump_file","file_name":)" + v + R"(,"file":7})", R"(save_dump_file: "file" must)"},
      {R"({"cmd":"delete","file_name":[)" + v + "]}", R"(delete: "file_name" must)"},
      {R"({"cmd":"get_data_file","file_name":42})", R"(get_data_file: "file_name" must)"},
      {R"({"cmd":"undo","file_name":5})", R"(undo: "file_name" must be a JSON text; nothing done.)"},
      {R"({"cmd":"create_h_cpp","name":5})", R"(create_h_cpp: "name" must be a JSON text; nothing done.)"},
      {R"({"cmd":"set_perspective","perspective":{"scale":3}})", R"(set_perspective: "mdl" must be a JSON text;)"},
      {R"({"cmd":"write_prj_config","cfg":{"model":5,"runtime":"x"}})",
       R"(write_prj_config: Value 5 of key "model" of "cfg" is a number, expected a text or null; nothing done.)"},
      {R"({"cmd":"write_prj_config","cfg":{"runtime":"x","model":1e400}})",
       R"(write_prj_config: the number 1e400 of key "model" is out of the range of a double; nothing done.)"},
      {R"({"cmd":"set_daq_list","list":"c.out"})", R"(set_daq_list: "list" must be a JSON array; the list was not)"},
      {R"({"cmd":"set_daq_list","lst":["c"]})", R"(set_daq_list: "list" must be a JSON array; the list was not)"},
      {R"({"cmd":"set_paq_list","list":["p",[-]]})", R"(set_paq_list: the number - in the array of key "list" has no)"},
      {R"({"cmd":"set_paq_list","list":["p",5]})",
       R"(set_paq_list: "list" must be a JSON array of texts: element 2 is number 5; the list was not changed.)"},
      {R"({"cmd":"get_view_config","requests":[{"node":"k","block_config":{"type":"expresion"}}]})",
       R"(An exception occured: generator 'expresion' not found (key "type") of node 'k')"},
  };
  for (const auto& [request, logged] : rows) {
    const size_t from = e.seen.size();
    e.send(request);
    EXPECT_GE(e.wait_log("error", logged, 10000, from), 0) << request;
  }
  for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(slurp(kept[i]), before[i]) << kept[i];
  EXPECT_TRUE(fs::is_empty(p.cwd)) << "a number became a file name";
}

TEST(ProgramPaths, OpenFileRefusesWhatIsNoRegularFile) {
  program p;
  ASSERT_EQ(::mkfifo((p.prj / "views" / "pipe").c_str(), 0600), 0);
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  for (const fs::path& f : {p.prj / "views" / "pipe", p.prj / "views"}) {
    const size_t from = e.seen.size();
    e.send(vesk::json{{"cmd", "open_file"}, {"file_name", f.string()}});
    EXPECT_GE(e.wait_log("error", "open_file: '", 10000, from), 0) << f;
    EXPECT_TRUE(e.answers()) << f;
  }
}

// Bytes that are no UTF-8 never cost the editor more than their own text: a file's content
// is refused unaltered; a file name is left out of the file list with one warning, and the
// state still arrives whole.
TEST(ProgramPaths, TextsThatAreNoUtf8AreReportedNotAltered) {
  struct row {
    std::string file, content, logged;
  };
  // The editor can send no name that is not UTF-8: only the first file is asked for.
  for (const row& r : std::vector<row>{{"v.txt", "caf\xe9", "/views/v.txt' is not valid UTF-8"},
                                       {"caf\xe9.txt", "x", "/views/caf\\xE9.txt' is not valid UTF-8"}}) {
    program p;
    const fs::path f = p.tmp.put("my ws/demo/views/" + r.file, r.content);
    p.tmp.put("my ws/demo/views/w.txt", "w");
    ASSERT_TRUE(p.start_running()) << p.out();
    editor e(p.gui_port);
    if (r.file == "v.txt") e.send(vesk::json{{"cmd", "open_file"}, {"file_name", f.string()}});
    e.send(R"({"cmd":"get_backend_state"})");
    const int state = e.wait_cmd("backend_state");
    ASSERT_GE(state, 0) << r.file << p.err();
    vesk::json s = e.seen[static_cast<size_t>(state)]["state"];
    EXPECT_TRUE(s["online"].is_bool() && s.contains("signal_def")) << s.dump();
    std::vector<std::string> views;
    for (const vesk::json& v : s["file_list"]["views"].array_elements()) views.push_back(v.get_string());
    std::vector<std::string> listed = {(p.prj / "views" / "w.txt").string()};
    if (r.file == "v.txt") listed.insert(listed.begin(), f.string());
    EXPECT_EQ(views, listed) << r.file;
    EXPECT_TRUE(eventually([&] { return (p.err() + p.out()).find(r.logged) != std::string::npos; })) << p.err() << p.out();
    EXPECT_TRUE(e.answers());
    EXPECT_EQ(slurp(f), r.content);
  }
}

TEST(ProgramPaths, CleanBuildDirRemovesOnlyTheProjectsBuildFolder) {
  program p;
  // More files than one slice removes, links to what must stay, and what an earlier back
  // end left of a removal.
  for (int i = 0; i < 2500; ++i)
    p.tmp.put("my ws/demo/build-demo-sim/d" + std::to_string(i % 7) + "/" + std::to_string(i), "x");
  const fs::path keep = p.tmp.put("my ws/keep/k.txt", "keep");
  fs::create_directory_symlink(keep.parent_path(), p.prj / "build-demo-sim" / "d3" / "keep");
  fs::create_symlink(keep, p.prj / "build-demo-sim" / "k.txt");
  p.tmp.put("my ws/demo/.build-demo-sim.removed-1/model/x.cpp", "x");
  const auto project_entries = [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(p.prj)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  // A runtime name that is no plain name would lead elsewhere: refused.
  e.send(R"({"cmd":"write_prj_config","cfg":{"runtime":"x/../../../keep"}})");
  const size_t from = e.seen.size();
  e.send(R"({"cmd":"clean_build_dir"})");
  EXPECT_GE(e.wait_log("error", "clean_build_dir: the runtime name", 10000, from), 0);
  EXPECT_EQ(slurp(keep), "keep");
  e.send(R"({"cmd":"write_prj_config","cfg":{"runtime":"sim"}})");
  e.send(R"({"cmd":"clean_build_dir"})");
  EXPECT_TRUE(eventually([&] { return !fs::exists(p.prj / "build-demo-sim"); }));
  EXPECT_TRUE(eventually([&] {
    return project_entries() == std::vector<std::string>{"data", "demo.vcfg", "models", "nodes", "views"};
  })) << project_entries().size();
  EXPECT_EQ(slurp(keep), "keep");
}

TEST(ProgramPaths, FilesHeldOpenAreBoundedInCount) {
  program p;
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  const auto name = [&](int i) { return (p.tmp.path / "loose" / ("f" + std::to_string(i))).string(); };
  // The files exist beforehand: creating each would make the test time the disk's syncs.
  for (int i = 0; i < 1024; ++i) p.tmp.put(name(i), "");
  for (int i = 0; i <= 1025; ++i) e.send(vesk::json{{"cmd", "open_file"}, {"file_name", name(i % 1025)}});
  ASSERT_GE(e.wait_for([&](vesk::json& m) { return m["cmd"] == "read_file" && m["file_name"] == name(0).c_str(); },
                       60000, 1024), 0);
  ASSERT_TRUE(e.answers());
  std::vector<std::string> read, refused;  // the 1025th is refused, the first opens again
  for (vesk::json& m : e.seen) {
    if (m["cmd"] == "read_file") read.push_back(m["file_name"].get_string());
    if (m["cmd"] == "log" && m["type"] == "error") refused.push_back(m["msg"].get_string());
  }
  ASSERT_EQ(read.size(), 1025u);
  EXPECT_EQ(read.back(), name(0));
  EXPECT_EQ(refused, std::vector<std::string>{"open_file: '" + name(1024) + "' was not opened: 1024 files of 0 bytes "
                                              "are held open, and the most are 1024 files or 268435456 bytes."});
  EXPECT_FALSE(fs::exists(name(1024)));  // nothing is created for a refused one
}

}  // namespace
}  // namespace core_test
