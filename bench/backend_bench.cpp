// GUI command round trips against the real back end over loopback: 10 000 sequential
// requests of "get_perspective" and "get_backend_state", with p50 and p99 per request,
// 20 000 of "get_perspective" while the build tool floods its output, and "get_perspective"
// right behind costly inputs (views of many models, deep configurations and forms).
// The back end runs with --no-gui in a temporary folder with its own HOME.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/backend_process.h"
#include "io/event_list.h"
#include "io/ws_test_client.h"

namespace {

namespace fs = std::filesystem;
namespace wc = vesk::io::test_client;

struct backend : bench::backend_process {
  backend() : backend_process("vesk_bench") {}
};

void round_trips(benchmark::State& state, const std::string& request) {
  backend b;
  vesk::io::event_list idle;
  wc::client c(b.gui_port);
  if (!bench::let_in(c, idle, state, "the back end did not answer")) return;
  const std::string frame = wc::frame(1, request);
  std::vector<double> micros;
  for (auto _ : state) {
    micros.clear();
    for (int i = 0; i < 10000; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      c.send_raw(idle, frame);
      // Wait on the socket itself, so the client adds no sleeping of its own.
      wc::server_frame f;
      size_t used;
      while ((used = wc::parse_frame(c.received, c.parsed, f)) == 0) c.poll_input(1000);
      c.parsed += used;
      micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
  }
  bench::report_round_trips(state, micros);
}

void BM_GetPerspective(benchmark::State& state) {
  round_trips(state, R"({"cmd":"get_perspective","mdl":"m"})");
}
void BM_GetBackendState(benchmark::State& state) { round_trips(state, R"({"cmd":"get_backend_state"})"); }

BENCHMARK(BM_GetPerspective)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetBackendState)->Iterations(1)->Unit(benchmark::kMillisecond);

/// The round trip of "get_perspective" while the build tool writes without end: ordinary
/// lines as fast as it can, or one message line that never ends. The log entries that
/// arrive meanwhile are read and skipped.
void round_trips_while_flooding(benchmark::State& state, const std::string& flood) {
  bench::backend_process b("vesk_flood_bench", flood);
  vesk::io::event_list idle;
  wc::client c(b.gui_port);
  if (!bench::let_in(c, idle, state, "the back end did not answer")) return;
  c.send_raw(idle, wc::frame(1, R"({"cmd":"build"})"));
  // The flood has begun once the build state is 1; then two polls more.
  if (bench::next_text_holding(c, R"("build_state": 1)") == 0) {
    state.SkipWithError("the build did not start");
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const std::string frame = wc::frame(1, R"({"cmd":"get_perspective","mdl":"m"})");
  std::vector<double> micros;
  for (auto _ : state) {
    micros.clear();
    for (int i = 0; i < 20000; ++i) {  // some seconds: many polls
      const auto t0 = std::chrono::steady_clock::now();
      c.send_raw(idle, frame);
      if (bench::next_text_holding(c, R"("cmd": "get_perspective")") == 0) {
        state.SkipWithError("the back end closed the connection");
        return;
      }
      micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
  }
  bench::report_round_trips(state, micros);
  state.counters["backend_rss_kib"] = static_cast<double>(b.rss_kib());
}

void BM_GetPerspectiveWhileLinesFlood(benchmark::State& state) {
  round_trips_while_flooding(state, "exec yes 'a console line of forty bytes or so'");
}
void BM_GetPerspectiveWhileOneMessageLineGrows(benchmark::State& state) {
  round_trips_while_flooding(state, "printf 'j: {\"t\":\"'\nexec tr '\\0' a < /dev/zero");
}

BENCHMARK(BM_GetPerspectiveWhileLinesFlood)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPerspectiveWhileOneMessageLineGrows)->Iterations(1)->Unit(benchmark::kMillisecond);

/// The round trip of "get_perspective" sent right behind each of 20 costly inputs on the
/// same connection: each time is what the input held the loop, plus one round trip. The
/// size of the state the editor gets afterwards is counted too.
void round_trips_behind(benchmark::State& state, bench::backend_process& b, const std::string& input) {
  vesk::io::event_list idle;
  wc::client c(b.gui_port);
  if (!bench::let_in(c, idle, state, "the back end did not answer")) return;
  const std::string in = wc::frame(1, input), cheap = wc::frame(1, R"({"cmd":"get_perspective","mdl":"m"})");
  std::vector<double> micros;
  for (auto _ : state) {
    micros.clear();
    for (int i = 0; i < 20; ++i) {
      c.send_raw(idle, in);
      const auto t0 = std::chrono::steady_clock::now();
      c.send_raw(idle, cheap);
      if (bench::next_text_holding(c, R"("cmd": "get_perspective")") == 0) {
        state.SkipWithError("the back end closed the connection");
        return;
      }
      micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
  }
  bench::report_round_trips(state, micros);
  c.send_raw(idle, wc::frame(1, R"({"cmd":"get_backend_state"})"));
  state.counters["state_bytes"] = static_cast<double>(bench::next_text_holding(c, R"("cmd": "backend_state")"));
  state.counters["backend_peak_kib"] = static_cast<double>(b.peak_kib());
}

/// One message of 10000 "reference" requests naming 257 models of 400 KB in turn (one more
/// than are cached), in a folder the back end does not load: each message reads what its
/// bound lets it, then is refused.
void BM_GetPerspectiveBehindViewsOfManyModels(benchmark::State& state) {
  bench::backend_process b("vesk_models_bench");
  const fs::path models = b.root / "ws" / "x-y" / "models";
  fs::create_directories(models);
  // Four ports among blocks of other kinds, as a model of some thousand blocks has.
  std::string model = R"({"nodes":{)";
  for (int i = 0; model.size() < (400u << 10); ++i)
    model += (i ? "," : "") + std::string(R"("n)") + std::to_string(i) + R"(":{"type":")" +
             (i < 4 ? "base" : "function") + R"(","name":"u)" + std::to_string(i) + R"(","cfg":{"node":")" +
             (i % 2 ? "output" : "input") + R"(","x":1.5,"y":[2,3]}})";
  model += "}}";
  for (int m = 0; m < 257; ++m) std::ofstream(models / ("m" + std::to_string(m) + ".vmdl")) << model;
  std::string views = R"({"cmd":"get_view_config","requests":[)";
  for (int i = 0; i < 10000; ++i)
    views += (i ? "," : "") + std::string(R"({"node":"r","block_config":{"type":"base","cfg":{"node":"reference",)") +
             R"("prj":"x-y","mdl":"m)" + std::to_string(i % 257) + R"("}}})";
  round_trips_behind(state, b, views + "]}");
}

/// A "write_prj_config" of 20 KB nesting 9990 levels deep, refused whole each time.
void BM_GetPerspectiveBehindADeepProjectConfig(benchmark::State& state) {
  bench::backend_process b("vesk_deep_cfg_bench");
  round_trips_behind(state, b,
                     R"({"cmd":"write_prj_config","cfg":{"runtime_configs":{"sim":)" + std::string(9990, '[') +
                         std::string(9990, ']') + "}}}");
}

/// "get_backend_state" with a runtime folder in the workspace whose form of 20 KB nests
/// 9990 levels deep (refused when the folder is taken in, so the state stays small).
void BM_GetPerspectiveBehindTheStateWithADeepForm(benchmark::State& state) {
  bench::backend_process b("vesk_deep_form_bench");
  fs::create_directories(b.root / "ws" / "rt_deep");
  std::ofstream(b.root / "ws" / "rt_deep" / "config_def.json") << std::string(9990, '[') << std::string(9990, ']');
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // one file poll takes the folder in
  round_trips_behind(state, b, R"({"cmd":"get_backend_state"})");
}

BENCHMARK(BM_GetPerspectiveBehindViewsOfManyModels)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPerspectiveBehindADeepProjectConfig)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPerspectiveBehindTheStateWithADeepForm)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
