// The program's children: a stub vesk-cli beside the copied program for the routing of
// build output and the failure statuses, kill_build, a stub version-control GUI, the
// editor stand-in, and the stop signals that end every child.
#include <signal.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend/core_test_util.h"

namespace core_test {
namespace {

/// The processes whose parent is `parent` (from /proc).
std::vector<pid_t> children_of(pid_t parent) {
  std::vector<pid_t> out;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = slurp(entry.path() / "stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    char state;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent) out.push_back(std::stoi(name));
  }
  return out;
}

/// Whether process `pid` still runs: it exists and has not ended (a zombie has).
bool runs(pid_t pid) {
  const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

/// The process ids listed in `file`, one a line.
std::vector<pid_t> pids_in(const fs::path& file) {
  std::vector<pid_t> out;
  std::istringstream in(slurp(file));
  for (pid_t p = 0; in >> p;) out.push_back(p);
  return out;
}

/// A shell line that starts, in the background, a process that leads a group of its own
/// (as the build tool starts the model), ignores SIGTERM and appends its pid to `pids`.
std::string deaf_group(const fs::path& pids) {
  return "perl -e 'setpgrp(0, 0); $SIG{TERM} = \"IGNORE\"; open(F, \">>\", $ARGV[0]); print F \"$$\\n\"; "
         "close F; exec \"sleep\", \"30\"' '" + pids.string() + "' &";
}

/// The log entries and editor messages from position `from` on, one text each.
std::vector<std::string> entries(editor& e, size_t from = 0) {
  std::vector<std::string> out;
  for (size_t i = from; i < e.seen.size(); ++i) {
    vesk::json& m = e.seen[i];
    if (m["cmd"] == "log") out.push_back(m["type"].get_string() + "|" + m["msg"].get_string());
    else if (m["cmd"] != "backend_state") out.push_back("json|" + m.dump());
  }
  return out;
}

TEST(ProgramBuild, OutputIsRoutedByPrefixAndLinesAreNeverSplit) {
  program p;
  // The JSON line arrives in two pieces, the second only once the first has been read (a
  // later poll): the stub waits for the test's go, given when the entries before it came.
  const fs::path go = p.tmp.path / "go";
  p.stub_cli(
      "printf 'd: dbg\\ni: \\nw: careful\\ne: bad\\nd:x\\nab\\n\\nj: {\"cmd\":\"mdl_error\",\"n\":1}\\nj: {bad\\n"
      "j: {\"cmd\":\"set_text_left\",'\n"
      "i=0; while [ ! -e '" + go.string() + "' ] && [ $i -lt 1000 ]; do sleep 0.01; i=$((i+1)); done\n"
      "printf '\"name\":\"a\"}\\ni: args %s %s\\ni: port %s\\ni: no line end' \"$1\" \"$2\" \"$VESK_MODEL_PORT\"\n"
      "exit 3");
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  ASSERT_TRUE(e.answers());
  const size_t from = e.seen.size();
  e.send(R"({"cmd":"build"})");
  ASSERT_GE(e.wait_log("error", "Build output line is no valid JSON and was skipped: j: {bad"), 0) << p.out();
  std::ofstream(go.string()) << "go";
  ASSERT_GE(e.wait_log("error", "Build failed. Exit status: "), 0) << p.out();
  std::vector<std::string> got = entries(e, from);
  // The parser's own complaint about "{bad" comes first; only our line is checked.
  got.erase(std::remove_if(got.begin(), got.end(),
                           [](const std::string& s) { return s.rfind("error|json_parse_error", 0) == 0; }),
            got.end());
  const std::vector<std::string> want = {
      "debug|dbg",
      "info|",
      "warn|careful",
      "error|bad",
      "console|d:x",
      "console|ab",
      "json|{\"cmd\":\"mdl_error\",\"n\":1.000000}",
      "error|Build output line is no valid JSON and was skipped: j: {bad",
      "json|{\"cmd\":\"set_text_left\",\"name\":\"a\"}",
      "info|args --gui-output " + p.cfg.string(),
      "info|port " + std::to_string(p.model_port),
      "info|no line end",
      "error|Build failed. Exit status: 768",
  };
  EXPECT_EQ(got, want);
  // The build state went to 1 while the child ran and back to 0 after it ended (other
  // pushes of the state may come in between).
  bool running = false;
  EXPECT_GE(e.wait_for([&](vesk::json& m) {
    if (m["cmd"] != "backend_state") return false;
    if (m["state"]["build_state"].get_double() == 1) running = true;
    return running && m["state"]["build_state"].get_double() == 0;
  }, 10000, from), 0);
}

TEST(ProgramBuild, FloodsAreCutCountedAndKeepMemoryBounded) {
  const std::string huge = std::to_string(12u << 20);
  struct row {
    std::string script;
    std::vector<std::string> want;  // beginnings of entries that come in this order
    size_t lines;                   // console lines written: kept and dropped add up to it
  };
  const std::vector<row> rows = {
      {"printf 'j: {\"cmd\":\"x\",\"t\":\"'; head -c " + huge + " /dev/zero | tr '\\0' a; printf '\"}\\ni: after\\n'",
       {"error|Build output message of " + std::to_string((12u << 20) + 18) +
            " bytes is longer than 65536 bytes and was skipped: j: {\"cmd\":\"x\",\"t\":\"aaa",
        "info|after"},
       0},
      {"head -c 1048576 /dev/zero | tr '\\0' a; printf '\\ni: after\\n'",
       {"console|" + std::string(65507, 'a') + " [... 983069 more bytes cut]", "info|after"}, 0},
      {"yes 'a console line of forty bytes or so' | head -n 100000", {"warn|Too much build output: "}, 100000},
      // 20 kB nested 9990 deep: written with the indent it would take about 200 MB.
      {"printf 'j: {\"cmd\":\"x\",\"t\":'; head -c 9990 /dev/zero | tr '\\0' '['; "
       "head -c 9990 /dev/zero | tr '\\0' ']'; printf '}\\ni: after\\n'",
       {"error|The message \"x\" of ", "info|after"}, 0},
  };
  for (const row& r : rows) {
    program p;
    p.stub_cli(r.script + "\nexit 3");
    ASSERT_TRUE(p.start_running()) << p.out();
    editor e(p.gui_port);
    ASSERT_TRUE(e.answers());
    [[maybe_unused]] const size_t before = p.peak_memory_kib();  // unused under the sanitizer
    e.send(R"({"cmd":"build"})");
    ASSERT_GE(e.wait_log("error", "Build failed. Exit status: 768", 30000), 0) << r.script;
#ifndef VESK_SANITIZE  // the sanitizer's quarantine holds freed memory back
    EXPECT_LT(p.peak_memory_kib(), before + (8u << 10)) << r.script;  // a whole line would be 12 MiB
#endif
    size_t next = 0, kept = 0, dropped = 0;
    for (const std::string& s : entries(e)) {
      if (next < r.want.size() && s.rfind(r.want[next], 0) == 0) ++next;
      if (s.rfind("console|a console line", 0) == 0) ++kept;
      if (s.rfind("warn|Too much build output: ", 0) == 0) dropped += std::stoul(s.substr(28));
    }
    EXPECT_EQ(next, r.want.size()) << r.script;
    EXPECT_EQ(kept + dropped, r.lines) << r.script;
  }
}

TEST(ProgramBuild, FailureStatusesAndKill) {
  struct row {
    const char* script;
    bool kill;
    std::vector<std::string> want;  // error lines after the build started
  };
  const std::vector<row> rows = {
      {"exit 0", false, {}},
      {"exit 1", false, {"error|Build failed. Exit status: 256"}},
      {"kill -SEGV $$", false, {"error|Build failed. Exit status: 11", "error|May be a segmentation fault."}},
      {"echo started; exec sleep 30", true, {}},
  };
  for (const row& r : rows) {
    program p;
    p.stub_cli(r.script);
    ASSERT_TRUE(p.start_running()) << p.out();
    editor e(p.gui_port);
    ASSERT_TRUE(e.answers());
    const size_t from = e.seen.size();
    e.send(R"({"cmd":"build"})");
    if (r.kill) {
      ASSERT_GE(e.wait_cmd("log", "started"), 0) << r.script;
      e.send(R"({"cmd":"kill_build"})");
    }
    // The build state returns to 0 once the child is gone.
    bool running = false;
    ASSERT_GE(e.wait_for([&](vesk::json& m) {
      if (m["cmd"] != "backend_state") return false;
      if (m["state"]["build_state"].get_double() == 1) running = true;
      return running && m["state"]["build_state"].get_double() == 0;
    }, 10000, from), 0) << r.script;
    std::vector<std::string> errors;
    for (const std::string& s : entries(e, from)) {
      if (s.rfind("error|", 0) == 0) errors.push_back(s);
    }
    EXPECT_EQ(errors, r.want) << r.script;
  }
}

TEST(ProgramBuild, InvalidUtf8IsReplacedInLogEntries) {
  program p;
  p.stub_cli("printf 'i: caf\\351 \\303\\251\\n\\377console\\n'");
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  ASSERT_TRUE(e.answers());
  e.send(R"({"cmd":"build"})");
  EXPECT_GE(e.wait_cmd("log", "caf\xef\xbf\xbd \xc3\xa9"), 0);
  EXPECT_GE(e.wait_cmd("log", "\xef\xbf\xbd" "console"), 0);
  EXPECT_TRUE(e.answers());
}

TEST(ProgramBuild, StopSignalsEndTheProgramAndEveryChild) {
  // A run that ignores SIGTERM: the build tool, and the model it started in a group of its
  // own. Or a run that left a daemon in a session of its own. Stopped by a signal to the
  // program, or replaced by the next build (signal 0).
  const struct {
    int sig;
    bool deaf;
    bool daemon;
  } rows[] = {{SIGHUP, false, false}, {SIGINT, false, false}, {SIGQUIT, false, false}, {SIGTERM, false, false},
              {SIGINT, true, false},  {0, true, false},      {SIGTERM, false, true}, {0, false, true}};
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.sig) + (r.deaf ? " deaf" : "") + (r.daemon ? " daemon" : ""));
    program p;
    const fs::path pid_file = p.tmp.path / "child.pid";
    const std::string record = "echo $$ >> '" + pid_file.string() + "'\n";
    const std::string daemon = "setsid sh -c 'echo $$ >> \"" + pid_file.string() + "\"; exec sleep 30' &\n";
    p.stub_cli(r.deaf ? "trap '' TERM\n" + record + deaf_group(pid_file) + "\nwait"
                      : record + (r.daemon ? daemon : "") + "exec sleep 30");
    p.start_running({"--no-gui", "--start"});
    const size_t members = r.deaf || r.daemon ? 2 : 1;
    ASSERT_TRUE(eventually([&] { return pids_in(pid_file).size() == members; })) << p.out();
    const std::vector<pid_t> run = pids_in(pid_file);
    for (pid_t child : run) EXPECT_TRUE(runs(child));
    if (r.sig == 0) {
      editor e(p.gui_port);
      e.send(R"({"cmd":"build"})");
      EXPECT_TRUE(e.answers()) << "the editor waits while the old run is stopped";
      ASSERT_TRUE(eventually([&] { return pids_in(pid_file).size() == 2 * members; }));
      for (pid_t child : run) EXPECT_TRUE(eventually([&] { return !runs(child); }, 5000)) << child;
    }
    const std::vector<pid_t> all = pids_in(pid_file);
    EXPECT_EQ(p.stop(r.sig == 0 ? SIGINT : r.sig), 0);
    for (pid_t child : all) EXPECT_FALSE(runs(child)) << child << ": outlived the program";
  }
}

