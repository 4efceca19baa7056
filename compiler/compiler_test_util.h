#pragma once
// Test helpers of the model compiler: a compiler wired to the real generators over a
// temporary workspace, with its log lines and editor messages captured, and a way to
// build the generated sources with g++ and run them through a small driver.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "annotations/block_lists.h"
#include "compiler/compiler.h"
#include "foundation/json.h"
#include "foundation/log_capture.h"
#include "foundation/test_util.h"
#include "generators/generator_registry.h"

namespace compiler_test {

/// One compile: workspace <tmp>/ws with the open project <tmp>/ws/prj.
struct fixture {
  temp_dir tmp;
  std::string workspace = (tmp.path / "ws").string();
  std::string project = workspace + "/prj";
  vesk::annotations::block_lists blocks;
  vesk::compiler c;
  std::vector<std::string> messages;  ///< compact JSON of each message to the editor
  log_capture debug{log_debug}, info{log_info}, warn{log_warn}, err{log_err};

  fixture() {
    std::filesystem::create_directories(project + "/models");
    c.reference_base = project;
    c.send_to_all = [this](vesk::json m) { messages.push_back(m.dump()); };
    c.generators = make_generator_registry(&blocks, workspace, &c.files);
  }

  /// Writes a file below the workspace and returns its path.
  std::string put(const std::string& rel, const std::string& text) {
    return tmp.put(std::filesystem::path("ws") / rel, text).string();
  }

  /// Compiles a model given as JSON text.
  void compile(const std::string& model_text) { c.compile(vesk::json::parse(model_text)); }

  /// The text of a generated file ("" when there is none).
  std::string file(const std::string& name) {
    auto it = c.files.find(name);
    return it == c.files.end() ? std::string() : it->second.text.str();
  }

  /// Names of the blocks left in the node map, in order.
  std::vector<std::string> node_names() const {
    std::vector<std::string> out;
    for (auto& [name, n] : c.nodes) out.push_back(name);
    return out;
  }
};

/// The blocks that were placed, in their order, separated by blanks.
inline std::string placed_order(const fixture& f) {
  std::vector<std::pair<uint64_t, std::string>> placed;
  for (auto& [name, n] : f.c.nodes)
    if (n->order_number != 0) placed.emplace_back(n->order_number, name);
  std::sort(placed.begin(), placed.end());
  std::string out;
  for (auto& p : placed) out += (out.empty() ? "" : " ") + p.second;
  return out;
}

/// A node object of a model file as JSON text.
inline std::string node(const std::string& name, const std::string& type, const std::string& cfg,
                        const std::string& inputs = "{}", const std::string& extra = "") {
  return "{\"name\":\"" + name + "\",\"type\":\"" + type + "\",\"cfg\":" + cfg + ",\"inputs\":" + inputs + extra + "}";
}

/// A "base" node of the given element kind with extra cfg members.
inline std::string base(const std::string& name, const std::string& kind, const std::string& inputs = "{}",
                        const std::string& cfg_extra = "", const std::string& extra = "") {
  return node(name, "base", "{\"node\":\"" + kind + "\"" + cfg_extra + "}", inputs, extra);
}

/// An expression block computing `expr`.
inline std::string expr(const std::string& name, const std::string& expression, const std::string& inputs = "{}",
                        const std::string& extra = "") {
  return node(name, "expression", "{\"function\":\"" + expression + "\"}", inputs, extra);
}

/// {"pin":{"node":src,"pin":src_pin}} for one input.
inline std::string in(const std::string& pin, const std::string& src, const std::string& src_pin = "out") {
  return "\"" + pin + "\":{\"node\":\"" + src + "\",\"pin\":\"" + src_pin + "\"}";
}

/// A model of the given node objects.
inline std::string model(const std::vector<std::string>& nodes) {
  std::string out = "{\"nodes\":[";
  for (size_t i = 0; i < nodes.size(); ++i) out += (i ? "," : "") + nodes[i];
  return out + "]}";
}

/// Runs a shell command and returns its standard output; the exit status goes to *status.
inline std::string run(const std::string& command, int* status) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = ::pclose(p);
  return out;
}

/// Whether g++ is on this machine.
inline bool have_gxx() {
  int status = 0;
  run("g++ --version >/dev/null 2>&1", &status);
  return status == 0;
}

/// Writes the generated files into <dir>/model, compiles them with a driver that runs
/// init_tick on every raster, then `ticks` rounds of tick (rasters in table order),
/// printing every numeric signal after each round as "name=value" lines, and final.
/// Returns the driver's output; compile errors fail the test.
inline std::string build_and_run(fixture& f, int ticks, const std::string& extra_flags = "") {
  std::filesystem::path dir = f.tmp.path / "build";
  std::filesystem::create_directories(dir / "model");
  std::string sources;
  for (auto& [name, text] : f.c.files) {
    std::ofstream(dir / "model" / name) << text.text.str();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cpp") == 0) sources += " model/" + name;
  }
  for (const auto& s : f.c.compile_info["sources"].array_elements()) {
    const std::string src = s.get_string();
    if (src.rfind("ws/", 0) == 0) sources += " " + f.workspace + "/" + src.substr(3);
  }
  std::filesystem::create_directories(dir / "ws");
  std::filesystem::create_symlink(f.workspace, dir / "ws" / "..ws");  // not used; keeps ws/ a folder
  for (auto& e : std::filesystem::directory_iterator(f.workspace))
    std::filesystem::create_directory_symlink(e.path(), dir / "ws" / e.path().filename());
  std::ofstream(dir / "driver.cpp") << R"(#include <algorithm>
#include <cstdio>
#include <vesk/rt/model.h>
static void print(vesk::rt::model* m) {
  for (auto& s : m->signals)
    if (s.value.numeric()) std::printf("%s=%g\n", s.name, s.value.get());
  std::printf("--\n");
}
int main() {
  vesk::rt::model* m = vesk::rt::get_model();
  for (auto* r : m->rasters) { if (!r->is_sync) r->init(); r->init_tick(); }
  print(m);
  for (int i = 0; i < )" << ticks << R"(; ++i) { for (auto* r : m->rasters) r->tick(); print(m); }
  for (auto* r : m->rasters) r->final();
})";
  int status = 0;
  std::string cmd = "cd '" + dir.string() + "' && g++ -std=c++17 -Wall -Wextra -Werror -pthread -I. -I'" +
                    std::string(VESK_SOURCE_DIR) + "/shared' " + extra_flags + " driver.cpp" + sources +
                    " -o driver 2>&1";
  std::string out = run(cmd, &status);
  EXPECT_EQ(status, 0) << cmd << "\n" << out;
  if (status != 0) return out;
  out = run("'" + (dir / "driver").string() + "'", &status);
  EXPECT_EQ(status, 0) << out;
  return out;
}

}  // namespace compiler_test
