// Models as nodes, the project directory's sorting and flags, the workspace rescan, the
// runtime scan and the block and file lists, on a real controller.
#include <algorithm>

#include <gtest/gtest.h>

#include "backend/files_test_util.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_capture.h"

namespace fs = std::filesystem;
using files_test::gui_client;
using files_test::workspace_env;

namespace {

// A model text: "model_is_node" as given (null: absent) and base nodes "in:u", "out:y".
std::string model_text(const char* is_node, std::vector<std::string> ports) {
  vesk::json m;
  if (is_node) m["model_is_node"] = vesk::json::parse(is_node);
  m["nodes"] = vesk::json::make_array(nullptr, 0);
  for (const std::string& p : ports) {
    bool in = p.rfind("in:", 0) == 0;
    m["nodes"].push_back(vesk::json{{"type", "base"},
                                    {"name", p.substr(in ? 3 : 4)},
                                    {"cfg", vesk::json{"node", in ? "input" : "output"}}});
  }
  m["nodes"].push_back(vesk::json{{"type", "base"}, {"name", "g"}, {"cfg", vesk::json{"node", "gain"}}});
  return m.dump("  ");
}

std::string members(vesk::json& o) {
  std::string s;
  for (auto item : o) s += item.key + (item.value->is_bool() && item.value->get_bool() ? "" : "?") + " ";
  return s;
}

TEST(FilesManagedModel, NodeFormReadAtLoad) {
  struct row {
    const char* label;
    std::string text;
    bool is_node;
    const char* inputs;
    const char* outputs;
    std::string error = "";  // an error line about the file, "{m}" standing for its path
  };
  const row rows[] = {
      {"node with ports", model_text("true", {"in:u", "in:v", "out:y"}), true, "u v ", "y "},
      {"not declared", model_text(nullptr, {"in:u"}), false, "", ""},
      {"zero", model_text("0", {"in:u"}), false, "", ""},
      {"false", model_text("false", {"in:u"}), false, "", ""},
      {"text one", model_text("\"1\"", {"out:z"}), true, "", "z "},
      {"text that is no number", model_text("\"yes\"", {"in:u"}), false, "", "",
       "Value \"yes\" of key \"model_is_node\" in model file {m} is no number: the model is no block of other models "
       "(1 makes it one, 0 not)"},
      {"object", model_text("{}", {"in:u"}), false, "", ""},
      {"broken text", "{\"model_is_node\": 1, \"nodes\": [", false, "", ""},
      {"malformed number", "{\"model_is_node\": -x}", false, "", ""},
      {"no nodes", "{\"model_is_node\": 1}", true, "", ""},
      {"odd nodes", R"({"model_is_node":1,"nodes":[3,{"type":"base","cfg":"x"},{"type":"base","cfg":{"node":"input"},"name":{}}]})",
       true, "", ""},
      {"array", "[1]", false, "", ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    workspace_env env;
    fs::path m = env.put("prj/models/ctrl.vmdl", r.text);
    log_capture errors(log_err);
    env.start();
    const std::string line = replace_all(r.error, "{m}", m.string());
    EXPECT_TRUE(r.error.empty() || std::count(errors.lines.begin(), errors.lines.end(), line) == 1) << line;
    auto& model = *env.ctl->prj_dir.models.at(m);
    EXPECT_EQ(r.is_node, model.is_node);
    EXPECT_EQ("ctrl", model.model_name);
    EXPECT_EQ("prj", model.project);
    EXPECT_EQ(r.inputs, members(model.node_ports["inputs"]));
    EXPECT_EQ(r.outputs, members(model.node_ports["outputs"]));
  }
}

TEST(FilesManagedModel, BlockListPushedOnlyWhenTheNodeFormChanges) {
  // Each step is a save point, then: pushed or not, and the ports after it.
  struct step {
    std::string text;
    bool pushed;
    const char* inputs;
    const char* outputs;
  };
  const std::string node = model_text("1", {"in:u", "in:v", "out:y"});
  const step steps[] = {
      {model_text("1", {"in:u", "in:v", "out:y"}), true, "u v ", "y "},     // became a node
      {model_text("1", {"in:u", "in:v", "out:y"}) + " ", false, "u v ", "y "},  // moved nodes only
      {model_text("1", {"in:u", "in:v", "out:z"}), true, "u v ", "z "},     // renamed output
      {model_text("1", {"in:u", "out:z"}), true, "u ", "z "},               // removed input
      {model_text("1", {"in:u", "in:u", "out:z"}), true, "u ", "z "},       // duplicate name
      {model_text("1", {"in:u", "in:u", "out:z"}), true, "u ", "z "},       // ... pushes every time
      {model_text("0", {"in:u", "out:z"}), true, "u ", "z "},               // no node any more
      {"{oops", false, "u ", "z "},                                        // still no node
  };
  workspace_env env;
  fs::path m = env.put("prj/models/ctrl.vmdl", model_text(nullptr, {}));
  env.start();
  gui_client gui(env);
  gui.drain();
  auto model = env.ctl->prj_dir.models.at(m);
  int i = 0;
  for (const step& s : steps) {
    SCOPED_TRACE(i++);
    model->add_save_point(s.text, true);
    EXPECT_EQ(s.pushed ? 1u : 0u, gui.drain("get_blk_list").size());
    EXPECT_EQ(s.inputs, members(model->node_ports["inputs"]));
    EXPECT_EQ(s.outputs, members(model->node_ports["outputs"]));
  }
  // Undo back to the node (two steps in one turn: through the text that is no node) and
  // redo away from it: a push each time.
  model->undo();
  model->undo();
  EXPECT_EQ(1u, gui.drain("get_blk_list").size());
  EXPECT_TRUE(model->is_node);
  model->redo();
  EXPECT_EQ(1u, gui.drain("get_blk_list").size());
  EXPECT_FALSE(model->is_node);
}

TEST(FilesProjectDir, FilesSortedByFolderAndExtension) {
  struct row {
    const char* rel;
    const char* kind;  // map that holds it after the poll, or "none"
    bool files_changed, blocks_changed;
  };
  const row rows[] = {
      {"nodes/a.h", "headers", true, true},       {"nodes/sub/b.hpp", "headers", true, true},
      {"nodes/a.cpp", "sources", true, false},    {"nodes/c.CC", "sources", true, false},
      {"nodes/readme.txt", "none", false, false}, {"models/m.vmdl", "models", true, false},
      {"models/deep/n.json", "models", true, false}, {"views/v.json", "views", true, false},
      {"data/d.csv", "none", false, false},       {"other/x.h", "none", false, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.rel);
    workspace_env env;
    env.start();
    vesk::project_dir& p = env.ctl->prj_dir;
    fs::path file = env.put(std::string("prj/") + r.rel, "x");
    for (auto& o : p.observers) o->poll();
    EXPECT_EQ(r.files_changed, p.files_changed);
    EXPECT_EQ(r.blocks_changed, p.blocks_changed);
    std::string held = p.headers.count(file) ? "headers" : p.sources.count(file) ? "sources"
                       : p.models.count(file) ? "models" : p.views.count(file) ? "views" : "none";
    EXPECT_EQ(r.kind, held);
    EXPECT_TRUE(p.others.empty());
  }
}

TEST(FilesProjectDir, GetFileSortsByTheTextualTestAndNeverSetsFlags) {
  workspace_env env;
  env.put("prj/nodes_old/c.h", "");
  env.put("prj/data/d.csv", "1");
  env.start();
  vesk::project_dir& p = env.ctl->prj_dir;
  p.files_changed = p.blocks_changed = false;
  fs::path a = env.prj / "nodes_old" / "c.h";
  auto h = p.get_file(a);
  EXPECT_TRUE(dynamic_cast<vesk::managed_header*>(h.get())) << "nodes_old counts as part of nodes";
  fs::path d = env.prj / "data" / ".." / "data" / "d.csv";
  auto f = p.get_file(d);
  EXPECT_EQ(env.prj / "data" / "d.csv", d) << "normalised in place";
  EXPECT_EQ(1u, p.others.count(d));
  EXPECT_EQ(f, p.get_file(d)) << "held files are reused";
  EXPECT_FALSE(p.files_changed || p.blocks_changed);
  EXPECT_TRUE(p.contains(env.prj / "x"));
  EXPECT_FALSE(p.contains(env.ws / "other" / "x"));
}

TEST(FilesProjectDir, DeletionPushesNotificationOnlyWithAChangePending) {
  workspace_env env;
  fs::path m = env.put("prj/models/m.vmdl", "{}");
  fs::path d = env.put("prj/data/d.csv", "1");
  fs::path t = env.put("prj/nodes/notes.txt", "1");
  fs::path src = env.put("prj/nodes/s.cpp", "");
  fs::path view = env.put("prj/views/v.json", "A");
  env.start();
  gui_client gui(env);
  gui.drain();
  fs::path held = d;
  env.ctl->prj_dir.get_file(held);

  // An untracked or data file alone: no notification, and the held data file is dropped.
  fs::remove(d);
  fs::remove(t);
  env.ctl->poll_files();
  EXPECT_EQ(0u, gui.drain("delete_notification").size());
  EXPECT_EQ(0u, env.ctl->prj_dir.others.count(d));

  fs::remove(m);
  fs::remove(src);
  env.ctl->poll_files();
  std::vector<vesk::json> msgs = gui.drain();
  ASSERT_GE(msgs.size(), 2u);
  EXPECT_EQ(vesk::json({{"cmd", "delete_notification"}, {"file_name", src.string()}}).dump(), msgs[0].dump());
  EXPECT_EQ(vesk::json({{"cmd", "delete_notification"}, {"file_name", m.string()}}).dump(), msgs[1].dump());
  EXPECT_EQ(0u, env.ctl->prj_dir.models.count(m));
  // The file list follows the notifications; a new source with an edited view, in one poll, too.
  auto file_list = [](std::vector<vesk::json> pushed) {
    std::string list;
    for (auto& x : pushed)
      if (x["cmd"] == "backend_state") list = x["state"]["file_list"].dump();
    return list;
  };
  std::string rest = R"("views":[")" + view.string() + R"("]})";
  EXPECT_EQ(R"({"headers":[],"sources":[],"models":[],)" + rest, file_list(msgs));
  env.put("prj/nodes/n.cpp", "");
  env.put("prj/views/v.json", "B");
  shift_write_time(view, 3);
  env.ctl->poll_files();
  EXPECT_EQ(R"({"headers":[],"sources":[")" + (env.prj / "nodes/n.cpp").string() + R"("],"models":[],)" + rest,
            file_list(gui.drain()));
}

TEST(FilesProjectDir, BadNameThrows) {
  temp_dir t;
  fs::create_directories(t.path / "my-prj");
  vesk::io::event_list loop;
  vesk::log_history_t h;
  fs::path saved = config_dir;
  config_dir = t.path;
  expect_throw_what<vesk::util::bt_exception>(
      [&] { vesk::main_controller c(loop, t.path / "my-prj" / "a.vcfg", h, 0, 0, false, false); },
      "Project name 'my-prj' is invalid. A project name must follow the pattern '[a-zA-Z][a-zA-Z0-9_]*'.");
  config_dir = saved;
}

TEST(FilesWorkspace, RescanFindsProjectsAndRuntimesAndWarnsOncePerBadName) {
  workspace_env env;
  for (const char* d : {".hg", "my-project", "_tmp", "rt_", "rt_sim", "empty"}) fs::create_directories(env.ws / d);
  env.put("full/nodes/a.h", "//@node: class\nclass a {\n};\n");
  env.put("rt_sim/config_def.json", R"([{"key":"k"}])");
  fs::create_directories(runtimes_dir / "old.bak");  // a stray installed runtime: skipped, not fatal
  log_capture warn(log_warn);
  env.start();
  vesk::workspace& w = env.ctl->workspace;
  std::string names;
  for (auto& p : w.projects) names += p.first + " ";
  EXPECT_EQ("_tmp empty full ", names);
  std::string rts;
  for (auto& r : w.runtimes) rts += "[" + r.first + "]";
  EXPECT_EQ("[][sim]", rts);
  size_t warned = 0;
  for (auto& l : warn.lines)
    if (l.find("Workspace directory") == 0) {
      ++warned;
      EXPECT_EQ("Workspace directory 'my-project' is ignored because it does not follow the pattern "
                "'[a-zA-Z][a-zA-Z0-9_]*'.", l);
    }
  EXPECT_EQ(1u, warned);
  const std::string stray = "Runtime folder '" + (runtimes_dir / "old.bak").string() +
                            "' is skipped: Runtimes can only have names characters a-z, A-Z, '-' or '_'. Error "
                            "occured for runtime old.bak";
  EXPECT_EQ(1, std::count(warn.lines.begin(), warn.lines.end(), stray));

  // Quiet again: nothing moved, no second warning; a new bad name warns once.
  fs::create_directories(env.ws / "x.y");
  w.rescan();
  w.rescan();
  EXPECT_FALSE(w.changed);
  size_t xy = 0;
  for (auto& l : warn.lines) xy += l.find("'x.y'") != std::string::npos;
  EXPECT_EQ(1u, xy);
  env.ctl->scan_runtimes();
  EXPECT_EQ(1, std::count(warn.lines.begin(), warn.lines.end(), stray));

  // A new empty project leaves the mark alone; one with a model sets it.
  fs::create_directories(env.ws / "later");
  w.rescan();
  EXPECT_EQ(1u, w.projects.count("later"));
  EXPECT_FALSE(w.changed);
  env.put("later2/models/m.vmdl", "{}");
  w.rescan();
  EXPECT_TRUE(w.changed);
  w.changed = false;

  // Vanished project and runtime: dropped, mark set.
  fs::remove_all(env.ws / "empty");
  fs::remove_all(env.ws / "rt_sim");
  w.rescan();
  EXPECT_TRUE(w.changed);
  EXPECT_EQ(0u, w.projects.count("empty"));
  EXPECT_EQ(0u, w.runtimes.count("sim"));
}

TEST(FilesWorkspace, LooseFilesAndGetFile) {
  workspace_env env;
  fs::create_directories(env.ws / "prj2" / "views");
  fs::path loose = env.tmp.put("loose.txt", "A");
  env.start();
  vesk::workspace& w = env.ctl->workspace;
  fs::path p = env.tmp.path / "." / "loose.txt";
  auto f = w.get_file(p);
  EXPECT_EQ(loose, p);
  EXPECT_EQ(f, w.get_file(p));
  w.changed = false;
  std::ofstream(loose) << "B";
  shift_write_time(loose);
  w.rescan();
  EXPECT_TRUE(w.changed);
  EXPECT_EQ("B", f->content());
  // A deleted loose file marks the workspace changed at every rescan.
  fs::remove(loose);
  for (int i = 0; i < 2; ++i) {
    w.changed = false;
    w.rescan();
    EXPECT_TRUE(w.changed);
  }
  // A file of a workspace project is that project's.
  fs::path v = env.put("prj2/views/v.json", "{}");
  fs::path q = v;
  EXPECT_EQ(w.projects.at("prj2")->views.at(v), w.get_file(q));
}

TEST(FilesWorkspace, FoldersPastTheBoundAreLeftOutWithOneWarning) {
  // Entries looked at (the open project's folder counts too), or projects and runtimes held.
  for (size_t* bound : {&vesk::workspace::max_entries, &vesk::workspace::max_folders}) {
    workspace_env env;
    for (const char* d : {"a", "b", "rt_c", "d", "e"}) fs::create_directories(env.ws / d);
    const size_t saved = std::exchange(*bound, 3);
    log_capture warn(log_warn);
    env.start().workspace.rescan();
    *bound = saved;
    const vesk::workspace& w = env.ctl->workspace;
    EXPECT_LE(w.projects.size() + w.runtimes.size(), 3u);
    EXPECT_GE(w.projects.size() + w.runtimes.size(), 2u);
    const std::string what = bound == &vesk::workspace::max_entries ? "entries; the others are not looked at."
                                                                    : "projects and runtimes; the others are not taken in.";
    const std::string line = "The workspace folder " + env.ws.string() + " holds more than 3 " + what;
    EXPECT_EQ(1, std::count(warn.lines.begin(), warn.lines.end(), line));
  }
}

TEST(FilesRuntimes, WorkspaceRuntimeReplacesGlobalOneAndMissingGlobalFolderIsEmpty) {
  struct row {
    const char* label;
    bool global_folder;
    const char* want;  // member names of rt_properties with their first config key
  };
  const row rows[] = {
      {"both", true, "linux: sim:ws "},
      {"no global runtimes folder", false, "sim:ws "},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    workspace_env env;
    fs::remove_all(runtimes_dir);
    if (r.global_folder) {
      fs::create_directories(runtimes_dir / "linux");
      env.tmp.put("runtimes/sim/config_def.json", R"([{"key":"global"}])");
    }
    env.put("rt_sim/config_def.json", R"([{"key":"ws"}])");
    env.start();
    std::string got;
    for (auto item : env.ctl->state.rt_properties) {
      got += item.key + ":";
      if (item.value->size()) got += item.value->array_elements()[0]["key"].get_string();
      got += " ";
    }
    EXPECT_EQ(r.want, got);
  }
}

TEST(FilesBlockList, EntriesInOrderAndByProject) {
  workspace_env env;
  {
    workspace_env probe;  // nothing at all: the exact empty message and file list
    probe.start();
    gui_client g(probe);
    g.send(vesk::json{"cmd", "get_blk_list"});
    auto lists = g.drain("get_blk_list");
    ASSERT_EQ(1u, lists.size());
    EXPECT_EQ(R"({"cmd":"get_blk_list","prj":[],"ws":{}})", lists[0].dump());
    EXPECT_EQ(R"({"headers":[],"sources":[],"models":[],"views":[]})", probe.ctl->state.file_list.dump());
  }
  env.put("prj/nodes/z.h",
          "//@node: function\n//@input: x; type: double; default: 0\ndouble f1(const double& x);\n"
          "//@node: class\nclass c1 {\n};\n");
  env.put("prj/models/a.vmdl", R"({"model_is_node":1})");
  env.put("prj/models/b.vmdl", R"({"model_is_node":0})");
  env.put("zeta/nodes/k.h", "//@node: class\nclass k {\n};\n");
  env.put("alpha/nodes/k.h", "//@node: class\nclass ka {\n};\n");
  env.put("beta/models/bm.vmdl", R"({"model_is_node":true})");
  env.start();
  gui_client gui(env);
  gui.send(vesk::json{"cmd", "get_blk_list"});
  auto lists = gui.drain("get_blk_list");
  ASSERT_EQ(1u, lists.size());
  const std::string P = env.prj.string();
  EXPECT_EQ(
      R"({"cmd":"get_blk_list","prj":[)"
      R"({"type":"base","name":"a","cfg":{"node":"reference","mdl":"a","prj":"prj"}},)"
      R"({"type":"class","name":"c1","cfg":{"class":"c1","prj":"prj"}},)"
      R"({"type":"func","name":"f1","cfg":{"func":"f1","prj":"prj"}}],)"
      R"("ws":{"beta":[{"type":"base","name":"bm","cfg":{"node":"reference","mdl":"bm","prj":"beta"}}],)"
      R"("alpha":[{"type":"class","name":"ka","cfg":{"class":"ka","prj":"alpha"}}],)"
      R"("zeta":[{"type":"class","name":"k","cfg":{"class":"k","prj":"zeta"}}]}})",
      lists[0].dump());
  // The generators' lists: the open project's headers first, then the workspace's by name.
  ASSERT_EQ(3u, env.ctl->blocks.classes.size());
  EXPECT_EQ("c1", env.ctl->blocks.classes[0].class_name);
  EXPECT_EQ("ka", env.ctl->blocks.classes[1].class_name);
  ASSERT_EQ(1u, env.ctl->blocks.functions.size());
  EXPECT_EQ("f1", env.ctl->blocks.functions[0].function.method_name);
  EXPECT_EQ(R"({"headers":[")" + P + R"(/nodes/z.h"],"sources":[],"models":[")" + P + R"(/models/a.vmdl",")" + P +
                R"(/models/b.vmdl"],"views":[]})",
            env.ctl->state.file_list.dump());
}

