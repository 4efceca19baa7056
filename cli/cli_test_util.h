#pragma once
// Test helpers for vesk-cli: a throw-away workspace with its own HOME and working folder,
// a project "demo", a workspace runtime "sim" made of shell scripts, and a runner of the
// real program.

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/runtime_scripts.h"
#include "foundation/test_util.h"

namespace cli_test {

namespace fs = std::filesystem;

/// The program under test, built beside its shared/, runtimes/ and examples/ links.
inline fs::path program() { return fs::path(VESK_BINARY_DIR) / "bin" / "vesk-cli"; }

/// What one run of the program left.
struct run_result {
  int status = -1;  ///< exit status, or 1000 + signal number
  std::string out;  ///< standard output
  std::string err;  ///< standard error
};

/// A node header with one automatic class node "counter" (input step, output value).
inline const char* const counter_header =
    "#pragma once\n"
    "/* @node: auto */\n"
    "class counter {\n"
    " public:\n"
    "  double in_step = 1;\n"
    "  double out_value = 0;\n"
    "  void tick() { out_value += in_step; }\n"
    "};\n";

/// A block of class "counter" from project "demo" in `raster`.
inline std::string counter_block(const std::string& name, const std::string& raster,
                                 const std::string& cls = "counter") {
  return R"({"name":")" + name + R"(","type":"class","cfg":{"class":")" + cls +
         R"(","prj":"demo"},"raster":")" + raster + R"(","inputs":{}})";
}

/// A workspace under a temporary folder: root/home (HOME), root/cwd (working folder with
/// its own "runtimes" and "shared"), root/ws/demo (the project), root/ws/rt_sim.
struct workspace {
  temp_dir tmp;
  fs::path home = tmp.path / "home";
  fs::path cwd = tmp.path / "cwd";
  fs::path ws = tmp.path / "ws";
  fs::path project = ws / "demo";
  fs::path vcfg = project / "demo.vcfg";
  fs::path build_dir = project / "build-demo-sim";
  fs::path trace = tmp.path / "trace.txt";
  fs::path exe = program();  ///< the program run; a copy elsewhere finds other folders

  workspace() {
    fs::create_directories(home);
    fs::create_directories(cwd / "runtimes");
    tmp.put("cwd/shared/vesk/rt/model.h", "// model\n");
    tmp.put("ws/demo/nodes/counter.h", counter_header);
    config(R"({"model":"m","runtime":"sim"})");
    model({counter_block("a", "r10ms")});
    // The scripts note that they ran, and where, in the trace file.
    script("ws/rt_sim/build", "echo build >> " + vesk::shell_quote(trace.string()) + "\necho built");
    script("ws/rt_sim/start", "echo start >> " + vesk::shell_quote(trace.string()) + "\necho started");
  }

  fs::path put(const fs::path& rel, const std::string& text) const { return tmp.put(rel, text); }
  void config(const std::string& text) const { put(vcfg.lexically_relative(tmp.path), text); }
  /// models/m.vmdl with the given blocks.
  void model(const std::vector<std::string>& blocks) const {
    std::string text = "{\"nodes\":[";
    for (size_t i = 0; i < blocks.size(); ++i) text += (i ? "," : "") + blocks[i];
    put("ws/demo/models/m.vmdl", text + "]}");
  }
  /// An executable shell script.
  void script(const fs::path& rel, const std::string& body) const {
    put(rel, "#!/bin/sh\n" + body + "\n");
    fs::permissions(tmp.path / rel, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  }
  std::string trace_text() const {
    std::ifstream in(trace);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  /// Runs the program with `args` in `dir` (default: cwd) and this workspace's HOME.
  run_result run(const std::vector<std::string>& args, const fs::path& dir = {}) const {
    const fs::path err_file = tmp.path / "stderr.txt";
    std::string cmd = "cd " + vesk::shell_quote((dir.empty() ? cwd : dir).string()) +
                      " && HOME=" + vesk::shell_quote(home.string()) + " exec " +
                      vesk::shell_quote(exe.string());
    for (const std::string& a : args) cmd += " " + vesk::shell_quote(a);
    cmd += " 2>" + vesk::shell_quote(err_file.string()) + " </dev/null";
    run_result r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int ws_status = ::pclose(p);
    r.status = WIFEXITED(ws_status) ? WEXITSTATUS(ws_status) : 1000 + WTERMSIG(ws_status);
    std::ifstream in(err_file);
    std::stringstream s;
    s << in.rdbuf();
    r.err = s.str();
    return r;
  }
};

/// The lines of `text` that start with `prefix`, in order.
inline std::vector<std::string> lines_with(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  }
  return out;
}

}  // namespace cli_test
