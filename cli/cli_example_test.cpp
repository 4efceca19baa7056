// The bundled example, end to end: vesk-cli compiles it, the Linux stand-in runtime builds
// it with g++ and runs it for one second, and the model's final values make sense.

#include <cstdlib>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"
#include "foundation/helpers.h"
#include "foundation/json.h"

namespace {

using cli_test::lines_with;
namespace fs = std::filesystem;

/// "final a=1 b=2" -> {a: 1, b: 2}; values that are no number are left out.
std::map<std::string, double> final_values(const std::string& out) {
  std::map<std::string, double> values;
  const auto lines = lines_with(out, "final ");
  if (lines.empty()) return values;
  std::istringstream in(lines.back().substr(6));
  for (std::string item; in >> item;) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    char* end = nullptr;
    const std::string v = item.substr(eq + 1);
    const double d = std::strtod(v.c_str(), &end);
    if (end && *end == '\0' && !v.empty()) values[item.substr(0, eq)] = d;
  }
  return values;
}

TEST(CliExample, BuildsAndRunsWithTheLinuxRuntime) {
  if (std::system("command -v g++ >/dev/null 2>&1") != 0) GTEST_SKIP() << "g++ is not installed";
  const fs::path example = fs::path(VESK_SOURCE_DIR) / "examples" / "get_started";
  const fs::path runtime = fs::path(VESK_SOURCE_DIR) / "runtimes" / "linux";
  if (!fs::exists(example / "start.vcfg") || !fs::exists(runtime / "build")) {
    GTEST_SKIP() << "this tree has no examples/get_started or runtimes/linux";
  }

  temp_dir t;
  fs::create_directories(t.path / "home");
  fs::create_directories(t.path / "cwd");
  fs::create_directories(t.path / "ws");
  fs::copy(example, t.path / "ws" / "get_started", fs::copy_options::recursive);
  const fs::path vcfg = t.path / "ws" / "get_started" / "start.vcfg";
  // One second of run time, values printed at the end only.
  vesk::json cfg = vesk::json::parse(read_file(vcfg.string()));
  cfg["runtime_configs"]["linux"]["run_time_s"] = vesk::json(1);
  cfg["runtime_configs"]["linux"]["print_interval_ms"] = vesk::json(0);
  cfg["runtime_configs"]["linux"]["print_signals"] = vesk::json(std::string("counter.count, meter.in, meter.delta, meter.samples"));
  t.put("ws/get_started/start.vcfg", cfg.dump("  "));

  // A working folder without shared/ or runtimes/: the program's own are used.
  const std::string cmd = "cd " + vesk::shell_quote((t.path / "cwd").string()) + " && HOME=" +
                          vesk::shell_quote((t.path / "home").string()) + " " +
                          vesk::shell_quote(cli_test::program().string()) + " " + vesk::shell_quote(vcfg.string()) +
                          " 2>&1";
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(nullptr, p);
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = ::pclose(p);
  ASSERT_EQ(0, status) << out;
  EXPECT_TRUE(lines_with(out, "e: ").empty()) << out;
  EXPECT_EQ(1u, lines_with(out, "i: Build runtime...").size()) << out;
  EXPECT_EQ(1u, lines_with(out, "i: Start runtime...").size()) << out;
  EXPECT_TRUE(fs::exists(t.path / "ws" / "get_started" / "build-start-linux" / "ws" / "get_started" / "nodes" /
                         "sample_delta.cpp"));

  // The counter adds the step (1) every 10 ms; the meter samples it every 100 ms through a
  // rate transition, so it has seen a value no larger than the counter's and grown by it.
  const auto v = final_values(out);
  ASSERT_EQ(4u, v.size()) << out;
  EXPECT_GE(v.at("counter.count"), 10) << out;
  EXPECT_EQ(v.at("counter.count"), static_cast<long>(v.at("counter.count"))) << out;
  EXPECT_GE(v.at("meter.samples"), 1) << out;
  EXPECT_LE(v.at("meter.in"), v.at("counter.count")) << out;
  EXPECT_GT(v.at("meter.delta"), 0) << out;
}

}  // namespace
