// vesk-cli as its callers see it: the real program, run in throw-away workspaces with
// their own HOME; statuses, output lines and the files of the build directory.

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

#include <gtest/gtest.h>

#include "cli/cli_output.h"
#include "cli/cli_test_util.h"
#include "cli/script_process.h"
#include "foundation/helpers.h"

namespace {

using cli_test::lines_with;
using cli_test::workspace;
namespace fs = std::filesystem;

const std::string usage = std::string(vesk::usage_text) + "\n";

TEST(CliProgram, CommandLineWithoutABuild) {
  struct row {
    std::vector<std::string> args;
    std::string out;
    int status;
    std::string err = "";
  } rows[] = {
      {{}, usage, 0},
      {{"-b", "-h", "demo.vcfg"}, usage, 0},
      {{"--help"}, usage, 0},
      // The path is always the last argument, an option included.
      {{"demo.vcfg", "-b"}, "modelfile \"-b\" does not exist\n", 255},
      {{"missing.vcfg"}, "modelfile \"missing.vcfg\" does not exist\n", 255},
      {{"-s", "a\"b\\c.vcfg"}, "modelfile \"a\\\"b\\\\c.vcfg\" does not exist\n", 255},
      // A mistyped option is no path and is not skipped: nothing runs.
      {{"--bild", "demo.vcfg"}, "", 2, "vesk-cli: unknown option \"--bild\"\n" + usage},
      {{"-x", "-h", "demo.vcfg"}, "", 2, "vesk-cli: unknown option \"-x\"\n" + usage},
      {{"-x"}, "", 2, "vesk-cli: unknown option \"-x\"\n" + usage},
      {{"-b", "."}, "i: Build model...\ne: An exception occured: '.' is a folder; give the project's .vcfg file instead\n", 1},
  };
  workspace w;
  for (const row& r : rows) {
    const auto res = w.run(r.args, w.project);
    EXPECT_EQ(r.out, res.out) << ::testing::PrintToString(r.args);
    EXPECT_EQ(r.status, res.status) << ::testing::PrintToString(r.args);
    EXPECT_EQ(r.err, res.err);
    EXPECT_FALSE(fs::exists(w.build_dir));
    EXPECT_FALSE(fs::exists(w.home / ".config")) << ::testing::PrintToString(r.args);
  }
}

TEST(CliProgram, OptionsChooseTheSteps) {
  struct row {
    std::vector<std::string> opts;
    int build_exit;  // status of the runtime's build script
    std::string trace;
    int status;
  } rows[] = {
      {{}, 0, "build\nstart\n", 0},
      {{"-b", "-s"}, 0, "build\nstart\n", 0},
      {{"-s", "--build"}, 0, "build\nstart\n", 0},
      {{"-b"}, 0, "build\n", 0},
      {{"--start"}, 0, "start\n", 0},
      {{}, 3, "build\n", 255},
      // Without checks both steps run and the status is 0 whatever they gave.
      {{"-nt", "-b"}, 3, "build\nstart\n", 0},
      {{"--no-try", "-s"}, 0, "build\nstart\n", 0},
  };
  for (const row& r : rows) {
    workspace w;
    w.script("ws/rt_sim/build", "echo build >> " + vesk::shell_quote(w.trace.string()) + "\nexit " +
                                    std::to_string(r.build_exit));
    if (r.opts == std::vector<std::string>{"--start"}) {
      // A start alone needs the directory of an earlier build.
      ASSERT_EQ(0, w.run({"-b", w.vcfg.string()}).status);
      fs::remove(w.trace);
    }
    auto args = r.opts;
    args.push_back(w.vcfg.string());
    const auto res = w.run(args);
    const std::string what = ::testing::PrintToString(r.opts) + "\n" + res.out;
    EXPECT_EQ(r.trace, w.trace_text()) << what;
    EXPECT_EQ(r.status, res.status) << what;
    EXPECT_EQ("", res.err) << what;
  }
}

TEST(CliProgram, OutputLinesOfABuildAndStart) {
  workspace w;
  const auto res = w.run({w.vcfg.string()});
  ASSERT_EQ(0, res.status) << res.out;
  // Every line is prefixed, except what the scripts print themselves.
  std::istringstream in(res.out);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) {
    if (l.compare(0, 3, "d: ") != 0) lines.push_back(l);
  }
  // The working folder's runtimes folder is the user's own: taken, and named.
  const std::vector<std::string> expected = {
      "i: Build model...", "i: Runtimes are taken from the working folder: " + w.cwd.string() + "/runtimes",
      "i: Start compiling...", "i: Updating build-directory...", "i: Build runtime...",
      "built",             "i: Start runtime...",   "started"};
  EXPECT_EQ(expected, lines);
  EXPECT_TRUE(lines_with(res.out, "j: ").empty());
}

