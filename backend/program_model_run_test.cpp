// End to end: `vesk --start` on the bundled example with the real vesk-cli and the Linux
// runtime. An editor subscribes signals and sees them change, sets a parameter and sees
// the signals follow it, then stops the run; and the editor stand-in prints live values.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend/core_test_util.h"

namespace core_test {
namespace {

/// The program with vesk-cli, the Linux runtime, the shared folder and the example project.
void lay_out_example(program& p) {
  const fs::path src = VESK_SOURCE_DIR;
  // The model names its node sources by the project's name.
  p.prj = p.ws / "get_started";
  p.cfg = p.prj / "start.vcfg";
  fs::create_directories(p.prj);
  fs::copy_file(fs::path(VESK_BINARY_DIR) / "bin" / "vesk-cli", p.bin / "vesk-cli");
  fs::copy(src / "runtimes" / "linux", p.bin / "runtimes" / "linux", fs::copy_options::recursive);
  fs::copy(src / "shared", p.bin / "shared", fs::copy_options::recursive);
  for (const char* d : {"models", "nodes"}) {
    fs::remove_all(p.prj / d);
    fs::copy(src / "examples" / "get_started" / d, p.prj / d, fs::copy_options::recursive);
  }
  std::ofstream(p.cfg) << slurp(src / "examples" / "get_started" / "start.vcfg");
}

bool have_compiler() { return std::system("command -v g++ >/dev/null 2>&1") == 0; }

/// Position of the definition named `name` in a definition list, or -1.
int position_of(vesk::json& defs, const std::string& name) {
  for (size_t i = 0; i < defs.size(); ++i) {
    if (defs[vesk::json(double(i))]["name"].get_string() == name) return int(i);
  }
  return -1;
}

/// The (stamp, double value) of each tag-1 record of `message` at position 0.
std::vector<std::pair<uint64_t, double>> values_of(const std::string& message) {
  std::vector<std::pair<uint64_t, double>> out;
  for (size_t pos = 2; pos + 24 <= message.size();) {
    uint32_t index, size;
    uint64_t stamp;
    double v;
    std::memcpy(&index, &message[pos], 4);
    std::memcpy(&size, &message[pos + 4], 4);
    std::memcpy(&stamp, &message[pos + 8], 8);
    if (index == 0 && size == 8) {
      std::memcpy(&v, &message[pos + 16], 8);
      out.emplace_back(stamp, v);
    }
    pos += 16 + size;
  }
  return out;
}

TEST(ProgramModelRun, SignalsStreamParametersTuneAndKillBuildStopsTheModel) {
  if (!have_compiler()) GTEST_SKIP() << "g++ is not installed";
  program p;
  lay_out_example(p);
  ASSERT_TRUE(p.start_running({"--no-gui", "--start"})) << p.out();
  editor e(p.gui_port);
  ASSERT_TRUE(e.open());
  const int online = e.wait_for([](vesk::json& m) {
    return (m["cmd"] == "backend_state" && m["state"]["online"].is_bool() && m["state"]["online"].get_bool()) ||
           (m["cmd"] == "log" && m["msg"].get_string().rfind("Build failed", 0) == 0);
  }, 120000);
  ASSERT_GE(online, 0) << p.out();
  ASSERT_EQ(e.seen[size_t(online)]["cmd"], "backend_state") << p.out();
  vesk::json state = e.seen[size_t(online)]["state"];
  ASSERT_GE(position_of(state["signal_def"], "counter.count"), 0) << state.dump();
  const int step = position_of(state["parameter_def"], "step");
  ASSERT_GE(step, 0) << state.dump();

  // The counter adds the parameter "step" (1) every 10 ms.
  e.send(R"({"cmd":"set_daq_list","list":["counter.count"]})");
  std::vector<std::pair<uint64_t, double>> seen;
  const auto collect = [&](size_t from) {
    seen.clear();
    for (size_t i = from; i < e.binaries.size(); ++i) {
      for (const auto& v : values_of(e.binaries[i])) seen.push_back(v);
    }
  };
  ASSERT_GE(e.wait_binary([&](const std::string&) {
    collect(0);
    return seen.size() >= 20;
  }, 20000), 0);
  EXPECT_LT(seen.front().second, seen.back().second);
  EXPECT_LT(seen.front().first, seen.back().first);

  // Step 1000: from now on the counter grows by 1000 per run.
  std::string set(2, '\0');
  set[0] = 2;
  const uint32_t index = uint32_t(step), size = 8;
  const double value = 1000;
  set.append(reinterpret_cast<const char*>(&index), 4);
  set.append(reinterpret_cast<const char*>(&size), 4);
  set.append(reinterpret_cast<const char*>(&value), 8);
  const size_t from = e.binaries.size();
  e.send_binary(set);
  ASSERT_GE(e.wait_binary([&](const std::string&) {
    collect(from);
    for (size_t i = 1; i < seen.size(); ++i) {
      if (seen[i].second - seen[i - 1].second == 1000 && seen[i].first - seen[i - 1].first == 10000000) return true;
    }
    return false;
  }, 20000), 0) << p.out();

  // Stopping the run: the model is told to quit and ends cleanly.
  e.send(R"({"cmd":"kill_build"})");
  EXPECT_TRUE(eventually([&] { return p.out().find("stopping on quit from the back end") != std::string::npos; }))
      << p.out();
  EXPECT_GE(e.wait_for([](vesk::json& m) {
    return m["cmd"] == "backend_state" && m["state"]["build_state"].get_double() == 0;
  }, 10000, size_t(online)), 0);
  EXPECT_TRUE(eventually([&] { return p.out().find("info: Model disconnected...") != std::string::npos; }));
  EXPECT_EQ(p.out().find("Build failed"), std::string::npos) << p.out();
  EXPECT_TRUE(e.answers());
}

TEST(ProgramModelRun, TheEditorStandInPrintsLiveValues) {
  if (!have_compiler()) GTEST_SKIP() << "g++ is not installed";
  program p;
  lay_out_example(p);
  fs::create_directories(p.bin / "gui");
  fs::copy_file(fs::path(VESK_BINARY_DIR) / "bin" / "gui" / "vesk-gui", p.bin / "gui" / "vesk-gui");
  const fs::path printed = p.tmp.path / "gui.txt";
  ::setenv("VESK_GUI_OUTPUT", printed.c_str(), 1);
  p.start_running({"--start"});
  ::unsetenv("VESK_GUI_OUTPUT");
  // Two printed values of the counter, the later one larger.
  std::vector<double> counts;
  ASSERT_TRUE(eventually([&] {
    counts.clear();
    std::istringstream lines(slurp(printed));
    const std::string prefix = "[signal] counter.count = ";
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(prefix, 0) == 0) counts.push_back(std::stod(line.substr(prefix.size())));
    }
    return counts.size() >= 2 || slurp(printed).find("Build failed") != std::string::npos;
  }, 120000)) << slurp(printed) << p.out();
  ASSERT_GE(counts.size(), 2u) << slurp(printed);
  EXPECT_LT(counts[0], counts[1]);
  EXPECT_NE(slurp(printed).find("model online"), std::string::npos);
}

}  // namespace
}  // namespace core_test
