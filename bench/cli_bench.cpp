// Speed of vesk-cli -b, the real program: a full build and an unchanged rebuild, on the
// bundled example and on a generated 1000-block project, both with a runtime whose build
// does nothing. The rebuild should write nothing but "compile_info.json" and
// "config.json" (counter "rewritten" = 2) and cost under 5 % of a full build.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

void put(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text;
}

/// A throw-away tree: home/, cwd/ (with shared/ and an empty runtimes/), ws/ with a
/// workspace runtime "null" whose scripts do nothing.
struct bench_tree {
  fs::path root = fs::temp_directory_path() / ("vesk_cli_bench_" + std::to_string(::getpid()) + "_" +
                                               std::to_string(std::random_device()()));
  fs::path ws = root / "ws";
  fs::path vcfg;
  fs::path build_dir;

  bench_tree() {
    fs::create_directories(root / "home");
    fs::create_directories(root / "cwd" / "runtimes");
    fs::copy(fs::path(VESK_SOURCE_DIR) / "shared", root / "cwd" / "shared", fs::copy_options::recursive);
    for (const char* s : {"build", "start"}) {
      put(ws / "rt_null" / s, "#!/bin/sh\ntrue\n");
      fs::permissions(ws / "rt_null" / s, fs::perms::owner_all);
    }
  }
  ~bench_tree() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  int run() const {
    const std::string cmd = "cd " + quote((root / "cwd").string()) + " && HOME=" + quote((root / "home").string()) +
                            " " + quote((fs::path(VESK_BINARY_DIR) / "bin" / "vesk-cli").string()) + " -b " +
                            quote(vcfg.string()) + " >/dev/null 2>&1";
    return std::system(cmd.c_str());
  }
};

/// The bundled example, copied, built for the do-nothing runtime.
bool make_example(bench_tree& t) {
  const fs::path src = fs::path(VESK_SOURCE_DIR) / "examples" / "get_started";
  if (!fs::exists(src / "start.vcfg")) return false;
  fs::copy(src, t.ws / "get_started", fs::copy_options::recursive);
  t.vcfg = t.ws / "get_started" / "start.vcfg";
  std::ifstream in(t.vcfg);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Keep the example's model, select the do-nothing runtime.
  const size_t at = text.find("\"runtime\"");
  if (at != std::string::npos) {
    const size_t v1 = text.find('"', text.find(':', at) + 1);
    const size_t v2 = text.find('"', v1 + 1);
    text.replace(v1, v2 - v1 + 1, "\"null\"");
  }
  std::ofstream(t.vcfg) << text;
  t.build_dir = t.ws / "get_started" / "build-start-null";
  return true;
}

/// A project of 1000 blocks of one annotated class, chained in groups of ten.
void make_big(bench_tree& t) {
  put(t.ws / "big" / "nodes" / "gain.h",
      "#pragma once\n/* @node: auto */\nclass gain {\n public:\n  double in_x = 0;\n  double out_y = 0;\n"
      "  void tick() { out_y = 2 * in_x; }\n};\n");
  std::string model = "{\"nodes\":[";
  for (int i = 0; i < 1000; ++i) {
    const std::string name = "g" + std::to_string(i);
    const std::string inputs =
        i % 10 ? std::string(R"({"x":{"node":"g)") + std::to_string(i - 1) + R"(","pin":"y"}})" : std::string("{}");
    model += std::string(i ? "," : "") + R"({"name":")" + name + R"(","type":"class","cfg":{"class":"gain","prj":"big"},)" +
             R"("raster":"r10ms","inputs":)" + inputs + "}";
  }
  put(t.ws / "big" / "models" / "m.vmdl", model + "]}");
  t.vcfg = t.ws / "big" / "big.vcfg";
  put(t.vcfg, R"({"model":"m","runtime":"null"})");
  t.build_dir = t.ws / "big" / "build-big-null";
}

void full_build(benchmark::State& state, bench_tree& t) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(t.build_dir);
    state.ResumeTiming();
    if (t.run() != 0) state.SkipWithError("vesk-cli -b failed");
  }
}

void rebuild(benchmark::State& state, bench_tree& t) {
  if (t.run() != 0) {
    state.SkipWithError("vesk-cli -b failed");
    return;
  }
  double rewritten = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::map<fs::path, fs::file_time_type> times;
    for (auto& e : fs::recursive_directory_iterator(t.build_dir)) {
      if (!e.is_symlink() && e.is_regular_file()) times[e.path()] = e.last_write_time();
    }
    state.ResumeTiming();
    if (t.run() != 0) state.SkipWithError("vesk-cli -b failed");
    state.PauseTiming();
    rewritten = 0;
    for (auto& [p, time] : times) rewritten += fs::last_write_time(p) != time;
    state.ResumeTiming();
  }
  state.counters["rewritten"] = rewritten;
}

void BM_example_full(benchmark::State& state) {
  bench_tree t;
  if (!make_example(t)) return state.SkipWithError("no examples/get_started");
  full_build(state, t);
}
void BM_example_rebuild(benchmark::State& state) {
  bench_tree t;
  if (!make_example(t)) return state.SkipWithError("no examples/get_started");
  rebuild(state, t);
}
void BM_1000_blocks_full(benchmark::State& state) {
  bench_tree t;
  make_big(t);
  full_build(state, t);
}
void BM_1000_blocks_rebuild(benchmark::State& state) {
  bench_tree t;
  make_big(t);
  rebuild(state, t);
}

BENCHMARK(BM_example_full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_example_rebuild)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_1000_blocks_full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_1000_blocks_rebuild)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