TEST(CliProgram, FailuresAndTheirStatus) {
  const std::string refusal = "Runtimes can only have names characters a-z, A-Z, '-' or '_'. Error occured for runtime ";
  struct row {
    const char* name;
    std::string config;  // project configuration; empty: the default one
    std::string setup;   // what else to do, by keyword
    std::vector<std::string> errors;
    int status;
    bool build_dir_made;
    std::vector<std::string> warnings = {};
  } rows[] = {
      {"no model", R"({"model":"","runtime":"sim"})", "",
       {"e: No model to execute selected in your project configuration. in {tmp}/ws/demo/demo.vcfg"}, 1, false},
      {"missing model", R"({"model":"nope","runtime":"sim"})", "",
       {"e: The selected modelfile 'nope' does not exist. Select another model to execute in your configuration. in "
        "{tmp}/ws/demo/demo.vcfg"},
       1, false},
      {"unknown runtime", R"({"model":"m","runtime":"other"})", "",
       {"e: Selected runtime 'other' does not exists. in {tmp}/ws/demo/demo.vcfg"}, 255, false},
      {"runtime name with a path", R"({"model":"m","runtime":"../rt_sim"})", "",
       {"e: Selected runtime '../rt_sim' does not exists. in {tmp}/ws/demo/demo.vcfg"}, 255, false},
      {"failing build script", "", "build exits 2", {"e: Error compiling model..."}, 255, true},
      {"failing start script", "", "start exits 2", {"e: Error running model... Return code: 512"}, 255, true},
      // An exception is a failure: the caller must see it as one.
      {"exception", R"({"model":"m","runtime":"bad name"})", "bad runtime folder",
       {"e: An exception occured: Runtimes can only have names characters a-z, A-Z, '-' or '_'. Error occured "
        "for runtime bad name"},
       1, false, {"w: Runtime folder '{tmp}/ws/rt_bad name' is skipped: " + refusal + "bad name"}},
      // A folder the project does not select only costs a warning.
      {"stray runtime folder", "", "stray runtime folder", {}, 0, true,
       {"w: Runtime folder '{tmp}/ws/rt_old.bak' is skipped: " + refusal + "old.bak"}},
      {"raster typo", "", "raster typo", {}, 0, true,
       {"w: Raster 'r100sm' of block a is read as r100s: the characters after its unit are ignored in block 'a' of "
        "model file {tmp}/ws/demo/models/m.vmdl"}},
      {"empty runtime name", R"({"model":"m","runtime":""})", "empty runtime",
       {"e: The selected runtime in your project configuration does not exist. in {tmp}/ws/demo/demo.vcfg"}, 1, false},
      // Neither the working folder nor the program's folder has one ({tmp} the temporary folder).
      {"no runtimes folder", "", "no runtimes folder",
       {"e: An exception occured: No runtimes folder: {tmp}/cwd/runtimes does not exist, nor does {tmp}/bin/runtimes, "
        "nor does /opt/vesk/runtimes. It must hold one folder per runtime (such as \"linux\"), each with the "
        "scripts \"build\" and \"start\"."},
       1, false},
  };
  for (const row& r : rows) {
    workspace w;
    if (!r.config.empty()) w.config(r.config);
    const std::string setup = r.setup;
    if (setup == "build exits 2") w.script("ws/rt_sim/build", "exit 2");
    if (setup == "start exits 2") w.script("ws/rt_sim/start", "exit 2");
    if (setup == "bad runtime folder") fs::create_directories(w.ws / "rt_bad name");
    if (setup == "empty runtime") fs::create_directories(w.ws / "rt_");
    if (setup == "stray runtime folder") fs::create_directories(w.ws / "rt_old.bak");
    if (setup == "raster typo") w.model({cli_test::counter_block("a", "r100sm")});
    if (setup == "no runtimes folder") {
      fs::remove_all(w.cwd / "runtimes");
      w.exe = w.tmp.path / "bin" / "vesk-cli";
      fs::create_directories(w.exe.parent_path());
      fs::copy_file(cli_test::program(), w.exe);
    }
    const auto res = w.run({w.vcfg.string()});
    std::vector<std::string> errors;
    for (const std::string& e : r.errors) errors.push_back(replace_all(e, "{tmp}", w.tmp.path.string()));
    EXPECT_EQ(errors, lines_with(res.out, "e: ")) << r.name << "\n" << res.out;
    std::vector<std::string> warnings;
    for (const std::string& e : r.warnings) warnings.push_back(replace_all(e, "{tmp}", w.tmp.path.string()));
    EXPECT_EQ(warnings, lines_with(res.out, "w: ")) << r.name;
    if (setup == "raster typo") {
      EXPECT_TRUE(fs::exists(w.build_dir / "model" / "r100s.h"));
    }
    EXPECT_EQ(r.status, res.status) << r.name;
    EXPECT_EQ(r.build_dir_made, fs::exists(w.build_dir)) << r.name;
    EXPECT_FALSE(fs::exists(w.project / "build-demo-../rt_sim")) << r.name;
  }
}

