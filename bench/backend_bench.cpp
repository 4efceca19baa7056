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

#include "io/event_list.h"
#include "io/ws_test_client.h"

namespace {

namespace fs = std::filesystem;
namespace wc = vesk::io::test_client;

/// One running back end on a project of its own.
struct backend {
  fs::path root;
  pid_t pid = -1;
  uint16_t port = 0;

  backend() {
    root = fs::temp_directory_path() / ("vesk_bench_" + std::to_string(::getpid()));
    fs::create_directories(root / "home");
    fs::create_directories(root / "ws" / "demo" / "models");
    std::ofstream(root / "ws" / "demo" / "demo.vcfg") << "{}";
    std::ofstream(root / "out.txt");
    port = static_cast<uint16_t>(20000 + std::random_device()() % 20000);
    pid = ::fork();
    if (pid == 0) {
      ::setenv("HOME", (root / "home").c_str(), 1);
      if (!std::freopen((root / "out.txt").c_str(), "w", stdout)) ::_exit(126);
      const std::string exe = std::string(VESK_BINARY_DIR) + "/bin/vesk";
      const std::string p = std::to_string(port), mp = std::to_string(port + 1);
      const std::string cfg = (root / "ws" / "demo" / "demo.vcfg").string();
      ::execl(exe.c_str(), exe.c_str(), "--no-gui", "-gp", p.c_str(), "-mp", mp.c_str(), cfg.c_str(), nullptr);
      ::_exit(127);
    }
    // Ready when the main loop runs; the port it took is in its output when it moved.
    for (int i = 0; i < 500; ++i) {
      std::ifstream in(root / "out.txt");
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const std::string moved = "GUI-Port " + std::to_string(port) + " is in use. Using ";
      if (text.find("start main loop...") != std::string::npos) {
        size_t at = text.find(moved);
        if (at != std::string::npos) port = static_cast<uint16_t>(std::stoul(text.substr(at + moved.size())));
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~backend() {
    if (pid > 0) {
      ::kill(pid, SIGINT);
      ::waitpid(pid, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

void round_trips(benchmark::State& state, const std::string& request) {
  backend b;
  vesk::io::event_list idle;
  wc::client c(b.port);
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
