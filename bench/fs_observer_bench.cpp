// One poll of a project-sized folder tree: the back end runs it every 2 s on its only
// thread, so it must stay far below a millisecond per hundred files. The bare cost of
// asking the system about every file (open each folder, list it, fstatat each entry) is
// measured in the same run; the summary prints the poll's cost per file beside it.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "foundation/fs_observer.h"

namespace fs = std::filesystem;

namespace {

constexpr int top_dirs = 10;
constexpr int sub_dirs = 10;  // per top folder: 100 folders that hold files
constexpr int files_per_dir = 20;
constexpr int file_count = top_dirs * sub_dirs * files_per_dir;  // 2000

/// The tree, made once per run and removed at exit.
struct tree {
  fs::path root;
  fs::path one_file;
  tree() {
    std::random_device rd;
    root = fs::temp_directory_path() / ("vesk_bench_" + std::to_string(::getpid()) + "_" + std::to_string(rd()));
    for (int t = 0; t < top_dirs; ++t) {
      for (int s = 0; s < sub_dirs; ++s) {
        fs::path d = root / ("top" + std::to_string(t)) / ("sub" + std::to_string(s));
        fs::create_directories(d);
        for (int f = 0; f < files_per_dir; ++f) std::ofstream(d / ("node" + std::to_string(f) + ".h")) << "// x\n";
      }
    }
    one_file = root / "top5" / "sub5" / "node7.h";
  }
  ~tree() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

tree& the_tree() {
  static tree t;
  return t;
}

class counter : public fs_observer {
 public:
  counter() { report_existing = false; }
  void on_file_added(const fs::path&) override { ++reports; }
  void on_file_changed(const fs::path&) override { ++reports; }
  void on_file_removed(const fs::path&) override { ++reports; }
  long reports = 0;
};

/// Time per poll and per observed file, next to the items rate.
void set_counters(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * file_count);
  const auto per = benchmark::Counter::Flags(benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["time_per_poll"] = benchmark::Counter(1, per);
  state.counters["time_per_file"] = benchmark::Counter(file_count, per);
}

void BM_PollNoChange(benchmark::State& state) {
  counter c;
  obs_dir d(the_tree().root, &c);
  for (auto _ : state) d.poll();
  if (c.reports != 0) state.SkipWithError("unexpected reports");
  set_counters(state);
}
BENCHMARK(BM_PollNoChange)->Unit(benchmark::kMicrosecond);

void BM_PollOneChanged(benchmark::State& state) {
  counter c;
  obs_dir d(the_tree().root, &c);
  const fs::path& f = the_tree().one_file;
  fs::file_time_type t = fs::last_write_time(f);
  for (auto _ : state) {
    state.PauseTiming();
    t += std::chrono::seconds(1);
    fs::last_write_time(f, t);
    state.ResumeTiming();
    d.poll();
  }
  if (c.reports != static_cast<long>(state.iterations())) state.SkipWithError("missed a change");
  set_counters(state);
}
BENCHMARK(BM_PollOneChanged)->Unit(benchmark::kMicrosecond);

void BM_BuildTree(benchmark::State& state) {
  counter c;
  for (auto _ : state) {
    obs_dir d(the_tree().root, &c);
    benchmark::DoNotOptimize(d.dirs.size());
  }
  set_counters(state);
}
BENCHMARK(BM_BuildTree)->Unit(benchmark::kMicrosecond);

/// The least any poll must do: open every folder once, list it, fstatat every entry
/// relative to it, and descend into the folders. Returns the number of entries.
long bare_walk(int dir_fd) {
  long n = 0;
  DIR* d = ::fdopendir(dir_fd);
  if (d == nullptr) return 0;
  while (const dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0))) continue;
    struct stat st;
    if (::fstatat(dir_fd, e->d_name, &st, 0) != 0) continue;
    ++n;
    if (S_ISDIR(st.st_mode)) n += bare_walk(::openat(dir_fd, e->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  ::closedir(d);
  return n;
}

void BM_BareFstatat(benchmark::State& state) {
  const long expected = file_count + top_dirs + top_dirs * sub_dirs;
  long seen = 0;
  for (auto _ : state) {
    seen = bare_walk(::open(the_tree().root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    benchmark::DoNotOptimize(seen);
  }
  if (seen != expected) state.SkipWithError("walk missed entries");
  set_counters(state);
}
BENCHMARK(BM_BareFstatat)->Unit(benchmark::kMicrosecond);

/// Prints the cost per file of each benchmark and the poll's ratio to the bare walk.
class ratio_reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("time_per_file");
      if (it != r.counters.end()) per_file[r.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double bare = per_file["BM_BareFstatat"];
    std::printf("\ncost per file (%d files, %d folders):\n", file_count, top_dirs + top_dirs * sub_dirs + 1);
    std::printf("  %-20s %8.3f us\n", "bare fstatat walk", bare * 1e6);
    for (const char* name : {"BM_PollNoChange", "BM_PollOneChanged", "BM_BuildTree"}) {
      const double t = per_file[name];
      std::printf("  %-20s %8.3f us   x%.2f the bare walk\n", name + 3, t * 1e6, bare > 0 ? t / bare : 0.0);
    }
  }

 private:
  std::map<std::string, double> per_file;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
