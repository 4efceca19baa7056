// Signal values from a model through the real back end to a WebSocket client over
// loopback: throughput (MB/s and values/s of the messages the client receives) and
// latency (a send time carried in each record's passed-on bytes), with 10, 1 000 and
// 10 000 subscribed signals, flat out and paced; the back end's resident memory while a client that
// subscribed stops reading and the model keeps sending (the model is the tests' fake); what
// 128 KiB of hostile input on the model port costs the back end's only thread; the cost
// of a 63 MiB model output line against an ignored frame of the same size; and what the
// largest definitions the back end accepts cost it to take and to publish; and the editor's
// round trip while strangers connect to both ports as fast as they are refused.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
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

uint64_t now_ns() {
  return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(clock_type::now().time_since_epoch()).count());
}

/// The lines in `out` about connections refused on either port.
size_t refusal_lines(const std::string& out) {
  size_t n = 0;
  for (const char* line : {"debug: Model port: a connection ", "error: Refused a GUI connection from the web origin"}) {
    for (size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1)) ++n;
  }
  return n;
}

struct backend : bench::backend_process {
  backend() : backend_process("vesk_gateway_bench") {}
};

/// A back end, a model with `n` signals and a client that subscribed all of them.
struct stream_setup {
  backend b;
  std::vector<std::string> defs;
  std::unique_ptr<fake_link::model> model;
  vesk::io::event_list idle;
  std::unique_ptr<wc::client> client;
  std::string packet;  ///< one value record per signal
  bool ok = false;

  explicit stream_setup(size_t n) {
    std::string names = "[";
    for (size_t i = 0; i < n; ++i) {
      const std::string name = "s" + std::to_string(i);
      defs.push_back(fake_link::def_record(name, 11));
      names += (i ? ",\"" : "\"") + name + "\"";
    }
    names += "]";
    client = std::make_unique<wc::client>(b.gui_port);
    if (client->handshake(idle).rfind("HTTP/1.1 101", 0) != 0) return;
    model = std::make_unique<fake_link::model>(b.model_port, defs, std::vector<std::string>{}, 100);
    if (model->wait_frame(4) == "?") return;  // online: the PAQ list follows the DAQ list
    const size_t before = model->count();
    client->send_raw(idle, wc::frame(1, R"({"cmd":"set_daq_list","list":)" + names + "}"));
    if (model->wait_frame(3, before).size() != 4 * n) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (size_t i = 0; i < n; ++i) packet += fake_link::daq_like(uint32_t(i));
    ok = true;
  }
};

void BM_SignalStream(benchmark::State& state) {
  const size_t n = size_t(state.range(0));
  const auto pace = std::chrono::microseconds(state.range(1));  // 0: as fast as it goes
  stream_setup s(n);
  if (!s.ok) {
    state.SkipWithError("the back end or the model did not come up");
    return;
  }
  // A producer thread sends packets, each stamped with its send time, while this thread
  // reads what the client gets.
  std::atomic<bool> stop{false};
  std::thread producer([&] {
    std::string p = s.packet;
    while (!stop) {
      if (s.model->unsent() > (1u << 20)) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        continue;
      }
      const uint64_t t = now_ns();
      for (size_t at = 8; at < p.size(); at += 24) std::memcpy(&p[at], &t, 8);
      s.model->send(32, p);
      if (pace.count() > 0) std::this_thread::sleep_for(pace);
    }
  });
  uint64_t bytes = 0, values = 0;
  std::vector<double> latency_us;
  const auto start = clock_type::now();
  for (auto _ : state) {
    while (clock_type::now() - start < std::chrono::seconds(3)) {
      s.client->poll_input(10);
      wc::server_frame f;
      size_t used;
      while ((used = wc::parse_frame(s.client->received, s.client->parsed, f)) > 0) {
        s.client->parsed += used;
        if (f.opcode != 2 || f.payload.size() < 26) continue;
        bytes += f.payload.size();
        values += (f.payload.size() - 2) / 24;
        uint64_t t;
        std::memcpy(&t, &f.payload[10], 8);
        latency_us.push_back(double(now_ns() - t) / 1000.0);
      }
      s.client->received.erase(0, s.client->parsed);
      s.client->parsed = 0;
    }
  }
  const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
  stop = true;
  producer.join();
  std::sort(latency_us.begin(), latency_us.end());
  state.counters["MB_per_s"] = double(bytes) / seconds / 1e6;
  state.counters["values_per_s"] = double(values) / seconds;
  if (!latency_us.empty()) {
    state.counters["p50_us"] = latency_us[latency_us.size() / 2];
    state.counters["p99_us"] = latency_us[latency_us.size() * 99 / 100];
  }
}