TEST(CliProgram, BadInputFailsTheRun) {
  const std::string broken = R"({"model":"m" "runtime":"sim"})";
  const std::string reference =
      R"({"nodes":[{"name":"r","type":"base","cfg":{"node":"reference","prj":"demo","mdl":"sub"}}]})";
  const std::string bad_header = std::string(cli_test::counter_header) + "/* @ouptut: y */\n";
  const std::string twice = "{\"nodes\":[" + cli_test::counter_block("a", "r10ms") + "," +
                            cli_test::counter_block("a", "r1ms") + "]}";
  // "counter__sum" beside a subsystem "counter" holding "sum": the editor shows both as counter.sum.
  const std::string clash = "{\"nodes\":[" + cli_test::counter_block("counter__sum", "r10ms") +
                            R"(,{"name":"counter","type":"base","cfg":{"node":"subsystem","nodes":[)" +
                            cli_test::counter_block("sum", "r10ms") + "]}}]}";
  const auto model_of = [](const std::string& block) { return "{\"nodes\":[" + block + "]}"; };
  const std::string typo = model_of(R"({"name":"e","type":"expresion","cfg":{}})");
  const std::string inner_typo =
      model_of(R"({"name":"s","type":"base","cfg":{"node":"subsystem","nodes":[{"name":"e","type":"expresion"}]}})");
  const std::string bad_cfg = model_of(R"({"name":"a","type":"class","cfg":[1]})");
  const std::string bad_name = model_of(cli_test::counter_block("a", "r10ms") + R"(,{"name":{},"type":"class"})");
  struct row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // below the workspace
    std::vector<std::string> opts;
    std::string error;  // the last "e: " line; "{ws}" stands for the workspace folder
    int status;
    std::string trace;  // which scripts ran
  } rows[] = {
      {"configuration", {{"demo/demo.vcfg", broken}}, {},
       "An exception occured: {ws}/demo/demo.vcfg:1:14: syntax error in JSON text", 1, ""},
      {"configuration, start only", {{"demo/demo.vcfg", broken}}, {"-s"},
       "An exception occured: {ws}/demo/demo.vcfg:1:14: syntax error in JSON text", 1, ""},
      // Without checks an exception ends the run as it does with them.
      {"configuration, no try", {{"demo/demo.vcfg", broken}}, {"-nt", "-b"},
       "An exception occured: {ws}/demo/demo.vcfg:1:14: syntax error in JSON text", 1, ""},
      {"model, no try", {{"demo/models/m.vmdl", "{\"nodes\":[]\n,\"x\":1 2}"}}, {"--no-try"},
       "An exception occured: {ws}/demo/models/m.vmdl:2:8: syntax error in JSON text", 1, ""},
      {"block type, no try", {{"demo/models/m.vmdl", typo}}, {"-nt", "-s", "-go"},
       "An exception occured: generator 'expresion' not found (key \"type\") in block 'e' of model file "
       "{ws}/demo/models/m.vmdl", 1, ""},
      {"model", {{"demo/models/m.vmdl", "{\"nodes\":[]\n,\"x\":1 2}"}}, {},
       "An exception occured: {ws}/demo/models/m.vmdl:2:8: syntax error in JSON text", 1, ""},
      {"model number", {{"demo/models/m.vmdl", R"({"nodes":-})"}}, {},
       "An exception occured: {ws}/demo/models/m.vmdl: malformed number in JSON text", 1, ""},
      // An empty model would replace the last program by an empty one.
      {"empty model", {{"demo/models/m.vmdl", ""}}, {},
       "An exception occured: {ws}/demo/models/m.vmdl: holds no JSON value", 1, ""},
      {"blank model", {{"demo/models/m.vmdl", " \n\t\r\n"}}, {},
       "An exception occured: {ws}/demo/models/m.vmdl: holds no JSON value", 1, ""},
      // Block faults name the block, its file and the key.
      {"block type", {{"demo/models/m.vmdl", typo}}, {},
       "An exception occured: generator 'expresion' not found (key \"type\") in block 'e' of model file "
       "{ws}/demo/models/m.vmdl", 1, ""},
      {"block type in a subsystem", {{"demo/models/m.vmdl", inner_typo}}, {},
       "An exception occured: generator 'expresion' not found (key \"type\") in block 'e' of subsystem 's' of "
       "model file {ws}/demo/models/m.vmdl", 1, ""},
      {"block cfg", {{"demo/models/m.vmdl", bad_cfg}}, {},
       "An exception occured: Value [1] of key \"cfg\" in block 'a' of model file {ws}/demo/models/m.vmdl is "
       "an array, expected an object or null", 1, ""},
      {"block name", {{"demo/models/m.vmdl", bad_name}}, {},
       "An exception occured: Value {} of key \"name\" in block 2 of model file {ws}/demo/models/m.vmdl is an "
       "object, expected a text", 1, ""},
      {"referenced model", {{"demo/models/m.vmdl", reference}, {"demo/models/sub.vmdl", broken}}, {},
       "An exception occured: {ws}/demo/models/sub.vmdl:1:14: syntax error in JSON text", 1, ""},
      // A compile error ends the run with the build step's own status.
      {"two blocks of one name", {{"demo/models/m.vmdl", twice}}, {},
       "Duplicate block name 'a' in model file {ws}/demo/models/m.vmdl", 255, ""},
      {"inner block named like a top-level block", {{"demo/models/m.vmdl", clash}}, {},
       "Duplicate block name 'counter__sum' after subsystem expansion: block 'counter__sum' in model file "
       "{ws}/demo/models/m.vmdl and block 'sum' in subsystem 'counter' of model file {ws}/demo/models/m.vmdl",
       255, ""},
      {"start before any build", {}, {"-s"},
       "The build directory '{ws}/demo/build-demo-sim' does not exist. Build the project first (vesk-cli -b).", 255,
       ""},
      // A fault the build goes on after still fails the run, unless results are ignored.
      {"node annotation", {{"demo/nodes/counter.h", bad_header}}, {},
       "{ws}/demo/nodes/counter.h:9 unknown annotation: ouptut", 1, "build\nstart\n"},
      {"node annotation, no try", {{"demo/nodes/counter.h", bad_header}}, {"-nt"},
       "{ws}/demo/nodes/counter.h:9 unknown annotation: ouptut", 0, "build\nstart\n"},
      // Another project's broken source is reported, but fails only the builds that use it.
      {"node annotation in a source the model does not use", {{"broken/nodes/bad.h", bad_header}}, {},
       "{ws}/broken/nodes/bad.h:9 unknown annotation: ouptut", 0, "build\nstart\n"},
  };
  for (const row& r : rows) {
    workspace w;
    for (const auto& [rel, text] : r.files) w.put("ws/" + rel, text);
    auto args = r.opts;
    args.push_back(w.vcfg.string());
    const auto res = w.run(args);
    std::vector<std::string> errors = lines_with(res.out, "e: ");
    ASSERT_FALSE(errors.empty()) << r.name << "\n" << res.out;
    EXPECT_EQ("e: " + replace_all(r.error, "{ws}", w.ws.string()), errors.back()) << r.name << "\n" << res.out;
    // The parser's own reports come first, unchanged; a block's view read from the same
    // file names it too, and the block that reads it.
    const std::string named = replace_all(errors.back(), "e: An exception occured: ", "e: ");
    errors.pop_back();
    for (const std::string& e : errors)
      EXPECT_TRUE(e.rfind("e: json_parse_error", 0) == 0 || e == named || e.rfind(named + " in block ", 0) == 0)
          << r.name << "\n" << e;  // or their count
    EXPECT_EQ(r.status, res.status) << r.name;
    EXPECT_EQ("", res.err) << r.name;
    EXPECT_EQ(r.trace, w.trace_text()) << r.name;
    EXPECT_EQ(!r.trace.empty(), fs::exists(w.build_dir / "model" / "model.h")) << r.name;
    // A fault found before the build leaves no build directory behind.
    EXPECT_EQ(!r.trace.empty(), fs::exists(w.build_dir)) << r.name;
  }
}

