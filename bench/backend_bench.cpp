// GUI command round trips against the real back end over loopback: 10 000 sequential
// requests of "get_perspective" and "get_backend_state", with p50 and p99 per request,
// and 20 000 of "get_perspective" while the build tool floods its output; the longest
// round trip while a burst of perspectives arrives, a stop waits for a model that never
// quits, or replaced runs that ignore SIGTERM are stopped; data file reads between
// perspectives; "get_perspective" right behind costly inputs (views of many models, deep
// configurations and forms); the peak memory of one large save point.
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

#include "backend/fake_model.h"
#include "bench/backend_process.h"
#include "foundation/json.h"
#include "io/event_list.h"
#include "io/ws_test_client.h"

namespace {

namespace fs = std::filesystem;
namespace wc = vesk::io::test_client;

/// The editor's cheapest command, and what its answer holds.
const std::string cheap_request = R"({"cmd":"get_perspective","mdl":"m"})";
const std::string cheap_reply = R"("cmd": "get_perspective")";

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
  std::vector<double> micros;
  for (auto _ : state) {
    micros.clear();
    for (int i = 0; i < 20000; ++i) {  // some seconds: many polls
      const double ms = bench::round_trip_ms(c, idle, cheap_request, cheap_reply);
      if (ms < 0) return state.SkipWithError("the back end closed the connection");
      micros.push_back(ms * 1000);
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

/// The round trips of "get_perspective" in the second after 100 "set_perspective" of 64
/// bytes, with "model_perspectives.json" near its 16 MiB bound: the first one (right after
/// the burst) and the longest (one write of the whole file), over 10 bursts.
void BM_GetPerspectiveAfterABurstOfPerspectives(benchmark::State& state) {
  backend b;
  vesk::io::event_list idle;
  wc::client c(b.gui_port);
  if (!bench::let_in(c, idle, state, "the back end did not answer")) return;
  const std::string get = R"({"cmd":"get_perspective","mdl":"m0"})";
  // One perspective fills the file to 15.9 MiB.
  c.send_raw(idle, wc::frame(1, "{\"cmd\":\"set_perspective\",\"mdl\":\"big\",\"perspective\":\"" +
                                     std::string(16660000, 'p') + "\"}"));
  if (bench::round_trip_ms(c, idle, get, cheap_reply) < 0) return state.SkipWithError("no answer");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::string burst;
  for (int i = 0; i < 100; ++i)
    burst += wc::frame(1, R"({"cmd":"set_perspective","mdl":"m)" + std::to_string(i) + R"(","perspective":{"s":1}})");
  double longest = 0, first = 0;
  for (auto _ : state) {
    for (int round = 0; round < 10; ++round) {
      c.send_raw(idle, burst);
      // For 1 s: the burst's handling, then its one write of the whole file.
      for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1); std::chrono::steady_clock::now() < end;) {
        const double ms = bench::round_trip_ms(c, idle, get, cheap_reply);
        if (ms < 0) return state.SkipWithError("the back end closed the connection");
        if (first == 0) first = ms;
        longest = std::max(longest, ms);
      }
    }
  }
  state.counters["first_round_trip_ms"] = first;
  state.counters["longest_round_trip_ms"] = longest;
}
BENCHMARK(BM_GetPerspectiveAfterABurstOfPerspectives)->Iterations(1)->Unit(benchmark::kMillisecond);

/// 100 pairs of "set_perspective" and "get_data_file" (a data file of 12 KB), each pair
/// answered before the next, with "model_perspectives.json" near its 16 MiB bound: the
/// data file reads must not write the perspectives each time. The time of all pairs.
void BM_DataFilesBetweenPerspectives(benchmark::State& state) {
  backend b;
  vesk::io::event_list idle;
  wc::client c(b.gui_port);
  if (!bench::let_in(c, idle, state, "the back end did not answer")) return;
  fs::create_directories(b.root / "ws" / "demo" / "data");
  std::ofstream(b.root / "ws" / "demo" / "data" / "d.bin") << std::string(12 << 10, 'd');
  c.send_raw(idle, wc::frame(1, "{\"cmd\":\"set_perspective\",\"mdl\":\"big\",\"perspective\":\"" +
                                     std::string(16660000, 'p') + "\"}"));
  if (bench::round_trip_ms(c, idle, cheap_request, cheap_reply) < 0) return state.SkipWithError("no answer");
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // its one write has ended
  const std::string get = R"({"cmd":"get_data_file","file_name":"d.bin"})";
  double longest = 0;
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) {
      c.send_raw(idle, wc::frame(1, R"({"cmd":"set_perspective","mdl":"m)" + std::to_string(i) +
                                        R"(","perspective":{"s":1}})"));
      const double ms = bench::round_trip_ms(c, idle, get, R"("cmd": "get_data_file")");
      if (ms < 0) return state.SkipWithError("the back end closed the connection");
      longest = std::max(longest, ms);
    }
  }
  state.counters["longest_round_trip_ms"] = longest;
}
BENCHMARK(BM_DataFilesBetweenPerspectives)->Iterations(1)->Unit(benchmark::kMillisecond);

