// Speed of the model compiler on generated models of 1000 to 10000 blocks, in the
// shapes that stress its steps: block ordering (chains whose data flow runs with and
// against name order), raster propagation (an all-"auto" chain fixed at its last name),
// subsystem flattening (chained subsystems) and a mixed model with several rasters,
// delays and rate transitions. After the runs a table gives the time per model, the
// growth when the model doubles (about 2 means linear, 4 quadratic) and whether 10000
// blocks compile within the one-second aim; then g++ builds the sources generated for the
// 1000-block mixed model, and the compiler's time is set against that build.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "annotations/block_lists.h"
#include "compiler/compiler.h"
#include "foundation/helpers.h"
#include "foundation/json.h"
#include "foundation/log_stream.h"
#include "generators/generator_registry.h"

namespace {

const int sizes[] = {1000, 2000, 4000, 8000, 10000};

/// Block names whose byte order is their number order.
std::string name(const char* prefix, int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%05d", prefix, i);
  return buf;
}

std::string input(const std::string& pin, const std::string& src, const std::string& src_pin = "out") {
  return "\"" + pin + "\":{\"node\":\"" + src + "\",\"pin\":\"" + src_pin + "\"}";
}

std::string expr(const std::string& block, const std::string& function, const std::string& inputs,
                 const std::string& raster) {
  std::string node = "{\"name\":\"" + block + "\",\"type\":\"expression\",\"cfg\":{\"function\":\"" + function +
                     "\"},\"inputs\":{" + inputs + "}";
  if (!raster.empty()) node += ",\"raster\":\"" + raster + "\"";
  return node + "}";
}

std::string base(const std::string& block, const std::string& kind, const std::string& inputs,
                 const std::string& cfg_extra = "", const std::string& raster = "") {
  std::string node = "{\"name\":\"" + block + "\",\"type\":\"base\",\"cfg\":{\"node\":\"" + kind + "\"" + cfg_extra +
                     "},\"inputs\":{" + inputs + "}";
  if (!raster.empty()) node += ",\"raster\":\"" + raster + "\"";
  return node + "}";
}

std::string model(const std::vector<std::string>& nodes) {
  std::string out = "{\"nodes\":[";
  for (size_t i = 0; i < nodes.size(); ++i) out += (i ? ",\n" : "\n") + nodes[i];
  return out + "]}";
}

/// n expressions in one raster, each reading the one before it in data flow; the flow
/// runs in ascending name order (each ordering pass can place only one block) or in
/// descending order (one pass places all).
std::string chain(int n, bool ascending) {
  std::vector<std::string> nodes;
  for (int k = 0; k < n; ++k) {
    int i = ascending ? k : n - 1 - k;
    std::string in = k == 0 ? "" : input("x", name("n", ascending ? i - 1 : i + 1));
    nodes.push_back(expr(name("n", i), k == 0 ? "1.5" : "x+1", in, "r10ms"));
  }
  return model(nodes);
}

/// n expressions in ascending flow, all "auto" but the last name: the raster travels
/// from the end of the name order to its start, one block per propagation pass.
std::string auto_chain(int n) {
  std::vector<std::string> nodes;
  for (int i = 0; i < n; ++i)
    nodes.push_back(expr(name("n", i), i == 0 ? "1.5" : "x+1", i == 0 ? "" : input("x", name("n", i - 1)),
                         i == n - 1 ? "r10ms" : ""));
  return model(nodes);
}

/// n/10 subsystems of 10 inner blocks (input, 8 expressions, output), each fed by the
/// output of the one before; the first is fed by a source expression that fixes the raster.
std::string subsystems(int n) {
  std::vector<std::string> nodes;
  nodes.push_back(expr("src", "1.5", "", "r10ms"));
  for (int s = 0; s < n / 10; ++s) {
    std::vector<std::string> inner;
    inner.push_back(base("u", "input", ""));
    for (int i = 0; i < 8; ++i)
      inner.push_back(expr(name("e", i), "x*2", input("x", i == 0 ? "u" : name("e", i - 1)), ""));
    inner.push_back(base("v", "output", input("in", name("e", 7))));
    std::string cfg = ",\"nodes\":[";
    for (size_t i = 0; i < inner.size(); ++i) cfg += (i ? "," : "") + inner[i];
    cfg += "]";
    nodes.push_back(base(name("s", s), "subsystem", s == 0 ? input("u", "src") : input("u", name("s", s - 1), "v"),
                         cfg));
  }
  return model(nodes);
}

/// n blocks in four rasters, a contiguous chain of n/4 per raster. Every tenth block of
/// a chain is a delay; every 50th expression also reads a rate transition fed from the
/// block at the same place in the previous raster's chain.
std::string mixed(int n) {
  const char* rasters[] = {"r1ms", "r10ms", "r100ms", "r1s"};
  const int per = n / 4;
  std::vector<std::string> nodes;
  for (int r = 0; r < 4; ++r) {
    for (int k = 0; k < per; ++k) {
      const int i = r * per + k;
      const std::string self = name("n", i);
      const std::string prev = k == 0 ? "" : input("x", name("n", i - 1));
      if (k % 10 == 9) {
        nodes.push_back(base(self, "delay", input("in", name("n", i - 1)), "", rasters[r]));
      } else if (k % 50 == 25) {
        const std::string rt = name("t", i);
        const int from = ((r + 3) % 4) * per + k;  // same place, previous raster
        nodes.push_back(base(rt, "rt", input("in", name("n", from)), ",\"behavior\":\"last\""));
        nodes.push_back(expr(self, "x+y", prev + "," + input("y", rt), rasters[r]));
      } else {
        nodes.push_back(expr(self, k == 0 ? "0.5" : "x*0.5+1", prev, rasters[r]));
      }
    }
  }
  return model(nodes);
}

/// One function block of n inputs (and a default value for each), every input read from
/// one source: its pins are looked up by name once per connection and value.
std::string many_pins(int n) {
  std::string names, inputs, defaults;
  for (int i = 0; i < n; ++i) {
    const std::string pin = name("x", i);
    names += (i ? "," : "") + pin;
    inputs += (i ? "," : "") + input(pin, "src");
    defaults += std::string(i ? "," : "") + "\"" + pin + "\":\"0\"";
  }
  return model({expr("src", "1.5", "", "r10ms"),
                "{\"name\":\"f\",\"type\":\"function\",\"cfg\":{\"function\":\"sum\",\"inputs\":\"" + names +
                    "\"},\"inputs\":{" + inputs + "},\"default_values\":{" + defaults + "}}"});
}

struct shape {
  const char* label;
  std::function<std::string(int)> make;
};

const std::vector<shape>& shapes() {
  static const std::vector<shape> all = {
      {"chain_ascending", [](int n) { return chain(n, true); }},
      {"chain_descending", [](int n) { return chain(n, false); }},
      {"auto_chain", auto_chain},
      {"subsystems", subsystems},
      {"mixed", mixed},
      {"many_pins", many_pins},
  };
  return all;
}

void silence_logs() {
  for (log_stream* s : {&log_debug, &log_info, &log_warn, &log_err}) s->enabled = false;
}

/// One compile of `model_json` by a compiler set up as the build driver does it.
struct compile_run {
  vesk::annotations::block_lists blocks;
  vesk::compiler c;
  explicit compile_run(const vesk::json& model_json) {
    c.reference_base = "/tmp/vesk_bench_ws/prj";
    c.generators = make_generator_registry(&blocks, "/tmp/vesk_bench_ws", &c.files);
    c.compile(model_json);
  }
};

void BM_compile(benchmark::State& state, const shape* s) {
  silence_logs();
  const vesk::json model_json = vesk::json::parse(s->make(static_cast<int>(state.range(0))));
  {
    compile_run check(model_json);
    if (check.c.error || check.c.raster_names.empty() || check.c.nodes.empty()) {
      state.SkipWithError("the generated model does not compile");
      return;
    }
    state.counters["blocks"] = static_cast<double>(check.c.nodes.size());
    state.counters["rasters"] = static_cast<double>(check.c.raster_names.size());
  }
  for (auto _ : state) {
    compile_run run(model_json);
    benchmark::DoNotOptimize(run.c.files.size());
  }
}

/// Keeps the console output and remembers the real time of every run (ms).
class table_reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (!r.error_occurred && r.run_type == Run::RT_Iteration)
        ms[r.benchmark_name()] = r.GetAdjustedRealTime();  // the unit is milliseconds
  }
  std::map<std::string, double> ms;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void print_growth(const table_reporter& rep) {
  std::printf("\n%-18s %7s %10s %8s %9s  %s\n", "shape", "blocks", "ms", "growth", "exponent", "");
  for (const shape& s : shapes()) {
    double last = 0;
    int last_n = 0;
    for (int n : sizes) {
      auto it = rep.ms.find(std::string("compile/") + s.label + "/" + std::to_string(n));
      if (it == rep.ms.end()) {
        std::printf("%-18s %7d %10s\n", s.label, n, "not run");
        last = 0;
        continue;
      }
      const double t = it->second;
      std::printf("%-18s %7d %10.2f", s.label, n, t);
      if (last > 0) {
        // Growth over the previous size, and the exponent k of t ~ n^k it implies.
        const double growth = t / last;
        std::printf(" %7.2fx %9.2f", growth, std::log(growth) / std::log(static_cast<double>(n) / last_n));
      } else {
        std::printf(" %8s %9s", "", "");
      }
      if (n == 10000) std::printf("  %s", t < 1000 ? "within 1 s" : "OVER 1 s");
      std::printf("\n");
      last = t;
      last_n = n;
    }
  }
}

