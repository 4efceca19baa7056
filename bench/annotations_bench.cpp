// Speed of the node-source parser on a generated ~40 000-line header (read as four
// files) of annotated node classes, functions and automatic nodes inside namespaces,
// with templates and comments. For scale, the same text is also given once to `g++ -fsyntax-only`.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "annotations/scanner.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace {

/// Appends one node class with every kind of annotation.
void class_node(std::string& out, int i) {
  const std::string n = std::to_string(i);
  out += "namespace gen_" + n + " {\n"
         "/**\n"
         " * @node: class\n"
         " * @info: Generated controller " + n + ".\n"
         " */\n"
         "class ctrl_" + n + " {\n"
         " public:\n"
         "  //@construct: (limit)\n"
         "  explicit ctrl_" + n + "(double limit) : limit_(limit) {}\n"
         "  //@input: e; type: double; default: 0\n"
         "  double e = 0;\n"
         "  //@output\n"
         "  double u = 0;\n"
         "  //@parameter\n"
         "  double kp = 1.5;\n"
         "  //@parameter: on; type: bool; default: true\n"
         "  //@constant: limit; value: 10.0\n"
         "  //@init: start()\n"
         "  void start() { state_ = 0; }\n"
         "  //@tick: step(e, kp) -> u\n"
         "  double step(double err, double gain) {\n"
         "    // integrate with clamping\n"
         "    state_ += gain * err;\n"
         "    if (state_ > limit_) {\n"
         "      state_ = limit_;\n"
         "    }\n"
         "    return clamp_to<double>(state_, limit_);\n"
         "  }\n"
         "  //@final: stop()\n"
         "  void stop() {}\n"
         "\n"
         " private:\n"
         "  double state_ = 0;\n"
         "  double limit_;\n"
         "};\n"
         "}  // namespace gen_" + n + "\n\n";
}

/// Appends an automatic raster source and an annotated function.
void auto_and_function_nodes(std::string& out, int i) {
  const std::string n = std::to_string(i);
  out += "namespace src_" + n + " {\n"
         "/* @node: auto\n"
         " * @raster: source\n"
         " */\n"
         "struct clock_" + n + " {\n"
         "  int param_period = 10;\n"
         "  double out_count = 0;\n"
         "  pair<int, double> cache_;\n"
         "  vesk::time poll() {\n"
         "    out_count += 1;\n"
         "    return vesk::time::ms(param_period);\n"
         "  }\n"
         "};\n"
         "\n"
         "//@node: function\n"
         "//@tick: -> y\n"
         "//@input: x; type: double\n"
         "//@output: y; type: double\n"
         "inline double twice_" + n + "(double x) { return 2 * x; }\n"
         "}  // namespace src_" + n + "\n\n";
}

const std::string& header_text() {
  static const std::string text = [] {
    std::string out =
        "#pragma once\n"
        "namespace vesk {\n"
        "struct time {\n"
        "  static time ms(int) { return time(); }\n"
        "};\n"
        "}  // namespace vesk\n"
        "template <typename T> T clamp_to(T v, T limit) { return v > limit ? limit : v; }\n"
        "template <typename A, typename B> struct pair { A first; B second; };\n\n";
    for (int i = 0; out.size() < 820000; ++i) {  // about 40 000 lines
      class_node(out, i);
      if (i % 3 == 0) auto_and_function_nodes(out, i);
    }
    return out;
  }();
  return text;
}

/// The header cut into four files at top-level namespaces: one file may describe at
/// most 1000 nodes (annotations/parser_state.h), and the header holds more.
const std::vector<std::string>& header_files() {
  static const std::vector<std::string> files = [] {
    const std::string& text = header_text();
    std::vector<std::string> out;
    size_t begin = 0;
    for (size_t k = 1; k < 4; ++k) {
      const size_t cut = text.find("\nnamespace gen_", text.size() * k / 4) + 1;
      out.push_back(text.substr(begin, cut - begin));
      begin = cut;
    }
    out.push_back(text.substr(begin));
    return out;
  }();
  return files;
}

/// Parses the four files; the number of nodes described.
size_t parse_all() {
  size_t nodes = 0;
  for (const std::string& file : header_files())
    nodes += vesk::annotations::parse_text(file, "bench/nodes.h", "bench").size();
  return nodes;
}

size_t line_count() { return static_cast<size_t>(std::count(header_text().begin(), header_text().end(), '\n')); }

void silence_logs() {
  for (log_stream* s : {&log_debug, &log_info, &log_warn, &log_err}) s->sink = [](const char*, size_t) {};
}

void BM_ParseGeneratedHeader(benchmark::State& state) {
  silence_logs();
  const std::string& text = header_text();
  size_t nodes = 0;
  header_files();
  for (auto _ : state) {
    nodes = parse_all();
    benchmark::DoNotOptimize(nodes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * line_count()), benchmark::Counter::kIsRate);
  state.counters["nodes"] = static_cast<double>(nodes);
}
BENCHMARK(BM_ParseGeneratedHeader)->Unit(benchmark::kMillisecond);

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// Times the parser (best of five) and one compiler syntax check of the same file.
void compare_with_compiler() {
  silence_logs();
  const std::string& text = header_text();
  double parse_best = 1e9;
  for (int i = 0; i < 5; ++i) {
    auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(parse_all());
    parse_best = std::min(parse_best, seconds_since(start));
  }
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "vesk_annotations_bench.h";
  if (!write_file(file.string(), text)) {
    std::printf("compiler comparison skipped: cannot write %s\n", file.string().c_str());
    return;
  }
  const std::string command = "g++ -std=c++17 -fsyntax-only -x c++ '" + file.string() + "' 2>/dev/null";
  auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const double compile = seconds_since(start);
  std::filesystem::remove(file);
  std::printf("generated header: %zu lines, %zu bytes\n", line_count(), text.size());
  std::printf("parser: %.2f ms (%.1f MB/s, %.0f lines/s)\n", parse_best * 1e3,
              text.size() / parse_best / 1e6, line_count() / parse_best);
  if (status != 0) {
    std::printf("g++ -fsyntax-only: not available or failed (status %d)\n", status);
    return;
  }
  std::printf("g++ -fsyntax-only: %.2f ms\n", compile * 1e3);
  std::printf("parser is %.1fx faster than the compiler's syntax check\n", compile / parse_best);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  compare_with_compiler();
  benchmark::Shutdown();
  return 0;
}