TEST(CliProgram, StartRefusesARuntimeNameThatIsNoPlainName) {
  workspace w;
  w.config(R"({"model":"m","runtime":"x; touch pwned"})");
  const auto res = w.run({"-s", w.vcfg.string()});
  EXPECT_EQ(std::vector<std::string>{"e: Selected runtime 'x; touch pwned' does not exists. in " + w.vcfg.string()},
            lines_with(res.out, "e: "));
  EXPECT_EQ(255, res.status);
  EXPECT_FALSE(fs::exists(w.cwd / "pwned"));
}

TEST(CliProgram, ModelFaultKeepsThePreviousBuild) {
  workspace w;
  ASSERT_EQ(0, w.run({"-b", w.vcfg.string()}).status);
  const fs::path header = w.build_dir / "model" / "model.h";
  const std::string before = read_file(header.string());
  // A block whose class no node source declares is a model fault.
  w.model({cli_test::counter_block("a", "r10ms"), cli_test::counter_block("z", "r1s", "nothing")});
  const auto res = w.run({"-b", "-go", w.vcfg.string()});
  EXPECT_EQ(255, res.status) << res.out;
  EXPECT_FALSE(lines_with(res.out, "e: Node z has an error").empty()) << res.out;
  EXPECT_EQ(std::vector<std::string>{R"(j: {"cmd":"mdl_error","node":"z"})"}, lines_with(res.out, "j: {\"cmd\":\"mdl"));
  EXPECT_EQ(before, read_file(header.string()));
  EXPECT_FALSE(fs::exists(w.build_dir / "model" / "r1s.h"));
}