TEST(ProgramBuild, StandardOutputNeitherKillsNorStopsTheProgram) {
  // Standard output a file, a pipe whose reader has gone (a `tee` ended by Ctrl-C) and one
  // whose reader pauses (a pager): none kills the back end or makes it wait, and the stop
  // writes the editor's last change and ends the build.
  enum output { file, reader_gone, reader_paused };
  const struct {
    int sig;
    output out;
  } rows[] = {{SIGINT, file}, {SIGINT, reader_gone}, {SIGTERM, reader_paused}};
  for (const auto& r : rows) {
    program p;
    if (r.out != file) p.pipe_output();
    const fs::path pid_file = p.tmp.path / "child.pid";
    const fs::path view = p.tmp.put("my ws/demo/views/v.json", "A");
    // 2.4 MB of lines, more than a pipe and what may wait for its reader together; paced so
    // that each poll of the build keeps all it reads.
    p.stub_cli("echo $$ > '" + pid_file.string() + "'\nfor i in $(seq 40); do head -c 60000 /dev/zero | tr '\\0' x; "
               "echo; [ $((i % 5)) = 0 ] && sleep 0.2; done\nexec sleep 30");
    ASSERT_TRUE(p.start_running()) << p.out();
    editor e(p.gui_port);
    e.send(vesk::json{{"cmd", "open_file"}, {"file_name", view.string()}});
    ASSERT_TRUE(e.answers());
    if (r.out == reader_gone) p.close_output();
    // From here on a paused reader reads nothing.
    e.send(R"({"cmd":"nope"})");
    e.send(R"({"cmd":"build"})");
    ASSERT_TRUE(eventually([&] { return fs::exists(pid_file) && fs::file_size(pid_file) > 0; })) << r.sig;
    const pid_t child = std::stoi(slurp(pid_file));
    EXPECT_EQ(::kill(child, 0), 0);
    size_t lines = 0;  // all of them handled: more than may wait for a paused reader
    ASSERT_GE(e.wait_for([&](vesk::json& m) { return m["type"] == "console" && ++lines == 40; }), 0) << r.sig;
    if (r.out == reader_paused) {
      int full = 0;
      EXPECT_TRUE(eventually([&] { return ::ioctl(p.out_pipe, FIONREAD, &full) == 0 && full >= 60000; }));
      EXPECT_TRUE(e.answers());
      // Read again: what could not wait is counted.
      EXPECT_TRUE(eventually([&] { return p.out().find(" log lines were dropped from standard output") != std::string::npos; }));
    }
    e.send(vesk::json{{"cmd", "add_save_point"}, {"file_name", view.string()}, {"content", "B"}});
    ASSERT_TRUE(e.answers());
    EXPECT_EQ(p.stop(r.sig), 0) << r.sig;
    EXPECT_EQ(slurp(view), "B") << r.sig;
    EXPECT_TRUE(eventually([&] { return ::kill(child, 0) != 0; }, 5000)) << r.sig;
  }
}

