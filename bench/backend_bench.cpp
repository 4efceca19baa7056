// GUI command round trips against the real back end over loopback: 10 000 sequential
// requests of "get_perspective" and "get_backend_state", with p50 and p99 per request.
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
  if (c.handshake(idle).rfind("HTTP/1.1 101", 0) != 0) {
    state.SkipWithError("the back end did not answer");
    return;
  }
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
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  state.counters["max_us"] = micros.back();
}

void BM_GetPerspective(benchmark::State& state) {
  round_trips(state, R"({"cmd":"get_perspective","mdl":"m"})");
}
void BM_GetBackendState(benchmark::State& state) { round_trips(state, R"({"cmd":"get_backend_state"})"); }

BENCHMARK(BM_GetPerspective)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetBackendState)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
