// Managed files: history, disk and the "read_file" pushes of save points, undo, redo and
// outside edits, on a real controller with an editor connected.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "backend/files_test_util.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_capture.h"

namespace fs = std::filesystem;
using files_test::gui_client;
using files_test::workspace_env;

namespace {

// Splits "a,b,c" into its parts ("" gives none).
std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < s.size()) {
    size_t end = s.find(',', start);
    if (end == std::string::npos) end = s.size();
    out.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

TEST(FilesManagedFile, HistoryDiskAndPushesFollowEachStep) {
  // Steps: "save:T" (save point written to disk), "undo", "redo", "edit:T" (another program
  // writes T, the file poll finds it), "swap:T" (the pending write is made, and another
  // program renames T over it right after its rename; then the poll), each in a turn of
  // the loop of its own; steps joined by '+' come in one turn. The file starts as A.
  struct row {
    const char* label;
    const char* steps;
    const char* history;
    size_t index;
    const char* disk;
    const char* pushes;  // contents pushed with "read_file", in order
  };
  const row rows[] = {
      {"two save points", "save:B,save:C", "A,B,C", 2, "C", "B,C"},
      {"undo to the start and once more", "save:B,save:C,undo,undo,undo", "A,B,C", 0, "A", "B,C,B,A"},
      {"redo after undo", "save:B,save:C,undo,undo,redo", "A,B,C", 1, "B", "B,C,B,A,B"},
      {"save point drops the redo entries", "save:B,save:C,undo,save:D,redo", "A,B,D", 2, "D", "B,C,B,D"},
      {"redo at the end does nothing", "save:B,redo", "A,B", 1, "B", "B"},
      {"nothing to undo or redo: nothing sent", "undo,redo,undo+redo", "A", 0, "A", ""},
      {"a burst of steps pushes once", "save:B,save:C,undo+undo+undo+redo", "A,B,C", 1, "B", "B,C,B"},
      {"a save point after steps of its turn", "save:B,undo+save:D", "A,D", 1, "D", "B,D"},
      {"same text makes an equal entry", "save:A", "A,A", 1, "A", "A"},
      {"outside edit drops redo entries", "save:B,save:C,undo,edit:E", "A,B,E", 2, "E", "B,C,B,E"},
      {"outside edit restoring the text", "save:B,edit:B", "A,B", 1, "B", "B"},
      {"undo an outside edit", "edit:E,undo", "A,E", 0, "A", "E,A"},
      {"outside file renamed over the own write at once", "save:B,swap:E", "A,B,E", 2, "E", "B,E"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    workspace_env env;
    fs::path file = env.put("prj/views/v.json", "A");
    env.start();
    gui_client gui(env);
    gui.send(vesk::json{{"cmd", "open_file"}, {"file_name", file.string()}});
    ASSERT_EQ(1u, gui.drain("read_file").size());
    fs::path held = file;
    std::shared_ptr<vesk::managed_file> f = env.ctl->prj_dir.get_file(held);
    int tick = 0;
    for (const std::string& turn : split(r.steps)) {
      for (size_t at = 0; at <= turn.size();) {
        const size_t end = std::min(turn.find('+', at), turn.size());
        const std::string step = turn.substr(at, end - at);
        at = end + 1;
        if (step.rfind("save:", 0) == 0) f->add_save_point(step.substr(5), true);
        if (step == "undo") f->undo();
        if (step == "redo") f->redo();
        if (step.rfind("edit:", 0) == 0) {
          std::ofstream(file, std::ios::trunc) << step.substr(5);
          shift_write_time(file, ++tick * 3);
          env.ctl->poll_files();
        }
        if (step.rfind("swap:", 0) == 0) {
          write_file_renamed_hook = [&, text = step.substr(5)] { fs::rename(env.tmp.put("side", text), file); };
          env.ctl->writes.flush(f.get());  // this file's write, and no other, meets the hook
          env.ctl->poll_files();
        }
      }
      env.ctl->settles.run();  // the turn ends
    }
    EXPECT_EQ(split(r.history), std::vector<std::string>(f->history.begin(), f->history.end()));
    EXPECT_EQ(r.index, f->index);
    env.ctl->writes.flush();
    EXPECT_EQ(r.disk, read_file(file.string()));
    std::vector<std::string> pushed;
    for (vesk::json& m : gui.drain("read_file")) {
      EXPECT_EQ(file.string(), m["file_name"].get_string());
      pushed.push_back(m["file"].get_string());
    }
    EXPECT_EQ(split(r.pushes), pushed);
  }
}

TEST(FilesManagedFile, FailedWriteIsLoggedAndHistoryStillMoves) {
  workspace_env env;
  fs::path file = env.tmp.put("outside/loose.txt", "A");
  env.start();
  gui_client gui(env);
  gui.send(vesk::json{{"cmd", "open_file"}, {"file_name", file.string()}});
  gui.drain();
  fs::path p = file;
  std::shared_ptr<vesk::managed_file> f = env.ctl->workspace.get_file(p);
  fs::remove_all(file.parent_path());
  {
    log_capture err(log_err);
    f->add_save_point("B", true);
    env.ctl->writes.flush();
    ASSERT_EQ(1u, err.lines.size());
    EXPECT_EQ("Unable to write file: " + file.string(), err.lines[0]);
  }
  EXPECT_EQ("B", f->content());
  EXPECT_EQ(2u, f->history.size());
  std::vector<vesk::json> pushed = gui.drain("read_file");
  ASSERT_EQ(1u, pushed.size());
  EXPECT_EQ("B", pushed[0]["file"].get_string());

  // A missing file counts as changed at every check, and the history stays.
  EXPECT_TRUE(f->reload_if_changed());
  EXPECT_TRUE(f->reload_if_changed());
  EXPECT_EQ(2u, f->history.size());
  // Once the folder is back, the next undo writes the file again.
  fs::create_directories(file.parent_path());
  f->undo();
  env.ctl->writes.flush();
  EXPECT_EQ("A", read_file(file.string()));
}

TEST(FilesManagedFile, WriteReplacesTheFileWholeAndLeavesNothingBeside) {
  workspace_env env;
  fs::path file = env.put("prj/views/v.json", std::string(100000, 'a'));
  env.start();
  fs::path p = file;
  auto f = env.ctl->prj_dir.get_file(p);
  f->add_save_point("short", true);
  env.ctl->writes.flush();
  EXPECT_EQ("short", read_file(file.string()));
  size_t entries = 0;
  for (auto& e : fs::directory_iterator(file.parent_path())) entries += e.path() == file ? 1 : 100;
  EXPECT_EQ(1u, entries) << "a temporary file was left beside the file";
}

TEST(FilesManagedFile, UnreadableFileIsNotHeld) {
  workspace_env env;
  env.start();
  fs::path missing = env.tmp.path / "nowhere" / "x.txt";
  expect_throw_what<vesk::util::bt_exception>([&] { env.ctl->workspace.get_file(missing); },
                                              "Unable to open file: " + missing.string());
  EXPECT_TRUE(env.ctl->workspace.files.empty());
}

// The shared history budget with other bounds for one scope.
struct scoped_bounds {
  vesk::history_budget& b = vesk::history_budget::shared();
  size_t per_file = b.per_file, total = b.total;
  scoped_bounds(size_t p, size_t t) { b.per_file = p, b.total = t; }
  ~scoped_bounds() { b.per_file = per_file, b.total = total; }
};

TEST(FilesHistoryBudget, OldestStepsGoFirstAndCurrentContentsStay) {
  // Every entry costs one unit: x starts as "A", y as "a", z is opened by "z:load". Steps:
  // "f:T" a save point of T in f, "f:undo", "f:redo". Bounds in units, histories by letter.
  constexpr size_t unit = 100;
  struct row { const char* label; size_t per_file, total; const char* steps; const char* x; size_t x_index; const char* y; };
  const row rows[] = {
      {"per file: the newest are kept", 3, 99, "x:B,x:C,x:D", "BCD", 2, "a"},
      {"undo past what is kept stays there", 3, 99, "x:B,x:C,x:D,x:undo,x:undo,x:undo", "BCD", 0, "a"},
      {"redo after dropping from the front", 3, 99, "x:B,x:C,x:undo,x:D,x:E,x:undo,x:undo,x:redo", "BDE", 1, "a"},
      {"one version over the per-file bound is held alone", 0, 99, "x:B,x:C", "C", 0, "a"},
      {"in all: the oldest step of either file", 99, 5, "x:B,y:b,x:C,y:c,y:d", "BC", 1, "bcd"},
      {"in all: redo steps when no undo step is left", 99, 3, "x:B,x:undo,z:load", "A", 0, "a"},
      {"in all: current contents stay past the bound", 99, 1, "x:B,y:b", "B", 0, "b"},
  };
  auto text = [](char c) { return std::string(unit - vesk::history_budget::entry_overhead, c); };
  auto letters = [](vesk::managed_file& f) {
    std::string out;
    for (const std::string& h : f.history) out += h[0];
    return out;
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    scoped_bounds bounds(r.per_file * unit, r.total * unit);
    workspace_env env;
    fs::path px = env.put("prj/views/x.json", text('A')), py = env.put("prj/views/y.json", text('a'));
    fs::path pz = env.put("prj/data/z.txt", text('z'));
    env.start();
    std::shared_ptr<vesk::managed_file> x = env.ctl->prj_dir.get_file(px), y = env.ctl->prj_dir.get_file(py), z;
    for (const std::string& step : split(r.steps)) {
      vesk::managed_file& f = *(step[0] == 'x' ? x : y);
      const std::string what = step.substr(2);
      if (what == "load") z = env.ctl->prj_dir.get_file(pz);
      else if (what == "undo") f.undo();
      else if (what == "redo") f.redo();
      else f.add_save_point(text(what[0]), true);
    }
    EXPECT_EQ(r.x, letters(*x));
    EXPECT_EQ(r.x_index, x->index);
    EXPECT_EQ(r.y, letters(*y));
    const size_t entries = x->history.size() + y->history.size() + (z ? z->history.size() : 0);
    EXPECT_EQ(entries * unit, vesk::history_budget::shared().held());
  }
  EXPECT_EQ(0u, vesk::history_budget::shared().held()) << "files that are gone still counted";
}

TEST(FilesHistoryBudget, ReadsStopPastTheirBound) {
  workspace_env env;
  struct row { fs::path path; bounded_read result; size_t bytes; };
  const row rows[] = {  // all with a bound of 10 bytes
      {env.tmp.put("ten", "0123456789"), bounded_read::ok, 10},
      {env.tmp.put("eleven", "0123456789a"), bounded_read::too_large, 0},
      {"/proc/self/status", bounded_read::too_large, 0},  // reports size 0
  };
  for (const row& r : rows) {
    const int fd = ::open(r.path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string text = "old";
    size_t size = 0;
    EXPECT_EQ(r.result, read_open_file(fd, text, 10, size)) << r.path;
    EXPECT_EQ(r.bytes, text.size()) << r.path;
    ::close(fd);
  }
  // Past the bound by size alone (nothing is read): a project file is skipped at start-up,
  // a held one that grows keeps its last content.
  const fs::path big = env.put("prj/models/big.vmdl", ""), view = env.put("prj/views/v.json", "A");
  fs::resize_file(big, vesk::managed_file::max_file_bytes + 1);
  log_capture warn(log_warn);
  env.start();
  fs::resize_file(view, vesk::managed_file::max_file_bytes + 1);
  shift_write_time(view, 3);
  env.ctl->poll_files();
  EXPECT_EQ(0u, env.ctl->prj_dir.models.count(big));
  EXPECT_EQ("A", env.ctl->prj_dir.views.at(view)->content());
  const std::string over = " (more than 67108864 bytes); ";
  std::vector<std::string> ours;
  for (const std::string& l : warn.lines)
    if (l.rfind("File too large", 0) == 0) ours.push_back(l);
  EXPECT_EQ((std::vector<std::string>{"File too large: " + big.string() + over + "the file is skipped until it changes.",
                                      "File too large: " + view.string() + over + "its last content read is kept."}),
            ours);
}

const char* header_one_class = R"(#pragma once
//@node: class
class gain {
 public:
  //@input: u; type: double; default: 0
  double u = 0;
  //@tick: step()
  void step();
};
)";

const char* header_class_and_function = R"(#pragma once
//@node: function
//@input: x; type: double; default: 0
double twice(const double& x);
//@node: class
class gain {
 public:
  //@input: u; type: double; default: 0
  double u = 0;
  //@tick: step()
  void step();
};
)";

TEST(FilesManagedHeader, DescriptionsFollowEveryChangeAndUndoPushesTheBlockList) {
  workspace_env env;
  fs::path h = env.put("prj/nodes/gain.h", header_one_class);
  env.start();
  gui_client gui(env);
  gui.drain();
  auto& header = *env.ctl->prj_dir.headers.at(h);
  ASSERT_EQ(1u, header.blocks.size());

  header.add_save_point(header_class_and_function, true);
  EXPECT_EQ(2u, header.blocks.size());
  EXPECT_EQ(1u, gui.drain("get_blk_list").size());

  // An outside edit re-parses but leaves the block list to the file poll.
  header.add_save_point(header_one_class, false);
  EXPECT_EQ(1u, header.blocks.size());
  EXPECT_EQ(0u, gui.drain("get_blk_list").size());

  // A burst of undos re-parses and pushes once, also when some had nothing to undo.
  for (int i = 0; i < 4; ++i) header.undo();
  EXPECT_EQ(0u, header.index);
  EXPECT_EQ(1u, gui.drain("get_blk_list").size());
  EXPECT_EQ(1u, header.blocks.size());
  header.redo();
  EXPECT_EQ(1u, gui.drain("get_blk_list").size());
  EXPECT_EQ(2u, header.blocks.size());

  // A second source of the class gets one warning, which later block lists do not repeat.
  log_capture warn(log_warn);
  const fs::path other = env.put("prj/nodes/other.h", header_one_class);
  env.ctl->poll_files();
  env.ctl->send_block_list();
  EXPECT_EQ(std::vector<std::string>{other.string() + ":2 Node class 'gain' of project 'prj' is declared twice: the one of " +
                                     h.string() + ":5 is taken, this one is not used"},
            warn.lines);
}

TEST(FilesManagedHeader, AllHeadersShareOneBoundOverTheirDescriptions) {
  // With each bound one below what a.h (one node) and b.h (two) hold, b's next parse leaves
  // it out with one line; it stays out when a is emptied, and fits at its own next change.
  using vesk::annotations::parse_budget;
  const std::pair<size_t parse_budget::*, std::string> rows[] = {
      {&parse_budget::nodes, " nodes"}, {&parse_budget::parts, vesk::annotations::kPartsBound}, {&parse_budget::bytes, " bytes of text"}};
  vesk::annotations::node_total& total = vesk::managed_header::node_budget();
  const parse_budget saved = total.limit;
  for (const auto& [field, unit] : rows) {
    workspace_env env;
    const fs::path pa = env.put("prj/nodes/a.h", header_one_class), pb = env.put("prj/nodes/b.h", header_class_and_function);
    env.start();
    total.limit.*field = total.held().*field - 1;
    auto &ha = *env.ctl->prj_dir.headers.at(pa), &hb = *env.ctl->prj_dir.headers.at(pb);
    log_capture err(log_err);
    std::string sizes;  // b's node count after each step
    for (auto* h : {&hb, &ha, &hb}) {
      h->add_save_point(h == &ha ? "" : header_class_and_function, true);
      env.ctl->poll_files();
      sizes += std::to_string(hb.blocks.size());
    }
    EXPECT_EQ("002", sizes) << unit;
    EXPECT_EQ((std::vector<std::string>{pb.string() + ": The node descriptions of all node sources exceed the limit of " +
                                        std::to_string(total.limit.*field) + unit + "; the nodes of this file are left out."}),
              err.lines);
    total.limit = saved;
  }
  EXPECT_EQ(0u, total.held().nodes) << "headers that are gone still counted";
}

}  // namespace