/// The longest round trip of "get_perspective" in the 1.5 s after "kill_build", while the
/// back end waits for a model that completed its handshake and never quits.
void BM_GetPerspectiveWhileAStopWaitsForTheModel(benchmark::State& state) {
  bench::backend_process b("vesk_stop_bench", "exec sleep 30");
  vesk::io::event_list idle;
  wc::client c(b.gui_port);
  if (!bench::let_in(c, idle, state, "the back end did not answer")) return;
  double longest = 0;
  for (auto _ : state) {
    for (int round = 0; round < 3; ++round) {
      c.send_raw(idle, wc::frame(1, R"({"cmd":"build"})"));
      fake_link::model m(b.model_port, {fake_link::def_record("a", 11)}, {});
      m.obey_quit = false;
      if (bench::next_text_holding(c, R"("online": true)") == 0) return state.SkipWithError("the model never came online");
      c.send_raw(idle, wc::frame(1, R"({"cmd":"kill_build"})"));
      for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
           std::chrono::steady_clock::now() < end;) {
        const double ms = bench::round_trip_ms(c, idle, cheap_request, cheap_reply);
        if (ms < 0) return state.SkipWithError("the back end closed the connection");
        longest = std::max(longest, ms);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the stopped run is collected
    }
  }
  state.counters["longest_round_trip_ms"] = longest;
}
BENCHMARK(BM_GetPerspectiveWhileAStopWaitsForTheModel)->Iterations(1)->Unit(benchmark::kMillisecond);

/// Ten "build" in one write, each replacing a run that ignores SIGTERM, as does the model
/// it started in a group of its own: the wait for the "get_perspective" behind them, the
/// longest round trip in the 2 s of their stops (SIGKILL after 0.1 s, the models' groups
/// after 1 s), and how long the back end's own stop then takes with the last run left.
void BM_GetPerspectiveWhileReplacedRunsAreStopped(benchmark::State& state) {
  bench::backend_process b("vesk_replace_bench",
                           "trap '' TERM\n"
                           "perl -e 'setpgrp(0, 0); $SIG{TERM} = \"IGNORE\"; exec \"sleep\", \"30\"' &\n"
                           "wait");
  vesk::io::event_list idle;
  wc::client c(b.gui_port);
  if (!bench::let_in(c, idle, state, "the back end did not answer")) return;
  std::string builds;
  for (int i = 0; i < 10; ++i) builds += wc::frame(1, R"({"cmd":"build"})");
  double hold = 0, longest = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    c.send_raw(idle, builds + wc::frame(1, cheap_request));
    if (bench::next_text_holding(c, cheap_reply) == 0) return state.SkipWithError("no answer behind the builds");
    hold = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    for (auto end = t0 + std::chrono::seconds(2); std::chrono::steady_clock::now() < end;) {
      const double ms = bench::round_trip_ms(c, idle, cheap_request, cheap_reply);
      if (ms < 0) return state.SkipWithError("the back end closed the connection");
      longest = std::max(longest, ms);
    }
  }
  const auto t0 = std::chrono::steady_clock::now();
  ::kill(b.pid, SIGINT);
  ::waitpid(b.pid, nullptr, 0);
  b.pid = -1;
  state.counters["hold_ms"] = hold;
  state.counters["longest_round_trip_ms"] = longest;
  state.counters["stop_ms"] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}
