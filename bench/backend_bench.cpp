// GUI command round trips against the real back end over loopback: 10 000 sequential
// requests of "get_perspective" and "get_backend_state", with p50 and p99 per request,
// and 20 000 of "get_perspective" while the build tool floods its output.
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

}  // namespace

BENCHMARK_MAIN();