TEST(ProgramBuild, VersionControlGuiStartsInTheProjectAndIsReplaced) {
  // The tool, or one that ignores SIGTERM with an app in a group of its own that does too.
  for (bool deaf : {false, true}) {
    SCOPED_TRACE(deaf ? "deaf" : "plain");
    program p;
    fs::create_directories(p.prj / ".git");
    const fs::path trace = p.tmp.path / "vcs.txt", helpers = p.tmp.path / "helpers.txt";
    const fs::path tool = p.tmp.path / "tools" / "fake vcs";
    // It writes more than a pipe holds first: only a reader lets it go on.
    p.script(tool, (deaf ? "trap '' TERM\n" + deaf_group(helpers) + "\n" : std::string()) +
                       "head -c 3000000 /dev/zero\necho \"$$ $(pwd)\" >> '" + trace.string() + "'\nexec sleep 30");
    p.tmp.put("home/.config/vesk/vesk.cfg", "{\"git_tool\":\"" + tool.string() + "\"}");
    ASSERT_TRUE(p.start_running()) << p.out();
    editor e(p.gui_port);
    e.send(R"({"cmd":"open_vcs_gui"})");
    ASSERT_TRUE(eventually([&] { return slurp(trace).find('\n') != std::string::npos; }));
    e.send(R"({"cmd":"open_vcs_gui"})");
    EXPECT_TRUE(e.answers()) << "the editor waits while the old tool is stopped";
    ASSERT_TRUE(eventually([&] {
      std::string t = slurp(trace);
      return std::count(t.begin(), t.end(), '\n') == 2;
    }));
    std::istringstream lines(slurp(trace));
    pid_t first = 0, second = 0;
    std::string dir1, dir2;
    lines >> first;
    lines.get();
    std::getline(lines, dir1);
    lines >> second;
    lines.get();
    std::getline(lines, dir2);
    EXPECT_EQ(dir1, p.prj.string());
    EXPECT_EQ(dir2, p.prj.string());
    // What the tool launched in a group of its own (a diff tool, an editor with unsaved
    // text) is the user's: it outlives the tool's replacement and the program.
    std::vector<pid_t> apps;
    if (deaf) {
      ASSERT_TRUE(eventually([&] { return pids_in(helpers).size() == 2; }));
      apps = pids_in(helpers);
    }
    EXPECT_TRUE(eventually([&] { return !runs(first); }, 5000)) << first;
    EXPECT_TRUE(runs(second)) << second;
    EXPECT_EQ(p.stop(), 0);
    EXPECT_FALSE(runs(second)) << second << ": outlived the program";
    for (pid_t app : apps) {
      EXPECT_TRUE(runs(app)) << app << ": the user's app was stopped";
      ::kill(app, SIGKILL);
    }
  }
}

