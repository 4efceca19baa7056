// How long one input may hold the back end's only thread: the real back end gets the
// largest input a path accepts, and the editor's cheapest command ("get_perspective")
// measures the wait. For a message, the wall time from its first byte until the answer
// to a "get_perspective" sent right behind it (reading its bytes included); for a file
// changed on disk, or a tree the file poll goes through, the longest round trip of
// "get_perspective" asked for without pause over the next polls.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "backend/fake_model.h"
#include "bench/backend_process.h"
#include "io/event_list.h"
#include "io/ws_test_client.h"

namespace {

namespace fs = std::filesystem;
namespace wc = vesk::io::test_client;
using clock_type = std::chrono::steady_clock;

const std::string ping = R"({"cmd":"get_perspective","mdl":"m"})";
const std::string pong = R"("cmd": "get_perspective")";

double ms_since(clock_type::time_point t0) {
  return std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
}

/// A JSON array text of `n` strings of `width` characters each.
std::string strings(size_t n, size_t width) {
  std::string out = "[";
  for (size_t i = 0; i < n; ++i) {
    std::string s = std::to_string(i);
    s.resize(width, 'x');
    out += (i ? ",\"" : "\"") + s + "\"";
  }
  return out + "]";
}

void write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

/// A back end with a reading editor.
struct setup {
  bench::backend_process b;
  vesk::io::event_list idle;
  wc::client editor;
  bool ok;
  explicit setup(benchmark::State& state) : b("vesk_loop_hold_bench"), editor(b.gui_port) {
    ok = bench::let_in(editor, idle, state, "the back end did not answer");
  }
  fs::path project() const { return b.root / "ws" / "demo"; }

  /// Sends `message` and a "get_perspective" behind it; the milliseconds until that is
  /// answered (-1 when it never is).
  double hold(const std::string& message) {
    const std::string bytes = wc::frame(1, message) + wc::frame(1, ping);
    const auto t0 = clock_type::now();
    editor.send_raw(idle, bytes);
    return bench::next_text_holding(editor, pong) ? ms_since(t0) : -1;
  }
  /// The longest round trip of "get_perspective" over `seconds` (-1 when one is lost).
  double longest_round_trip(double seconds) {
    const auto end = clock_type::now() + std::chrono::duration<double>(seconds);
    double longest = 0;
    while (clock_type::now() < end) {
      // One request at a time: a second one behind it would leave a reply unread each
      // turn, answer later round trips from the backlog and fill the back end's queue.
      const double t = bench::round_trip_ms(editor, idle, ping, pong);
      if (t < 0) return -1;
      longest = std::max(longest, t);
    }
    return longest;
  }
};

/// One message per iteration, made by `make` (which may prepare files first).
template <class Make>
void one_message(benchmark::State& state, Make make) {
  setup s(state);
  if (!s.ok) return;
  double ms = 0, cpu_ms = 0;
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string message = make(s, round++);
    state.ResumeTiming();
    const uint64_t cpu0 = s.b.cpu_ns();
    const double t = s.hold(message);
    if (t < 0) {
      state.SkipWithError("no answer after the message");
      return;
    }
    ms = std::max(ms, t);
    cpu_ms = std::max(cpu_ms, double(s.b.cpu_ns() - cpu0) / 1e6);
  }
  state.counters["hold_max_ms"] = ms;
  state.counters["backend_cpu_max_ms"] = cpu_ms;
}