TEST(CliProgram, RelativeConfigurationPathsFindTheProject) {
  for (const char* arg : {"demo.vcfg", "./demo.vcfg", "../demo/demo.vcfg"}) {
    workspace w;
    // Run inside the project folder, which then also holds the global folders.
    fs::create_directories(w.project / "runtimes");
    fs::create_directories(w.project / "shared");
    const auto res = w.run({"-b", arg}, w.project);
    EXPECT_EQ(0, res.status) << arg << "\n" << res.out;
    EXPECT_TRUE(fs::exists(w.build_dir / "model" / "model.h")) << arg;
    // The workspace is the project's parent, so its node sources were found and copied.
    EXPECT_TRUE(fs::exists(w.build_dir / "ws" / "demo" / "nodes" / "counter.h")) << arg;
  }
}

TEST(CliProgram, ScriptsRunInsideTheBuildDirectoryOnly) {
  workspace w;
  // A project folder whose path the shell would split or unquote.
  const fs::path odd = w.ws / "it's a $HOME dir";
  fs::create_directories(odd / "models");
  fs::copy_file(w.project / "models" / "m.vmdl", odd / "models" / "m.vmdl");
  w.put("ws/it's a $HOME dir/demo.vcfg", R"({"model":"m","runtime":"sim"})");
  w.script("ws/rt_sim/build", "pwd > " + vesk::shell_quote(w.trace.string()));
  auto res = w.run({"-b", (odd / "demo.vcfg").string()});
  ASSERT_EQ(0, res.status) << res.out;
  EXPECT_EQ((odd / "build-demo-sim").string() + "\n", w.trace_text());

  // Starting before any build: the folder is missing, and a start script in the working
  // folder must not run in its place.
  workspace fresh;
  fresh.script("cwd/start", "touch ran");
  res = fresh.run({"-s", fresh.vcfg.string()});
  EXPECT_EQ(255, res.status);
  EXPECT_FALSE(fs::exists(fresh.cwd / "ran"));
  EXPECT_EQ(1u, lines_with(res.out, "e: The build directory '").size()) << res.out;
}

TEST(CliProgram, StartAfterAFailedBuildSaysWhichProgramRuns) {
  {
    // A first build that fails leaves no program: the start says so and runs nothing.
    workspace w;
    w.script("ws/rt_sim/build", "exit 2");
    EXPECT_NE(0, w.run({"-b", w.vcfg.string()}).status);
    fs::remove(w.trace);
    const auto res = w.run({"-s", w.vcfg.string()});
    EXPECT_EQ(255, res.status);
    EXPECT_EQ(std::vector<std::string>{"e: No build of '" + w.build_dir.string() +
                                       "' has succeeded yet: there is no program to start. Build the project first "
                                       "(vesk-cli -b)."},
              lines_with(res.out, "e: ")) << res.out;
    EXPECT_EQ("", w.trace_text());
  }
  // How the second build fails, and how the start is asked for.
  const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
      {"build script", {"-s"}}, {"compile fault", {"--start"}}, {"build script", {"-nt", "-b"}}};
  for (const auto& [fault, start] : rows) {
    workspace w;
    ASSERT_EQ(0, w.run({"-b", w.vcfg.string()}).status);
    if (fault == "build script") w.script("ws/rt_sim/build", "exit 2");
    if (fault == "compile fault") w.model({cli_test::counter_block("a", "r10ms", "nothing")});
    EXPECT_NE(0, w.run({"-b", w.vcfg.string()}).status) << fault;
    auto args = start;
    args.push_back(w.vcfg.string());
    EXPECT_EQ(std::vector<std::string>{"w: The latest build of '" + w.build_dir.string() +
                                       "' failed: the program of the last successful build runs."},
              lines_with(w.run(args).out, "w: ")) << fault;
    // A good build again: no warning.
    w.script("ws/rt_sim/build", "exit 0");
    w.model({cli_test::counter_block("a", "r10ms")});
    ASSERT_EQ(0, w.run({"-b", w.vcfg.string()}).status) << fault;
    EXPECT_TRUE(lines_with(w.run({"-s", w.vcfg.string()}).out, "w: ").empty()) << fault;
  }
}