TEST(ProgramBuild, NoVersionControlIsAnErrorLine) {
  program p;
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  e.send(R"({"cmd":"open_vcs_gui"})");
  EXPECT_GE(e.wait_cmd("log", "No version control system found."), 0);
}

TEST(ProgramBuild, TheEditorStandInPrintsAndItsEndStopsTheProgram) {
  program p;
  fs::create_directories(p.bin / "gui");
  fs::copy_file(fs::path(VESK_BINARY_DIR) / "bin" / "gui" / "vesk-gui", p.bin / "gui" / "vesk-gui");
  const fs::path printed = p.tmp.path / "gui.txt";
  ::setenv("VESK_GUI_OUTPUT", printed.c_str(), 1);
  p.start_running({});
  ::unsetenv("VESK_GUI_OUTPUT");
  ASSERT_TRUE(eventually([&] { return slurp(printed).find("[state] project demo (demo), build idle") !=
                                      std::string::npos; }))
      << slurp(printed) << p.out();
  EXPECT_TRUE(eventually([&] {
    return slurp(printed).find("[warn] No version control for your project found.") != std::string::npos;
  }));
  // The stand-in is the program's child: end it, and the program ends with status 0.
  const std::vector<pid_t> children = children_of(p.pid);
  ASSERT_EQ(children.size(), 1u);
  ::kill(children[0], SIGTERM);
  EXPECT_EQ(p.wait_end(), 0) << p.out();
  EXPECT_NE(p.out().find("info: GUI closed. Stopping vesk..."), std::string::npos);
}

}  // namespace
}  // namespace core_test
