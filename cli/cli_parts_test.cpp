// The pieces of vesk-cli that decide bytes on their own: output lines, quoting, names,
// the header search and the folder mirror.

#include <iostream>
#include <list>

#include <gtest/gtest.h>

#include "cli/build_dir_sync.h"
#include "cli/build_driver.h"
#include "cli/cli_output.h"
#include "cli/file_write.h"
#include "cli/runtime_scripts.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"
#include "foundation/test_util.h"

namespace {

namespace fs = std::filesystem;

/// What std::cout received while `f` ran.
template <class F>
std::string captured_stdout(F f) {
  std::stringstream s;
  std::streambuf* old = std::cout.rdbuf(s.rdbuf());
  f();
  std::cout.rdbuf(old);
  return s.str();
}

TEST(CliParts, LogMessagesBecomePrefixedLines) {
  struct row {
    log_stream* stream;
    std::string written;  // text written before std::endl
    std::string out;
  } rows[] = {
      {&log_debug, "finished", "d: finished\n"},
      {&log_info, "Build model...", "i: Build model...\n"},
      {&log_warn, "a\nb", "w: a\nb\n"},  // only the first line is prefixed
      {&log_err, "", "e: \n\n"},  // the line end alone is the message
      {&log_err, "x\n", "e: x\n\n"},
      {&log_info, "\n", "i: \n\n"},
      {&log_info, std::string("nul\0byte", 8), std::string("i: nul\0byte\n", 12)},
  };
  std::vector<log_stream::sink_fn> saved = {log_debug.sink, log_info.sink, log_warn.sink, log_err.sink};
  vesk::install_cli_sinks();
  for (const row& r : rows) {
    EXPECT_EQ(r.out, captured_stdout([&] { *r.stream << r.written << std::endl; }));
  }
  EXPECT_EQ("e: \n", captured_stdout([] { log_err << std::flush; }));  // an empty message
  EXPECT_EQ("i: Build model...\n", captured_stdout([] { log_printf(log_info, "Build model..."); }));
  EXPECT_EQ("j: {\"cmd\":\"set_text_left\",\"name\":\"a\\nb\",\"text\":\"Loop\"}\n", captured_stdout([] {
              vesk::print_json_message(vesk::json::parse(R"({"cmd":"set_text_left","name":"a\nb","text":"Loop"})"));
            }));
  log_debug.sink = saved[0];
  log_info.sink = saved[1];
  log_warn.sink = saved[2];
  log_err.sink = saved[3];
}

TEST(CliParts, QuotingForTheReaderAndTheShell) {
  struct row {
    std::string text, quoted_path, shell_word;
  } rows[] = {
      {"p.vcfg", "\"p.vcfg\"", "'p.vcfg'"},
      {"", "\"\"", "''"},
      {"a\"b\\c", "\"a\\\"b\\\\c\"", "'a\"b\\c'"},
      {"it's", "\"it's\"", "'it'\\''s'"},
      {"$HOME `x` ;|&", "\"$HOME `x` ;|&\"", "'$HOME `x` ;|&'"},
  };
  for (const row& r : rows) {
    EXPECT_EQ(r.quoted_path, vesk::quote_path(r.text)) << r.text;
    EXPECT_EQ(r.shell_word, vesk::shell_quote(r.text)) << r.text;
  }
  EXPECT_EQ("cd '/p/build-demo-linux' && exec ./build", vesk::script_command("/p/build-demo-linux", "build"));
  EXPECT_EQ("cd '/a b/it'\\''s' && exec ./start", vesk::script_command("/a b/it's", "start"));
}

TEST(CliParts, NamesAndPaths) {
  struct name_row {
    std::string name;
    bool plain;
  } names[] = {{"linux", true}, {"sim-2_x", true}, {"", false}, {"..", false},
               {"a/b", false},  {"x y", false},     {"ü", false}, {"a;b", false}};
  for (const name_row& r : names) EXPECT_EQ(r.plain, vesk::is_plain_runtime_name(r.name)) << r.name;

  const fs::path cwd = fs::current_path();
  EXPECT_EQ(cwd, vesk::project_folder_of("p.vcfg"));
  EXPECT_EQ(cwd, vesk::project_folder_of("./p.vcfg"));
  EXPECT_EQ(cwd / "a", vesk::project_folder_of("a/b/../p.vcfg"));
  EXPECT_EQ(fs::path("/w/p"), vesk::project_folder_of("/w/p/./p.vcfg"));
  EXPECT_EQ(fs::path("/w/p/build-demo-linux"), vesk::build_dir_of("/w/p", "demo", "linux"));
}

TEST(CliParts, CompileInformationEntries) {
  struct row {
    std::string entry;
    std::list<std::string> projects;
  } rows[] = {{"ws/demo/nodes/a.h", {"demo"}}, {"ws/solo", {"solo"}}, {"ws/", {""}},
              {"model/model.h", {}},           {"/usr/include/ws/x.h", {}}};
  for (const row& r : rows) {
    std::list<std::string> got;
    vesk::collect_ws_name(got, r.entry);
    EXPECT_EQ(r.projects, got) << r.entry;
  }

  const fs::path build = "/p/build-d-l";
  struct listed_row {
    std::string sources;
    std::string path;
    bool listed;
  } listed[] = {
      {R"(["ws/d/nodes/a.cpp","model/model.cpp"])", "/p/build-d-l/ws/d/nodes/a.cpp", true},
      {R"(["ws/d/nodes/a.cpp"])", "/p/build-d-l/ws/d/nodes/b.cpp", false},
      {R"({"x":"ws/d/nodes/a.cpp"})", "/p/build-d-l/ws/d/nodes/a.cpp", true},
      {R"("ws/d/nodes/a.cpp")", "/p/build-d-l/ws/d/nodes/a.cpp", false},
      {"null", "/p/build-d-l/", false},
  };
  for (const listed_row& r : listed) {
    vesk::json info = vesk::json::parse("{\"sources\":" + r.sources + "}");
    EXPECT_EQ(r.listed, vesk::is_listed_source(vesk::ws_sync_context{info, build}, r.path)) << r.sources;
  }
}

TEST(CliParts, FindFilesMatchesWholePathsAndEndsOnCycles) {
  temp_dir t;
  for (const char* f : {"n/a.h", "n/a.hpp", "n/a.H", "n/a.h.txt", "n/sub/b.h", "n/sub/deep/c.h", "nh"}) t.put(f);
  fs::create_directory_symlink("..", t.path / "n" / "sub" / "up");  // a cycle
  std::vector<std::string> found = vesk::find_files((t.path / "n").string(), "*.h");
  std::sort(found.begin(), found.end());
  const std::string n = (t.path / "n").string();
  const std::vector<std::string> expected = {n + "/a.h", n + "/sub/b.h", n + "/sub/deep/c.h"};
  EXPECT_EQ(expected, found);
  // A file as base searches its folder.
  EXPECT_EQ(3u, vesk::find_files(n + "/a.h", "*.h").size());
}

TEST(CliParts, NodeCatalogStopsAtTheBoundOverAllHeaders) {
  // Projects p1, p2, p3 describe 1, 2 and 1 nodes. The first header past the bound gets
  // the one "e: " line; it and every header after it are left out, also one that fits.
  const char* one = "//@node: class\nclass k {\n public:\n  //@tick: step()\n  void step();\n};\n";
  temp_dir t;
  const fs::path a = t.put("p1/nodes/a.h", one), b = t.put("p2/nodes/b.h", std::string("//@node: function\nvoid f();\n") + one),
                 c = t.put("p3/nodes/c.h", one);
  const std::tuple<size_t, std::string, fs::path> rows[] = {{4, "f p1 p2 p3", ""}, {3, "f p1 p2", c}, {2, " p1", b}, {0, "", a}};
  const std::vector<log_stream::sink_fn> saved = {log_debug.sink, log_info.sink, log_warn.sink, log_err.sink};
  vesk::install_cli_sinks();
  for (const auto& [nodes, kept, left_out] : rows) {
    vesk::node_catalog catalog;
    vesk::header_error_lines errors, expected;
    const vesk::annotations::parse_budget limit{nodes, 1 << 20, 1 << 30, false};
    const std::string out = captured_stdout([&] { vesk::collect_node_catalog(t.path, catalog, &errors, limit); });
    std::string names = std::string(catalog.functions.size(), 'f');  // then the classes' projects
    for (const auto& k : catalog.classes) names += " " + k.project;
    EXPECT_EQ(kept, names) << nodes;
    if (!left_out.empty()) expected[left_out.string()] = 1;
    EXPECT_EQ(expected, errors);
    EXPECT_EQ(left_out.empty() ? "" : "e: " + left_out.string() + ": The node descriptions of all node sources exceed the limit of " +
                                          std::to_string(nodes) + " nodes; the nodes of this file and of the files after it are left out.\n",
              out);
  }
  std::tie(log_debug.sink, log_info.sink, log_warn.sink, log_err.sink) = std::tie(saved[0], saved[1], saved[2], saved[3]);
}

TEST(CliParts, MirrorAddsAndRefreshesOnly) {
  temp_dir t;
  const fs::path src = t.path / "rt", dst = t.path / "build";
  t.put("rt/build", "b");
  t.put("rt/was_dir", "now a file");
  t.put("rt/was_file/inner.txt", "now a folder");
  t.put("rt/older.txt", "old");
  t.put("rt/sub/x.cpp", "x");
  fs::create_symlink("sub/x.cpp", src / "link");
  fs::create_directory_symlink("sub", src / "dirlink");
  t.put("build/was_dir/junk/j.txt", "j");
  t.put("build/was_file", "f");
  t.put("build/older.txt", "newer copy");
  t.put("build/only_here.txt", "stays");
  fs::create_symlink("elsewhere", dst / "link");
  shift_write_time(src / "older.txt", -3600);

  vesk::sync_directory(src.string(), dst.string());
  EXPECT_EQ("b", read_file((dst / "build").string()));
  EXPECT_EQ("now a file", read_file((dst / "was_dir").string()));
  EXPECT_EQ("now a folder", read_file((dst / "was_file" / "inner.txt").string()));
  EXPECT_EQ("old", read_file((dst / "older.txt").string()));  // an older source that differs counts
  EXPECT_EQ("stays", read_file((dst / "only_here.txt").string()));
  EXPECT_EQ("x", read_file((dst / "sub" / "x.cpp").string()));
  EXPECT_EQ(fs::path("sub/x.cpp"), fs::read_symlink(dst / "link"));  // relative links stay relative
  EXPECT_TRUE(fs::is_symlink(dst / "dirlink"));
  EXPECT_FALSE(fs::exists(dst / "dirlink" / "dirlink"));

  // Another time with the same bytes leaves the copy alone; the listing sees each folder once.
  const auto copied = fs::last_write_time(dst / "older.txt");
  shift_write_time(src / "older.txt", 7200);
  vesk::sync_directory(src.string(), dst.string());
  EXPECT_EQ(copied, fs::last_write_time(dst / "older.txt"));
  const vesk::dir_listing l = vesk::list_dir(src.string());
  EXPECT_EQ(3u, l.dirs.size());
  EXPECT_EQ(5u, l.files.size());
  EXPECT_EQ(2u, l.symlinks.size());
}

TEST(CliParts, WritesReportFailureAndSkipEqualText) {
  temp_dir t;
  const fs::path f = t.path / "model.h";
  EXPECT_TRUE(vesk::write_if_changed(f, "a"));
  shift_write_time(f, -60);
  const auto time = fs::last_write_time(f);
  EXPECT_FALSE(vesk::write_if_changed(f, "a"));
  EXPECT_EQ(time, fs::last_write_time(f));
  EXPECT_TRUE(vesk::write_if_changed(f, "b"));
  EXPECT_EQ("b", read_file(f.string()));
  expect_throw_what<vesk::util::bt_exception>([&] { vesk::write_text_file(t.path / "no" / "x", "a"); },
                                              "Unable to write file: " + (t.path / "no" / "x").string());
  EXPECT_EQ(1, std::distance(fs::directory_iterator(t.path), fs::directory_iterator()));  // no temporary left
}

}  // namespace
