// The back end's project files on its only thread: the 2 s file poll of a project with
// many node sources, models and views (nothing changed, and one file edited from outside
// per poll), a poll with a large loose file open, undo/redo round trips on a large managed
// file (each a full write and a push), and save points once the histories are at their
// bound in all. Times are per operation.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "backend/main_controller.h"
#include "foundation/log_stream.h"
#include "foundation/startup_paths.h"

namespace fs = std::filesystem;

namespace {

/// <tmp>/ws/prj with `files` files spread over nodes (headers and sources), models and
/// views, its own configuration and runtimes folders, and a controller on it.
struct project {
  fs::path root, prj;
  vesk::io::event_list loop;
  vesk::log_history_t history;
  std::unique_ptr<vesk::main_controller> ctl;

  explicit project(int files, size_t big_file = 0) {
    std::random_device rd;
    root = fs::temp_directory_path() / ("vesk_files_bench_" + std::to_string(::getpid()) + "_" + std::to_string(rd()));
    prj = root / "ws" / "prj";
    config_dir = root / "config";
    runtimes_dir = root / "runtimes";
    fs::create_directories(config_dir);
    for (const char* d : {"nodes/a", "nodes/b", "models", "views", "data"}) fs::create_directories(prj / d);
    std::ofstream(prj / "prj.vcfg") << "{}";
    for (int i = 0; i < files; ++i) {
      const std::string n = std::to_string(i);
      switch (i % 4) {
        case 0: std::ofstream(prj / "nodes/a" / ("n" + n + ".h")) << "//@node: class\nclass n" << n << " {\n};\n"; break;
        case 1: std::ofstream(prj / "nodes/b" / ("n" + n + ".cpp")) << "// source " << n << "\n"; break;
        case 2: std::ofstream(prj / "models" / ("m" + n + ".vmdl")) << R"({"model_is_node":1,"nodes":[]})"; break;
        default: std::ofstream(prj / "views" / ("v" + n + ".json")) << "{}"; break;
      }
    }
    if (big_file) std::ofstream(prj / "views" / "big.json") << std::string(big_file, 'x');
    for (log_stream* s : {&log_debug, &log_info, &log_warn}) s->enabled = false;
    ctl = std::make_unique<vesk::main_controller>(loop, prj / "prj.vcfg", history, 0, 0, false, false);
  }
  ~project() {
    ctl.reset();
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

void BM_FilePollUnchanged(benchmark::State& state) {
  project p(static_cast<int>(state.range(0)));
  for (auto _ : state) p.ctl->poll_files();
  state.counters["files"] = static_cast<double>(state.range(0));
  state.counters["per_file"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                  benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FilePollUnchanged)->Arg(100)->Arg(1000)->Arg(4000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// One view edited by another program before each poll: the poll reads it, records a
// history entry and resends the file list.
void BM_FilePollOneOutsideEdit(benchmark::State& state) {
  project p(static_cast<int>(state.range(0)));
  const fs::path edited = p.prj / "views" / "v3.json";
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(edited, std::ios::trunc) << "{\"n\":" << ++n << "}";
    fs::last_write_time(edited, fs::last_write_time(edited) + std::chrono::seconds(n));
    state.ResumeTiming();
    p.ctl->poll_files();
  }
}
BENCHMARK(BM_FilePollOneOutsideEdit)->Arg(100)->Arg(1000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Undo then redo on a large file with one save point, each in a burst of its own: two full
// writes and two settles (no editor to push to) per iteration.
void BM_UndoRedoLargeFile(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  project p(0, size);
  fs::path big = p.prj / "views" / "big.json";
  std::shared_ptr<vesk::managed_file> f = p.ctl->prj_dir.get_file(big);
  f->add_save_point(std::string(size, 'y'), true);
  for (auto _ : state) {
    f->undo();
    p.ctl->writes.flush();
    p.ctl->settles.run();
    f->redo();
    p.ctl->writes.flush();
    p.ctl->settles.run();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * size));
  state.counters["per_op"] = benchmark::Counter(2, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_UndoRedoLargeFile)->Arg(64 << 10)->Arg(1 << 20)->Arg(8 << 20)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A large loose file held and unchanged: the poll looks at its stamp, never at its bytes.
void BM_FilePollLargeLooseFile(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  project p(100);
  fs::path loose = p.root / "loose.txt";
  std::ofstream(loose) << std::string(size, 'l');
  p.ctl->workspace.get_file(loose);
  for (auto _ : state) p.ctl->poll_files();
}
BENCHMARK(BM_FilePollLargeLooseFile)->Arg(1 << 20)->Arg(32 << 20)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Save points (not written) of a 1 MiB file while all histories are at their bound in
// all: each drops the oldest step of the `files` held, found by looking at every file.
void BM_SavePointAtTheTotalBound(benchmark::State& state) {
  project p(static_cast<int>(state.range(0)), 1 << 20);
  fs::path big = p.prj / "views" / "big.json";
  std::shared_ptr<vesk::managed_file> f = p.ctl->prj_dir.get_file(big);
  vesk::history_budget& budget = vesk::history_budget::shared();
  const size_t total = budget.total;
  budget.total = budget.held() + (8 << 20);
  std::string text(1 << 20, 'a');
  for (auto _ : state) {
    ++text[0];
    f->add_save_point(text, false);
  }
  budget.total = total;
  state.counters["files"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_SavePointAtTheTotalBound)->Arg(100)->Arg(4000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