void BM_MemoryWithAClientThatStopsReading(benchmark::State& state) {
  stream_setup s(1000);
  if (!s.ok) {
    state.SkipWithError("the back end or the model did not come up");
    return;
  }
  long before = s.b.rss_kib(), peak = before;
  uint64_t sent = 0;
  for (auto _ : state) {
    const auto start = clock_type::now();
    while (clock_type::now() - start < std::chrono::seconds(4)) {
      if (s.model->unsent() > (1u << 20)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      } else {
        s.model->send(32, s.packet);
        sent += s.packet.size();
      }
      peak = std::max(peak, s.b.rss_kib());
    }
  }
  state.counters["rss_before_MiB"] = double(before) / 1024;
  state.counters["rss_peak_MiB"] = double(peak) / 1024;
  state.counters["model_sent_MB"] = double(sent) / 1e6;
}

/// CPU time the process has spent so far, in nanoseconds (0 when unknown).
uint64_t cpu_ns(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  uint64_t ns = 0;
  in >> ns;
  return ns;
}

/// 128 KiB of model-port input from a peer that completed a handshake and reads nothing,
/// then a model output line as a marker: the back end's CPU time until the editor got the
/// marker. Argument 0: empty signal and parameter definition batches; 1: frames of an
/// ignored type, the same number (the yardstick); 2: counter jumps, each followed by
/// empty batches (a handshake restart per 55 bytes); 3: online packets without a
/// counter (a debug line each).
void BM_ModelPortInput(benchmark::State& state) {
  backend b;
  vesk::io::event_list idle;
  wc::client editor(b.gui_port), peer(b.model_port);
  if (editor.handshake(idle).rfind("HTTP/1.1 101", 0) != 0 || peer.fd < 0) {
    state.SkipWithError("the back end did not come up");
    return;
  }
  // The handshake, each step in a read of its own.
  for (uint8_t type : {17, 18}) {
    peer.send_raw(idle, fake_link::frame(type, ""));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const auto online = [](uint32_t n) { return fake_link::frame(16, fake_link::u32(n)); };
  std::string unit;
  switch (state.range(0)) {
    case 0: unit = fake_link::frame(17, "") + fake_link::frame(18, ""); break;
    case 1: unit = fake_link::frame(99, "") + fake_link::frame(98, ""); break;
    case 2: unit = online(0) + online(7) + fake_link::frame(17, "") + fake_link::frame(18, ""); break;
    default: unit = fake_link::frame(16, "\x01"); break;
  }
  std::string input;
  while (input.size() + unit.size() <= (128u << 10)) input += unit;
  uint64_t cpu = 0, wall = 0, rounds = 0;
  for (auto _ : state) {
    const std::string mark = "mark " + std::to_string(rounds++);
    const uint64_t cpu0 = cpu_ns(b.pid), wall0 = now_ns();
    peer.send_raw(idle, input + fake_link::frame(48, mark));
    bool seen = false;
    for (int i = 0; i < 3000 && !seen; ++i) {
      editor.poll_input(1);
      seen = editor.received.find(mark, editor.parsed) != std::string::npos;
    }
    if (!seen) {
      state.SkipWithError("the marker never reached the editor");
      return;
    }
    cpu += cpu_ns(b.pid) - cpu0;
    wall += now_ns() - wall0;
    editor.parsed = editor.received.size();
  }
  state.counters["backend_cpu_ms"] = double(cpu) / 1e6 / double(rounds);
  state.counters["wall_ms"] = double(wall) / 1e6 / double(rounds);
}

// What one frame of 63 MiB costs the back end: a model output line (packet 48), against a
// frame of a type it ignores (7). The line is cut to a log entry before anything copies or
// repairs it, so both should cost about the same: receiving and checking the frame.
void BM_LongModelOutputLine(benchmark::State& state) {
  backend b;
  fake_link::model model(b.model_port, {}, {}, 1);
  const std::string big = fake_link::frame(uint8_t(state.range(0)), std::string(63u << 20, 'x'));
  uint64_t cpu = 0;
  int round = 0;
  for (auto _ : state) {
    const uint64_t before = cpu_ns(b.pid);
    // A short line after the big frame tells when the back end is through with it.
    const std::string marker = "after frame " + std::to_string(++round) + "\n";
    model.send_raw(big);
    model.send(48, marker.substr(0, marker.size() - 1));
    const auto start = clock_type::now();
    while (b.out().find(marker) == std::string::npos) {
      if (clock_type::now() - start > std::chrono::seconds(20)) {
        state.SkipWithError("the back end did not log the line after the frame");
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    cpu += cpu_ns(b.pid) - before;
  }
  state.counters["backend_cpu_ms"] = benchmark::Counter(double(cpu) / 1e6, benchmark::Counter::kAvgIterations);
}

// The largest definitions the back end takes: 160 000 signals of 40-character names,
// about 15.7 MiB of state text (the bound is 16 MiB), from a model that answers each
// request at once. Per iteration a model connects; the back end's CPU time and the wall
// time until a reading editor has the whole state ("handshake"), then one state push
// with them ("get_backend_state" until the editor has the answer: "push"). The push is
// what holds the loop when the definitions are published.
void BM_LargestDefinitions(benchmark::State& state) {
  backend b;
  vesk::io::event_list idle;
  wc::client editor(b.gui_port);
  if (!bench::let_in(editor, idle, state, "the back end did not come up")) return;
  std::vector<std::string> defs;
  for (int i = 0; i < 160000; ++i) {
    std::string name = "block_" + std::to_string(i) + ".out";
    name.resize(40, 'x');
    defs.push_back(fake_link::def_record(name, 11));
  }
  uint64_t handshake_cpu = 0, handshake_wall = 0, push_cpu = 0, push_wall = 0, rounds = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    uint64_t cpu0 = cpu_ns(b.pid), wall0 = now_ns();
    auto model = std::make_unique<fake_link::model>(b.model_port, defs, std::vector<std::string>{}, 1000);
    bytes = bench::next_text_holding(editor, "\"online\": true");
    if (bytes == 0) {
      state.SkipWithError("the editor never got the model's state");
      return;
    }
    handshake_cpu += cpu_ns(b.pid) - cpu0;
    handshake_wall += now_ns() - wall0;
    cpu0 = cpu_ns(b.pid);
    wall0 = now_ns();
    editor.send_raw(idle, wc::frame(1, R"({"cmd":"get_backend_state"})"));
    if (bench::next_text_holding(editor, "\"online\": true") == 0) {
      state.SkipWithError("no answer to get_backend_state");
      return;
    }
    push_cpu += cpu_ns(b.pid) - cpu0;
    push_wall += now_ns() - wall0;
    ++rounds;
    model.reset();
    bench::next_text_holding(editor, "\"online\": false");
  }
  state.counters["state_MiB"] = double(bytes) / (1 << 20);
  state.counters["handshake_cpu_ms"] = double(handshake_cpu) / 1e6 / double(rounds);
  state.counters["handshake_wall_ms"] = double(handshake_wall) / 1e6 / double(rounds);
  state.counters["push_cpu_ms"] = double(push_cpu) / 1e6 / double(rounds);
  state.counters["push_wall_ms"] = double(push_wall) / 1e6 / double(rounds);
  state.counters["peak_MiB"] = double(b.peak_kib()) / 1024;
}

// The round trip of "get_perspective" while a peer of the model port that never did a
// handshake sends empty output packets (type 48) as fast as the back end reads them. The
// log entries the editor gets meanwhile are counted (at most the output bound a second,
// and one note of what was dropped) and skipped.
void BM_GetPerspectiveWhileOutputPacketsFlood(benchmark::State& state) {
  backend b;
  vesk::io::event_list idle;
  wc::client editor(b.gui_port), peer(b.model_port);
  if (!bench::let_in(editor, idle, state, "the back end did not come up") || peer.fd < 0) return;
  std::string packets;
  while (packets.size() < (64u << 10)) packets += fake_link::frame(48, "");
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> sent{0};
  const timeval wait{1, 0};
  ::setsockopt(peer.fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  ::fcntl(peer.fd, F_SETFL, 0);  // blocking: each send goes as fast as the back end reads
  std::thread flood([&] {
    while (!stop) {
      const ssize_t n = ::send(peer.fd, packets.data(), packets.size(), MSG_NOSIGNAL);
      if (n > 0) sent += uint64_t(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) return;
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::string frame = wc::frame(1, R"({"cmd":"get_perspective","mdl":"m"})");
  std::vector<double> micros;
  const auto start = clock_type::now();
  for (auto _ : state) {
    for (int i = 0; i < 5000; ++i) {
      const auto t0 = clock_type::now();
      editor.send_raw(idle, frame);
      if (bench::next_text_holding(editor, R"("cmd": "get_perspective")") == 0) {
        stop = true;
        flood.join();
        state.SkipWithError("the back end closed the connection");
        return;
      }
      micros.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - t0).count());
    }
  }
  const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
  stop = true;
  flood.join();
  bench::report_round_trips(state, micros);
  state.counters["flood_MB_per_s"] = double(sent) / seconds / 1e6;
  const std::string out = b.out();
  size_t lines = 0;
  for (size_t at = out.find("info: "); at != std::string::npos; at = out.find("info: ", at + 1)) ++lines;
  state.counters["info_lines_printed"] = double(lines);
  state.counters["seconds"] = seconds;
}

// The round trip of "get_perspective" while strangers connect to both ports as fast as the
// back end refuses them: HTTP requests on the model port, handshakes from a web origin on
// the GUI port. Counted: the connections refused a second, and the refusal lines printed a
// second (at most 20 a second on each port; the rest only counted).
void BM_GetPerspectiveWhileStrangersConnect(benchmark::State& state) {
  backend b;
  vesk::io::event_list idle;
  wc::client editor(b.gui_port);
  if (!bench::let_in(editor, idle, state, "the back end did not come up")) return;
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> refused{0};
  const std::string plain = wc::handshake_request();
  const std::string web = plain.substr(0, plain.size() - 2) + "Origin: https://example.com\r\n\r\n";
  const auto stranger = [&](uint16_t port, std::string bytes) {
    const timeval wait{1, 0};
    while (!stop) {
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(port);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
          ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0) {
        char answer[512];
        while (::recv(fd, answer, sizeof answer, 0) > 0) {
        }
        ++refused;
      }
      ::close(fd);
    }
  };
  std::thread model_side(stranger, b.model_port, std::string("GET / HTTP/1.1\r\n\r\n"));
  std::thread gui_side(stranger, b.gui_port, web);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::string frame = wc::frame(1, R"({"cmd":"get_perspective","mdl":"m"})");
  std::vector<double> micros;
  const uint64_t refused_before = refused;
  const size_t lines_before = refusal_lines(b.out());
  const auto start = clock_type::now();
  bool served = true;
  for (auto _ : state) {
    // A few seconds: the lines a second are counted over whole seconds.
    while (served && clock_type::now() - start < std::chrono::seconds(4)) {
      const auto t0 = clock_type::now();
      editor.send_raw(idle, frame);
      served = bench::next_text_holding(editor, R"("cmd": "get_perspective")") > 0;
      micros.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - t0).count());
    }
  }
  const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
  const uint64_t refused_during = refused - refused_before;
  const size_t lines = refusal_lines(b.out()) - lines_before;
  stop = true;
  model_side.join();
  gui_side.join();
  if (!served) {
    state.SkipWithError("the back end closed the connection");
    return;
  }
  bench::report_round_trips(state, micros);
  state.counters["refused_per_s"] = double(refused_during) / seconds;
  state.counters["refusal_lines_per_s"] = double(lines) / seconds;
  state.counters["seconds"] = seconds;
}

// One opening handshake of the given size, padded with a cookie as a browser sends it:
// 32768 bytes (the bound: answered 101) or 32769 (answered 431), on a fresh connection
// each time. The time from the connect to the whole answer.
void BM_HandshakeOfBrowserSize(benchmark::State& state) {
  backend b;
  vesk::io::event_list idle;
  const size_t size = size_t(state.range(0));
  const std::string plain = wc::handshake_request(), head = plain.substr(0, plain.size() - 2) + "Cookie: ";
  const std::string request = head + std::string(size - head.size() - 4, 'c') + "\r\n\r\n";
  std::vector<double> micros;
  std::string status;
  for (auto _ : state) {
    const auto t0 = clock_type::now();
    wc::client c(b.gui_port);
    c.send_raw(idle, request);
    // Waits on the socket itself, so the client adds no sleeping of its own.
    bool open = true;
    while (c.received.find("\r\n\r\n") == std::string::npos && open) open = c.poll_input(1000);
    if (c.received.find("\r\n\r\n") == std::string::npos) {
      state.SkipWithError("no answer to the handshake");
      return;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - t0).count());
    status = c.received.substr(9, 3);
  }
  bench::report_round_trips(state, micros);
  state.counters["status"] = std::stod(status);
}

// Flat out (throughput; the latency then includes every queue on the way), and one packet
// per millisecond (the latency of a back end that keeps up).
BENCHMARK(BM_SignalStream)
    ->ArgNames({"signals", "pace_us"})
    ->Args({10, 0})
    ->Args({1000, 0})
    ->Args({10000, 0})
    ->Args({10, 1000})
    ->Args({1000, 1000})
    ->Args({10000, 1000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryWithAClientThatStopsReading)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModelPortInput)->ArgName("input")->DenseRange(0, 3)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongModelOutputLine)->ArgName("type")->Arg(48)->Arg(7)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargestDefinitions)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPerspectiveWhileOutputPacketsFlood)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPerspectiveWhileStrangersConnect)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandshakeOfBrowserSize)->ArgName("bytes")->Arg(32768)->Arg(32769)->Iterations(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
