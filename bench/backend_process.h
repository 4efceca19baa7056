#pragma once
// The real back end for the benchmarks: `vesk --no-gui` on an empty project in a
// temporary folder with its own HOME, stopped and removed with the object.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

namespace bench {

struct backend_process {
  std::filesystem::path root;
  pid_t pid = -1;
  uint16_t gui_port = 0, model_port = 0;

  /// With `cli_script`, a copy of the program runs with a stub build tool beside it: a
  /// shell script of that body.
  explicit backend_process(const std::string& name, const std::string& cli_script = "") {
    namespace fs = std::filesystem;
    root = fs::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
    fs::create_directories(root / "home");
    std::string exe = std::string(VESK_BINARY_DIR) + "/bin/vesk";
    if (!cli_script.empty()) {
      for (const char* d : {"bin/shared", "bin/runtimes"}) fs::create_directories(root / d);
      fs::copy_file(exe, root / "bin" / "vesk", fs::copy_options::overwrite_existing);
      exe = (root / "bin" / "vesk").string();
      std::ofstream(root / "bin" / "vesk-cli") << "#!/bin/sh\n" << cli_script << "\n";
      fs::permissions(root / "bin" / "vesk-cli", fs::perms::owner_all);
    }
    fs::create_directories(root / "ws" / "demo" / "models");
    std::ofstream(root / "ws" / "demo" / "demo.vcfg") << "{}";
    std::ofstream(root / "out.txt");
    gui_port = static_cast<uint16_t>(20000 + std::random_device()() % 20000);
    model_port = static_cast<uint16_t>(gui_port + 1);
    const pid_t parent = ::getpid();
    pid = ::fork();
    if (pid == 0) {
      // The back end ends with the benchmark, also when the benchmark is killed.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(126);
      ::setenv("HOME", (root / "home").c_str(), 1);
      if (!std::freopen((root / "out.txt").c_str(), "w", stdout)) ::_exit(126);
      const std::string gp = std::to_string(gui_port), mp = std::to_string(model_port);
      const std::string cfg = (root / "ws" / "demo" / "demo.vcfg").string();
      ::execl(exe.c_str(), exe.c_str(), "--no-gui", "-gp", gp.c_str(), "-mp", mp.c_str(), cfg.c_str(), nullptr);
      ::_exit(127);
    }
    // Ready when the main loop runs; a port that moved is named in the output.
    for (int i = 0; i < 500; ++i) {
      const std::string text = out();
      if (text.find("start main loop...") != std::string::npos) {
        moved(text, "GUI-Port ", gui_port);
        moved(text, "Model-Port ", model_port);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~backend_process() {
    if (pid > 0) {
      ::kill(pid, SIGINT);
      ::waitpid(pid, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  backend_process(const backend_process&) = delete;
  backend_process& operator=(const backend_process&) = delete;

  /// Resident memory of the back end in KiB (-1 when unknown).
  long rss_kib() const { return status_kib("VmRSS:"); }
  /// The most memory the back end has held so far, in KiB (-1 when unknown).
  long peak_kib() const { return status_kib("VmHWM:"); }
  /// CPU time the back end has spent so far, in nanoseconds (0 when unknown).
  uint64_t cpu_ns() const {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    uint64_t ns = 0;
    in >> ns;
    return ns;
  }
  /// What the back end printed so far.
  std::string out() const {
    std::ifstream in(root / "out.txt");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

 private:
  long status_kib(const std::string& key) const {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
      if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
    return -1;
  }
  static void moved(const std::string& text, const std::string& what, uint16_t& port) {
    const std::string line = what + std::to_string(port) + " is in use. Using ";
    size_t at = text.find(line);
    if (at != std::string::npos) port = static_cast<uint16_t>(std::stoul(text.substr(at + line.size())));
  }
};

/// Whether the back end let `c` in (its opening handshake answered with 101); else the
/// benchmark is skipped with `why`.
inline bool let_in(vesk::io::test_client::client& c, vesk::io::event_list& idle, benchmark::State& state,
                   const char* why) {
  if (c.handshake(idle).rfind("HTTP/1.1 101", 0) == 0) return true;
  state.SkipWithError(why);
  return false;
}

/// Reads frames until a text message holding `needle` is whole; its size, or 0 when the
/// back end closed or none came within a minute. It waits on the socket itself, so no
/// sleeping of its own adds to a round trip; what was read is let go now and then.
inline size_t next_text_holding(vesk::io::test_client::client& c, const std::string& needle) {
  namespace wc = vesk::io::test_client;
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  wc::server_frame f;
  for (bool open = true;;) {
    size_t used;
    while ((used = wc::parse_frame(c.received, c.parsed, f)) > 0) {
      c.parsed += used;
      if (c.parsed > (1u << 20)) {
        c.received.erase(0, c.parsed);
        c.parsed = 0;
      }
      if (f.opcode == 1 && f.payload.find(needle) != std::string::npos) return f.payload.size();
    }
    if (!open || std::chrono::steady_clock::now() > end) return 0;
    open = c.poll_input(1000);  // what came before the close is still looked at
  }
}

/// Sends `request` as one text frame and waits for the text holding `reply`: the round
/// trip in milliseconds, or -1 when the back end closed first.
inline double round_trip_ms(vesk::io::test_client::client& c, vesk::io::event_list& idle, const std::string& request,
                            const std::string& reply) {
  const auto t0 = std::chrono::steady_clock::now();
  c.send_raw(idle, vesk::io::test_client::frame(1, request));
  if (next_text_holding(c, reply) == 0) return -1;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

/// Sets the p50, p99 and max counters from round-trip times in microseconds.
inline void report_round_trips(benchmark::State& state, std::vector<double>& micros) {
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  state.counters["max_us"] = micros.back();
}

}  // namespace bench