void BM_HugeUnknownCommand(benchmark::State& state) {
  one_message(state, [](setup&, int) { return R"({"cmd":"none","pad":")" + std::string(31990000, 'a') + "\"}"; });
}
void BM_ValuesPastTheBound(benchmark::State& state) {
  one_message(state, [](setup&, int) {
    std::string a = R"({"cmd":"none","a":[0)";
    while (a.size() < 31990000) a += ",0";
    return a + "]}";
  });
}
void BM_DeepestNesting(benchmark::State& state) {
  one_message(state, [](setup&, int) {
    return R"({"cmd":"none","a":)" + std::string(9998, '[') + std::string(9998, ']') + "}";
  });
}
void BM_SubscribeMostNames(benchmark::State& state) {
  one_message(state, [](setup&, int) { return R"({"cmd":"set_daq_list","list":)" + strings(100000, 40) + "}"; });
}
// Against a model with 100 000 definitions, so the table is rebuilt from both.
void BM_SubscribeMostNamesWithAModel(benchmark::State& state) {
  setup s(state);
  if (!s.ok) return;
  std::vector<std::string> defs;
  for (int i = 0; i < 100000; ++i) defs.push_back(fake_link::def_record(std::to_string(i) + std::string(39, 'x'), 11));
  fake_link::model model(s.b.model_port, defs, {}, 1000);
  if (bench::next_text_holding(s.editor, "\"online\": true") == 0) {
    state.SkipWithError("the model did not come online");
    return;
  }
  const std::string message = R"({"cmd":"set_daq_list","list":)" + strings(100000, 40) + "}";
  double ms = 0;
  for (auto _ : state) ms = std::max(ms, s.hold(message));
  state.counters["hold_max_ms"] = ms;
}
// One signal packet of records for the one signal the editor subscribed: at the bound of
// a data packet (1 MiB, fanned out) and at the bound of a frame (64 MiB, dropped).
void BM_LargestSignalPacket(benchmark::State& state) {
  setup s(state);
  if (!s.ok) return;
  fake_link::model model(s.b.model_port, {fake_link::def_record("s", 11)}, {}, 1);
  if (model.wait_frame(4) == "?") {
    state.SkipWithError("the model did not come online");
    return;
  }
  const size_t before = model.count();
  s.editor.send_raw(s.idle, wc::frame(1, R"({"cmd":"set_daq_list","list":["s"]})"));
  model.wait_frame(3, before);
  std::string packet;
  while (packet.size() + 24 <= static_cast<size_t>(state.range(0))) packet += fake_link::daq_like(0);
  double ms = 0;
  for (auto _ : state) {
    model.send(32, packet);
    model.wait([&] { return model.unsent() == 0; });
    ms = std::max(ms, s.longest_round_trip(2));
  }
  state.counters["hold_max_ms"] = ms;
}
/// The nodes of a model with `n` input and `n` output ports, interleaved.
std::string port_nodes(int n) {
  std::string nodes = "[";
  for (int i = 0; i < n; ++i) {
    for (const char* kind : {"input", "output"}) {
      nodes += std::string(i || kind[0] == 'o' ? "," : "") + R"({"type":"base","name":")" + kind + std::to_string(i) +
               R"(","cfg":{"node":")" + kind + "\"}}";
    }
  }
  return nodes + "]";
}
// The view of a subsystem of 80 000 ports; with range 0 the same message under a command
// word that is not one, which costs the reading of its 4.4 MB alone.
void BM_ViewOfManyPorts(benchmark::State& state) {
  const std::string message = std::string(R"({"cmd":")") + (state.range(0) ? "get_view_config" : "none") +
                              R"(","requests":[{"node":"s","block_config":{"type":"base","cfg":)"
                              R"({"node":"subsystem","nodes":)" + port_nodes(40000) + "}}}]}";
  one_message(state, [&](setup&, int) { return message; });
}
// A "reference" block naming a model of 80 000 ports, another file each time, so it is read.
void BM_ReferenceToManyPorts(benchmark::State& state) {
  const std::string model = R"({"nodes":)" + port_nodes(40000) + "}";
  one_message(state, [&](setup& s, int round) {
    const std::string name = "big" + std::to_string(round);
    write(s.b.root / "ws" / "x-y" / "models" / (name + ".vmdl"), model);
    return R"({"cmd":"get_view_config","requests":[{"node":"r","block_config":{"type":"base","cfg":)"
           R"({"node":"reference","prj":"x-y","mdl":")" + name + "\"}}}]}";
  });
}
void BM_LargestDataFile(benchmark::State& state) {
  one_message(state, [](setup& s, int) {
    write(s.project() / "data" / "big.bin", std::string(33554432, '\x7f'));
    return std::string(R"({"cmd":"get_data_file","file_name":"big.bin"})");
  });
}
// A file not yet held each time, so it is read and sent.
void BM_OpenLargestFile(benchmark::State& state) {
  one_message(state, [](setup& s, int round) {
    const fs::path f = s.b.root / ("big" + std::to_string(round) + ".txt");
    write(f, std::string((63u << 20), 'a'));
    return R"({"cmd":"open_file","file_name":")" + f.string() + "\"}";
  });
}
// A full log history: 300 error lines of 64 KiB each first.
void BM_FullLogHistory(benchmark::State& state) {
  one_message(state, [](setup& s, int) {
    for (int i = 0; i < 300; ++i) s.hold(R"({"cmd":"n)" + std::to_string(i) + std::string(70000, 'a') + "\"}");
    return std::string(R"({"cmd":"get_log_history"})");
  });
}