TEST(CliProgram, CompilerErrorsInGeneratedFilesNameTheirBlock) {
  if (std::system("command -v g++ >/dev/null 2>&1") != 0) GTEST_SKIP() << "g++ is not installed";
  workspace w;
  fs::remove_all(w.cwd / "shared");
  fs::copy(fs::path(VESK_SOURCE_DIR) / "shared", w.cwd / "shared", fs::copy_options::recursive);
  fs::copy(fs::path(VESK_SOURCE_DIR) / "runtimes" / "linux", w.cwd / "runtimes" / "linux",
           fs::copy_options::recursive);
  w.config(R"({"model":"m","runtime":"linux"})");
  // What only the C++ compiler finds: an expression cut short, a type misspelt.
  w.model({cli_test::counter_block("a", "r10ms"),
           R"({"name":"x","type":"expression","raster":"r10ms","cfg":{"function":"in_meas > "}})",
           R"({"name":"k","type":"base","cfg":{"node":"parameter","data_type":"dobule"}})"});
  const auto res = w.run({"-b", w.vcfg.string()});
  EXPECT_NE(0, res.status);
  const std::string of_m = "' of model file " + (w.project / "models" / "m.vmdl").string();
  for (const auto& [file, block] : {std::pair<std::string, std::string>{"model/r10ms.cpp:", "x"},
                                    {"model/parameters_and_shared_data.h:", "k"}}) {
    size_t traced = 0;
    for (const std::string& line : lines_with(replace_all(res.err, "model/./", "model/"), file))
      traced += line.find(": error: ") != std::string::npos && ends_with(line, " in block '" + block + of_m);
    EXPECT_GE(traced, 1u) << file << "\n" << res.err;
  }
}

TEST(CliProgram, TheBuildsLastLineWithoutItsEndIsTracedToo) {
  workspace w;
  // The compiler's message about the first line block 'a' wrote, as the stream's last text.
  w.script("ws/rt_sim/build",
           "first=$(sed -n '/\"model\\/r10ms.cpp\": \\[/,/^  \\]/s/^    \\[\\([0-9]*\\), .*block .a. of.*/\\1/p' "
           "block_lines.json | head -n 1)\n"
           "printf 'model/r10ms.cpp:%s:1: error: cut short' \"$first\" >&2\nexit 1");
  const auto res = w.run({"-b", w.vcfg.string()});
  EXPECT_NE(0, res.status);
  EXPECT_NE(res.err.find(": error: cut short in block 'a' of model file " +
                         (w.project / "models" / "m.vmdl").string()),
            std::string::npos)
      << res.err;
}