/// Builds the sources generated for the 1000-block mixed model with g++, one object
/// per source, one after another, and sets the compiler's time against it.
void compare_with_gxx(const table_reporter& rep) {
  const std::string repo = std::filesystem::path(__FILE__).parent_path().parent_path().string();
  const vesk::json model_json = vesk::json::parse(mixed(1000));
  auto start = std::chrono::steady_clock::now();
  compile_run run(model_json);
  double ours = seconds_since(start);
  auto it = rep.ms.find("compile/mixed/1000");
  if (it != rep.ms.end()) ours = it->second / 1000.0;
  if (run.c.error) {
    std::printf("\nmixed model: compile reported an error, no g++ comparison\n");
    return;
  }
  std::string dir_pattern = (std::filesystem::temp_directory_path() / "vesk_compiler_bench_XXXXXX").string();
  if (::mkdtemp(dir_pattern.data()) == nullptr) return;
  const std::filesystem::path dir = dir_pattern;
  std::vector<std::string> sources;
  for (auto& [file, text] : run.c.files) {
    write_file((dir / file).string(), text.text.str());
    if (ends_with(file, ".cpp")) sources.push_back(file);
  }
  std::printf("\nmixed model, 1000 blocks: %zu generated sources, model compile %.2f ms\n", sources.size(),
              ours * 1e3);
  for (const char* opt : {"-O0", "-O2"}) {
    double gxx = 0;
    bool ok = true;
    for (const std::string& src : sources) {
      const std::string cmd = "cd '" + dir.string() + "' && g++ -std=c++17 " + opt + " -I'" + repo +
                              "/shared' -c '" + src + "' -o /dev/null >/dev/null 2>&1";
      auto t0 = std::chrono::steady_clock::now();
      ok = std::system(cmd.c_str()) == 0 && ok;
      gxx += seconds_since(t0);
    }
    if (!ok) {
      std::printf("g++ -std=c++17 %s: not available or failed on the generated sources\n", opt);
      continue;
    }
    std::printf("g++ -std=c++17 %s -c, one source after another: %.2f s; model compile is %.3f%% of it\n", opt,
                gxx, 100.0 * ours / gxx);
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace

int main(int argc, char** argv) {
  for (const shape& s : shapes()) {
    benchmark::internal::Benchmark* b =
        benchmark::RegisterBenchmark((std::string("compile/") + s.label).c_str(), BM_compile, &s);
    for (int n : sizes) b->Arg(n);
    b->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  table_reporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  print_growth(rep);
  compare_with_gxx(rep);
  benchmark::Shutdown();
  return 0;
}