/// The longest round trip over 5 s after `change` wrote into the project (the file poll
/// runs every 2 s), and the back end's CPU time over those 5 s (`BM_NothingChanged` gives
/// what the round trips themselves cost).
template <class Change>
void file_change(benchmark::State& state, Change change) {
  setup s(state);
  if (!s.ok) return;
  double ms = 0, cpu_ms = 0;
  for (auto _ : state) {
    change(s);
    const uint64_t cpu0 = s.b.cpu_ns();
    const double t = s.longest_round_trip(5);
    cpu_ms = std::max(cpu_ms, double(s.b.cpu_ns() - cpu0) / 1e6);
    ms = std::max(ms, t);
    if (t < 0) {
      state.SkipWithError("a round trip was never answered");
      return;
    }
  }
  state.counters["hold_max_ms"] = ms;
  state.counters["backend_cpu_ms"] = cpu_ms;
}

// Nothing changes: the longest round trip the machine itself adds.
void BM_NothingChanged(benchmark::State& state) {
  file_change(state, [](setup&) {});
}
// The project file at its bound of 16 MiB, as many values as a parse may build.
void BM_ProjectConfigChanged(benchmark::State& state) {
  file_change(state, [](setup& s) {
    write(s.project() / "demo.vcfg", R"({"runtime_configs":{"r":)" + strings(950000, 14) + "}}");
  });
}
// A node source of 64 MiB without a node in it: every byte is looked at.
void BM_LargestNodeSourceChanged(benchmark::State& state) {
  file_change(state, [](setup& s) {
    std::string text;
    for (int i = 0; text.size() < (64u << 20) - 64; ++i)
      text += "struct s" + std::to_string(i) + " { int a; double b; void tick(); };\n";
    write(s.project() / "nodes" / "big.h", text);
  });
}
// A model of 64 MiB that is a node with as many input ports as a parse may build.
void BM_LargestModelChanged(benchmark::State& state) {
  file_change(state, [](setup& s) {
    std::string text = R"({"model_is_node":1,"nodes":[)";
    for (int i = 0; i < 199000; ++i) {
      std::string name = std::to_string(i);
      name.resize(270, 'x');
      text += (i ? "," : "") + std::string(R"({"type":"base","cfg":{"node":"input"},"name":")") + name + "\"}";
    }
    write(s.project() / "models" / "big.vmdl", text + "]}");
  });
}
// The file poll of 60 000 files, the observed bound being 65536 entries.
void BM_PollOfTheMostFiles(benchmark::State& state) {
  file_change(state, [](setup& s) {
    const fs::path data = s.project() / "data";
    fs::create_directories(data);
    for (int i = 0; i < 60000; ++i) std::ofstream(data / ("f" + std::to_string(i)));
  });
}
// The workspace rescan at its bound of 8192 entries looked at.
void BM_RescanOfTheMostWorkspaceEntries(benchmark::State& state) {
  file_change(state, [](setup& s) {
    for (int i = 0; i < 8192; ++i) std::ofstream(s.b.root / "ws" / ("f" + std::to_string(i)));
  });
}