TEST(FilesBlockList, NewHeaderChangesTheBlockListWithinOnePoll) {
  workspace_env env;
  env.put("zeta/nodes/k.h", "//@node: class\nclass k {\n};\n");
  env.start();
  gui_client gui(env);
  gui.drain();
  env.put("prj/nodes/n.h", "//@node: class\nclass n {\n};\n");
  env.ctl->poll_files();
  auto msgs = gui.drain();
  std::string order;
  for (auto& m : msgs) order += m["cmd"].get_string() + " ";
  EXPECT_NE(std::string::npos, order.find("backend_state")) << order;
  std::vector<vesk::json> lists;
  for (auto& m : msgs)
    if (m["cmd"] == "get_blk_list") lists.push_back(m);
  ASSERT_EQ(1u, lists.size()) << order;
  EXPECT_EQ(R"([{"type":"class","name":"n","cfg":{"class":"n","prj":"prj"}}])", lists[0]["prj"].dump());
  // A new source file changes the file list only.
  env.put("prj/nodes/n.cpp", "");
  env.ctl->poll_files();
  EXPECT_EQ(0u, gui.drain("get_blk_list").size());
  // Another project's folder removed: a new list without its nodes.
  fs::remove_all(env.ws / "zeta");
  env.ctl->poll_files();
  lists = gui.drain("get_blk_list");
  ASSERT_EQ(1u, lists.size());
  EXPECT_EQ("{}", lists[0]["ws"].dump());
}

}  // namespace