TEST(CliProgram, StopRequestsEndEveryProcessOfTheRun) {
  // Orphans of the run become ours, so that they can be reaped and seen gone.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  struct row {
    int sig;
    bool session;   // started as the back end starts it, leading a session of its own
    bool to_group;  // the signal goes to vesk-cli's group, not to vesk-cli alone
    std::string stop_line = "";  // the bundled runtime's model runs, and says why it stops
    bool recipe = false;         // its start script is the one runtime-folder.md gives for a script that goes on
  } rows[] = {
      // SIGINT stands for Ctrl-C, which reaches vesk-cli's group only: the script has its own.
      {SIGTERM, false, false}, {SIGINT, false, true}, {SIGHUP, false, false},
      // The back end's stops, and its SIGKILL after them.
      {SIGTERM, true, true}, {SIGKILL, true, true},
      // A closed terminal, a kill no program can catch (the kernel tells the model), and a
      // stop for vesk-cli alone: the model stops as on Ctrl-C.
      {SIGHUP, false, false, "vesk-model: stopping on SIGHUP"},
      {SIGKILL, false, false, "vesk-model: stopping on SIGTERM"},
      {SIGTERM, true, false, "vesk-model: stopping on SIGTERM"},
      // A start script that passes SIGTERM on: the model gets it twice, as one stop.
      {SIGTERM, false, false, "vesk-model: stopping on SIGTERM", true},
      {SIGKILL, false, false, "vesk-model: stopping on SIGTERM", true},
  };
  const std::string recipe = "#!/bin/sh\n./vesk-model config.json &\npid=$!\ntrap 'kill -TERM $pid' TERM\nwait $pid\n";
  const bool have_compiler = std::system("command -v g++ >/dev/null 2>&1") == 0;
  std::unique_ptr<workspace> built;  // the model's workspace, built once
  for (const row& r : rows) {
    const bool model = !r.stop_line.empty();
    if (model && !have_compiler) continue;
    if (model && !built) {
      built = std::make_unique<workspace>();
      fs::remove_all(built->cwd / "shared");
      fs::copy(fs::path(VESK_SOURCE_DIR) / "shared", built->cwd / "shared", fs::copy_options::recursive);
      fs::copy(fs::path(VESK_SOURCE_DIR) / "runtimes" / "linux", built->cwd / "runtimes" / "linux",
               fs::copy_options::recursive);
      built->config(R"({"model":"m","runtime":"linux","runtime_configs":{"linux":{"print_interval_ms":0}}})");
      // It takes its time to stop, as a model that saves what it did does.
      built->put("ws/demo/nodes/counter.h",
                 replace_all(replace_all(cli_test::counter_header, "};\n", "  void final() { usleep(300000); }\n};\n"),
                             "#pragma once\n", "#pragma once\n#include <unistd.h>\n"));
      ASSERT_EQ(0, built->run({"-b", built->vcfg.string()}).status);
    }
    workspace fresh;
    const workspace& w = model ? *built : fresh;
    if (model) {
      const fs::path start = w.project / "build-demo-linux" / "start";
      w.put(start.lexically_relative(w.tmp.path),
            r.recipe ? recipe : read_file((w.cwd / "runtimes" / "linux" / "start").string()));
      fs::permissions(start, fs::perms::owner_all);
    }
    const fs::path stopped = w.cwd / "stopped";
    fs::remove(stopped);
    // The script takes its time to stop: vesk-cli must wait for it.
    // (No child in the background: one that the signal reaches between its fork and its
    // exec would outlive it.)
    w.script("ws/rt_sim/start", "trap 'sleep 0.3; echo yes > " + vesk::shell_quote(stopped.string()) +
                                    "; exit 0' TERM INT HUP\necho running\nwhile :; do sleep 0.05; done\n"
                                    "echo not stopped");
    ASSERT_TRUE(model || w.run({"-b", w.vcfg.string()}).status == 0);
    fs::remove(w.trace);
    const auto q = [](const fs::path& p) { return vesk::shell_quote(p.string()); };
    const std::string cmd = "cd " + q(w.cwd) + " && HOME=" + q(w.home) + " exec " + q(w.exe) + " -s " + q(w.vcfg) +
                            " >" + q(w.trace) + " 2>&1 </dev/null";
    const pid_t cli = ::fork();
    if (cli == 0) {
      if (r.session) ::setsid();
      else ::setpgid(0, 0);
      ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(cli, 0);
    const std::string ready = model ? "vesk-model: " : "running";
    for (int i = 0; i < 1000 && lines_with(w.trace_text(), ready).empty(); ++i) ::usleep(10000);
    const auto sent = std::chrono::steady_clock::now();
    ::kill(r.to_group ? -cli : cli, r.sig);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 2000 && !(ended = ::waitpid(cli, &status, WNOHANG) == cli); ++i) ::usleep(10000);
    if (!ended) {
      ::kill(-cli, SIGKILL);
      ::waitpid(cli, nullptr, 0);
    }
    const std::string what = std::to_string(r.sig) + " " + std::to_string(r.session) + "\n" + w.trace_text();
    // Ended by the signal itself (the back end takes the raw status 15 as its own stop),
    // as soon as the run had ended: well before the grace time is over.
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == r.sig) << status << " " << what;
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(vesk::script_stop_grace_ms - 1500))
        << what;
    // Nothing of the run is left, and what ran was asked to stop and could.
    bool left = true;
    for (int i = 0; i < 500 && left; ++i) {
      while (::waitpid(-1, nullptr, WNOHANG) > 0) {
      }
      left = !(::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD);
      if (left) ::usleep(10000);
    }
    EXPECT_FALSE(left) << what;
    // The model's last lines, once each (a script prints no "final").
    const std::string out = w.trace_text();
    EXPECT_EQ(model ? 1u : 0u, lines_with(out, r.stop_line).size() * lines_with(out, "final ").size()) << what;
    EXPECT_EQ(!model, fs::exists(stopped)) << what;
    EXPECT_TRUE(lines_with(w.trace_text(), "e: ").empty()) << what;
    EXPECT_EQ(std::string::npos, w.trace_text().find("not stopped")) << what;
  }
}

}  // namespace

namespace {

TEST(CliProgram, InstallShipsNoBuildOutput) {
  // The real install rules on a small tree of their own, in which an example was built.
  temp_dir t;
  t.put("src/CMakeLists.txt", read_file((fs::path(VESK_SOURCE_DIR) / "CMakeLists.txt").string()));
  const std::vector<std::string> shipped = {"examples/e/e.vcfg", "examples/e/models/m.vmdl", "runtimes/r/build",
                                            "shared/vesk/a.h"};
  for (const std::string& f : shipped) t.put("src/" + f, "x");
  for (const char* f : {"examples/e/build-e-r/obj/a.o", "examples/e/build-e-r/vesk-model", "runtimes/r/stray.o"}) {
    t.put("src/" + std::string(f), "x");
  }
  const std::string q = vesk::shell_quote(VESK_CMAKE);
  const std::string cmd = q + " -S " + vesk::shell_quote((t.path / "src").string()) + " -B " +
                          vesk::shell_quote((t.path / "b").string()) + " -DVESK_BENCH=OFF >/dev/null && " + q +
                          " --install " + vesk::shell_quote((t.path / "b").string()) + " --prefix " +
                          vesk::shell_quote((t.path / "opt").string()) + " >/dev/null";
  ASSERT_EQ(0, std::system(cmd.c_str()));
  std::vector<std::string> installed;
  for (const auto& e : fs::recursive_directory_iterator(t.path / "opt")) {
    if (!e.is_directory()) installed.push_back(e.path().lexically_relative(t.path / "opt").string());
  }
  std::sort(installed.begin(), installed.end());
  EXPECT_EQ(shipped, installed);
}

TEST(CliProgram, InstalledProgramFindsItsFoldersFromAnyWorkingFolder) {
  workspace w;
  const fs::path prefix = w.tmp.path / "opt";
  const std::string install = vesk::shell_quote(VESK_CMAKE) + " --install " + vesk::shell_quote(VESK_BINARY_DIR) +
                              " --prefix " + vesk::shell_quote(prefix.string()) + " >/dev/null";
  ASSERT_EQ(0, std::system(install.c_str()));
  ASSERT_TRUE(fs::is_regular_file(prefix / "vesk-cli"));
  ASSERT_TRUE(fs::is_regular_file(prefix / "shared" / "vesk" / "rt" / "model.h"));
  // The global runtimes folder must exist to be listed; a tree without runtimes installs none.
  fs::create_directories(prefix / "runtimes");

  // A working folder without shared/ or runtimes/: the ones beside the program count.
  const fs::path elsewhere = w.tmp.path / "elsewhere";
  fs::create_directories(elsewhere);
  const std::string cmd = "cd " + vesk::shell_quote(elsewhere.string()) + " && HOME=" +
                          vesk::shell_quote(w.home.string()) + " " + vesk::shell_quote((prefix / "vesk-cli").string()) +
                          " -b " + vesk::shell_quote(w.vcfg.string()) + " >/dev/null 2>&1";
  EXPECT_EQ(0, std::system(cmd.c_str()));
  EXPECT_EQ(read_file((fs::path(VESK_SOURCE_DIR) / "shared" / "vesk" / "rt" / "model.h").string()),
            read_file((w.build_dir / "shared" / "vesk" / "rt" / "model.h").string()));
}

}  // namespace