// Undos in one write (range 0) on a node source of range(2) MiB held open, after range(1)
// outside edits (one history holds 64 MiB: of 48 MiB, only the current content): the wait
// for the answer behind them, and the longest round trip over the 3 s after, in which
// their one push of the file and parse come.
void BM_UndosOnALargeHeldNodeSource(benchmark::State& state) {
  setup s(state);
  if (!s.ok) return;
  const fs::path file = s.project() / "nodes" / "big.h";
  std::string text;
  for (int i = 0; text.size() < (size_t(state.range(2)) << 20); ++i)
    text += "struct s" + std::to_string(i) + " { int a; double b; };\n";
  write(file, text);
  // Once the file poll has found it (the block list follows), later edits are changes.
  if (bench::next_text_holding(s.editor, R"("cmd": "get_blk_list")") == 0) return state.SkipWithError("not found");
  s.editor.send_raw(s.idle, wc::frame(1, R"({"cmd":"open_file","file_name":")" + file.string() + "\"}"));
  for (int edit = 0; edit <= state.range(1); ++edit) {
    if (edit > 0) std::ofstream(file, std::ios::app) << "// edit " << edit << "\n";
    if (bench::next_text_holding(s.editor, R"("cmd": "read_file")") == 0)
      return state.SkipWithError("the file was not pushed");
  }
  std::string frames;
  for (int i = 0; i < state.range(0); ++i)
    frames += wc::frame(1, R"({"cmd":"undo","file_name":")" + file.string() + "\"}");
  double ms = 0, longest = 0;
  for (auto _ : state) {
    const auto t0 = clock_type::now();
    s.editor.send_raw(s.idle, frames + wc::frame(1, ping));
    if (!bench::next_text_holding(s.editor, pong)) return state.SkipWithError("no answer after the undos");
    ms = ms_since(t0);
    longest = s.longest_round_trip(3);
  }
  state.counters["hold_max_ms"] = ms;
  state.counters["longest_round_trip_ms"] = longest;
}
// A build folder of 50 000 files cleaned: the wait for the answer behind the command, and
// the longest round trip over the 3 s after, while the folder is removed in slices.
void BM_CleanOfALargeBuildFolder(benchmark::State& state) {
  setup s(state);
  if (!s.ok) return;
  if (s.hold(R"({"cmd":"write_prj_config","cfg":{"runtime":"sim"}})") < 0) return state.SkipWithError("no answer");
  double ms = 0, longest = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < 50000; ++i)
      write(s.project() / "build-demo-sim" / ("d" + std::to_string(i % 100)) / std::to_string(i), "x");
    state.ResumeTiming();
    ms = std::max(ms, s.hold(R"({"cmd":"clean_build_dir"})"));
    longest = std::max(longest, s.longest_round_trip(3));
    if (fs::exists(s.project() / "build-demo-sim")) return state.SkipWithError("the folder is still there");
  }
  state.counters["hold_max_ms"] = ms;
  state.counters["longest_round_trip_ms"] = longest;
}

BENCHMARK(BM_HugeUnknownCommand)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValuesPastTheBound)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeepestNesting)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SubscribeMostNames)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SubscribeMostNamesWithAModel)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargestSignalPacket)->Arg(1 << 20)->Arg((64 << 20) - 64)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewOfManyPorts)->Arg(1)->Arg(0)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceToManyPorts)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargestDataFile)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenLargestFile)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullLogHistory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NothingChanged)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProjectConfigChanged)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargestNodeSourceChanged)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargestModelChanged)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollOfTheMostFiles)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RescanOfTheMostWorkspaceEntries)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndosOnALargeHeldNodeSource)
    ->Args({1, 0, 48})
    ->Args({5, 0, 48})
    ->Args({5, 2, 16})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CleanOfALargeBuildFolder)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