BENCHMARK(BM_GetPerspectiveWhileReplacedRunsAreStopped)->Iterations(1)->Unit(benchmark::kMillisecond);

/// How much one "add_save_point" of about 30 MB raises the back end's peak, as a multiple
/// of the message: for a view (arg 0), a model (1) and a node header (2).
void BM_SavePointPeak(benchmark::State& state) {
  backend b;
  vesk::io::event_list idle;
  wc::client c(b.gui_port);
  if (!bench::let_in(c, idle, state, "the back end did not answer")) return;
  const int kind = static_cast<int>(state.range(0));
  const char* names[] = {"views/big.json", "models/big.json", "nodes/big.h"};
  const std::string file = (b.root / "ws" / "demo" / names[kind]).string();
  std::string content;
  if (kind == 2) {
    while (content.size() < 30000000) content += "// a comment line of a large node source\nint f(int x);\n";
  } else {
    content = "{\"model_is_node\": 1, \"nodes\": [";
    // Its quotes are escaped in the message, which must stay within the 32000000 bytes.
    for (int i = 0; content.size() < 26000000; ++i)
      content += (i ? "," : "") + std::string(R"({"type":"base","name":"n)") + std::to_string(i) +
                 R"(","cfg":{"node":"input"},"pos":[10,20]})";
    content += "]}";
  }
  c.send_raw(idle, wc::frame(1, vesk::json{{"cmd", "open_file"}, {"file_name", file}}.dump()));
  if (bench::next_text_holding(c, R"("cmd": "read_file")") == 0) return state.SkipWithError("not opened");
  const std::string message =
      vesk::json{{"cmd", "add_save_point"}, {"file_name", file}, {"content", content}}.dump();
  content.clear();
  content.shrink_to_fit();
  const long before = b.peak_kib();
  for (auto _ : state) {
    c.send_raw(idle, wc::frame(1, message));
    if (bench::round_trip_ms(c, idle, cheap_request, cheap_reply) < 0)
      return state.SkipWithError("no answer");
  }
  const double rise = static_cast<double>(b.peak_kib() - before) * 1024;
  state.counters["message_mib"] = static_cast<double>(message.size()) / (1 << 20);
  state.counters["peak_rise_mib"] = rise / (1 << 20);
  state.counters["peak_rise_per_message_byte"] = rise / static_cast<double>(message.size());
}
BENCHMARK(BM_SavePointPeak)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

/// The round trip of "get_perspective" sent right behind each of 20 costly inputs on the
/// same connection: each time is what the input held the loop, plus one round trip. The
/// size of the state the editor gets afterwards is counted too.
void round_trips_behind(benchmark::State& state, bench::backend_process& b, const std::string& input) {
  vesk::io::event_list idle;
  wc::client c(b.gui_port);
  if (!bench::let_in(c, idle, state, "the back end did not answer")) return;
  const std::string in = wc::frame(1, input);
  std::vector<double> micros;
  for (auto _ : state) {
    micros.clear();
    for (int i = 0; i < 20; ++i) {
      c.send_raw(idle, in);
      const double ms = bench::round_trip_ms(c, idle, cheap_request, cheap_reply);
      if (ms < 0) return state.SkipWithError("the back end closed the connection");
      micros.push_back(ms * 1000);
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