namespace {

TEST(CliProgram, WorkingFolderCandidatesOnlyWhenTheUsersOwn) {
  const bool root = ::geteuid() == 0;
  const struct {
    const char* what;
    std::vector<std::string> others;  // made another user's (as root only)
    std::vector<std::string> open;    // made writable by every user
    std::string line;                 // the one line about the working folder
  } cases[] = {
      {"own, under umask 002", {}, {}, "i: Runtimes are taken from the working folder: $cwd/runtimes"},
      {"runtimes writable by all", {}, {"runtimes"}, "w: $cwd/runtimes of the working folder is skipped: $cwd/runtimes is writable by every user"},
      {"a script writable by all", {}, {"runtimes/rt_own/build"}, "w: $cwd/runtimes of the working folder is skipped: $cwd/runtimes/rt_own/build is writable by every user"},
      {"shared writable by all", {}, {"shared/vesk"}, "w: $cwd/shared of the working folder is skipped: $cwd/shared/vesk is writable by every user"},
      {"runtimes another user's", {"runtimes"}, {}, "w: $cwd/runtimes of the working folder is skipped: $cwd/runtimes belongs to uid 65534"},
      {"a form another user's", {"runtimes/rt_own/config_def.json"}, {}, "w: $cwd/runtimes of the working folder is skipped: $cwd/runtimes/rt_own/config_def.json belongs to uid 65534"},
      {"a tool its build runs writable by all", {}, {"runtimes/rt_own/tools/helper.cpp"}, "w: $cwd/runtimes of the working folder is skipped: $cwd/runtimes/rt_own/tools/helper.cpp is writable by every user"},
  };
  for (const auto& c : cases) {
    if (!c.others.empty() && !root) {
      std::cout << "skipped without root (needs a second user): " << c.what << std::endl;
      continue;
    }
    workspace w;
    w.script("cwd/runtimes/rt_own/build", "true");
    w.put("cwd/runtimes/rt_own/config_def.json", "[]");
    w.put("cwd/runtimes/rt_own/tools/helper.cpp", "");
    // A group-writable folder of the user's own, as umask 002 makes it, is fine.
    for (const char* f : {"runtimes", "runtimes/rt_own", "shared"})
      fs::permissions(w.cwd / f, fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read |
                                     fs::perms::others_exec);
    for (const std::string& f : c.others) ASSERT_EQ(::chown((w.cwd / f).c_str(), 65534, 65534), 0);
    for (const std::string& f : c.open) fs::permissions(w.cwd / f, fs::perms::others_write, fs::perm_options::add);
    const auto res = w.run({w.vcfg.string()});
    EXPECT_EQ(0, res.status) << c.what << res.out;
    std::string line = c.line;
    line.replace(line.find("$cwd"), 4, w.cwd.string());
    while (line.find("$cwd") != std::string::npos) line.replace(line.find("$cwd"), 4, w.cwd.string());
    std::vector<std::string> about;
    for (const std::string& l : lines_with(res.out, line.substr(0, 3)))
      if (l.find("working folder") != std::string::npos) about.push_back(l.substr(0, line.size()));
    EXPECT_EQ(about, std::vector<std::string>{line}) << c.what << "\n" << res.out;
  }
}

}  // namespace
