// The back end's two links: WebSocket echo round trips to the editor over loopback (our
// own client, the server's loop on the same thread), and the model-link frame codec's
// throughput next to a plain memcpy of the same bytes.

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "foundation/log_stream.h"
#include "io/s2p.h"
#include "io/websocket.h"
#include "io/ws_test_client.h"

namespace {

namespace wc = vesk::io::test_client;

void websocket_echo(benchmark::State& state) {
  log_silencer quiet(log_debug);
  vesk::io::event_list loop;
  vesk::io::websocket_server server(loop, vesk::io::end_point{htonl(INADDR_LOOPBACK), 0});
  std::shared_ptr<vesk::io::websocket_connection> session;
  server.on_new_connection = [&](std::shared_ptr<vesk::io::websocket_connection> c) {
    vesk::io::websocket_connection* raw = c.get();
    c->on_text = [raw](std::string s) { raw->send_text(s.data(), s.size()); };
    session = std::move(c);
  };
  wc::client client(server.local_port());
  if (client.handshake(loop).empty()) {
    state.SkipWithError("handshake failed");
    return;
  }
  const std::string request = wc::frame(1, std::string(static_cast<size_t>(state.range(0)), 'v'));
  std::vector<double> micros;
  micros.reserve(1 << 20);
  wc::server_frame reply;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    client.send_raw(loop, request);
    size_t used = 0;
    // The request is in flight: each wait finds work at once, no time-out is reached.
    while ((used = wc::parse_frame(client.received, client.parsed, reply)) == 0) {
      loop.wait_and_dispatch();
      client.poll_input(0);
    }
    client.parsed += used;
    if (client.parsed > (1u << 20)) {
      client.received.erase(0, client.parsed);
      client.parsed = 0;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(micros.begin(), micros.end());
  state.SetItemsProcessed(state.iterations());
  if (!micros.empty()) {
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  }
}
BENCHMARK(websocket_echo)->Arg(16)->Arg(4096)->Unit(benchmark::kMicrosecond);

/// Frames of `payload` bytes back to back, about 4 MiB in all.
std::vector<uint8_t> frame_stream(size_t payload, size_t& frames) {
  frames = std::max<size_t>(1, (4u << 20) / (payload + vesk::io::frame::overhead));
  std::vector<uint8_t> out;
  std::vector<uint8_t> body(payload);
  for (size_t i = 0; i < payload; ++i) body[i] = static_cast<uint8_t>(i * 31 + 7);
  for (size_t f = 0; f < frames; ++f) {
    uint8_t header[vesk::io::frame::header_size];
    vesk::io::frame::write_header(header, 32, static_cast<uint32_t>(payload));
    out.insert(out.end(), header, header + sizeof header);
    out.insert(out.end(), body.begin(), body.end());
    uint16_t sum = vesk::io::frame::fletcher16(body.data(), body.size());
    out.push_back(static_cast<uint8_t>(sum));
    out.push_back(static_cast<uint8_t>(sum >> 8));
  }
  return out;
}

void frame_decode(benchmark::State& state) {
  size_t frames = 0;
  std::vector<uint8_t> stream = frame_stream(static_cast<size_t>(state.range(0)), frames);
  vesk::io::s2p decoder;
  size_t seen = 0;
  decoder.on_packet = [&](unsigned long, void*, unsigned long) { ++seen; };
  for (auto _ : state) {
    vesk::blob view(stream.data(), stream.size());
    benchmark::DoNotOptimize(decoder.decode(view));
  }
  if (seen != frames * static_cast<size_t>(state.iterations())) state.SkipWithError("frames lost");
  state.SetBytesProcessed(static_cast<int64_t>(stream.size()) * state.iterations());
}
BENCHMARK(frame_decode)->Arg(64)->Arg(4096)->Arg(65536);

/// About 20 MB of valid headers back to back, each announcing a 16 MiB payload, after an
/// empty frame when the argument is 1: disposing of them must take time linear in their
/// bytes, however many headers would each ask for a 16 MiB checksum.
void garbage_decode(benchmark::State& state) {
  std::vector<uint8_t> stream;
  if (state.range(0) == 1) {
    uint8_t empty[vesk::io::frame::overhead] = {};
    vesk::io::frame::write_header(empty, 16, 0);
    stream.assign(empty, empty + sizeof empty);
  }
  uint8_t header[vesk::io::frame::header_size];
  vesk::io::frame::write_header(header, 17, 16u << 20);
  while (stream.size() < (20u << 20)) stream.insert(stream.end(), header, header + sizeof header);
  for (auto _ : state) {
    vesk::io::s2p decoder;
    decoder.on_packet = [](unsigned long, void*, unsigned long) {};
    vesk::blob view(stream.data(), stream.size());
    if (decoder.decode(view) != stream.size()) state.SkipWithError("garbage left undecided");
  }
  state.SetBytesProcessed(static_cast<int64_t>(stream.size()) * state.iterations());
}
BENCHMARK(garbage_decode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void frame_encode(benchmark::State& state) {
  // A null sink: what is measured is the header and the checksum, the codec's own work.
  std::vector<uint8_t> body(static_cast<size_t>(state.range(0)), 0x5a);
  vesk::io::s2p writer;
  for (auto _ : state) writer.send_packet(33, body.data(), static_cast<uint32_t>(body.size()));
  state.SetBytesProcessed(static_cast<int64_t>(body.size() + vesk::io::frame::overhead) * state.iterations());
}
BENCHMARK(frame_encode)->Arg(64)->Arg(4096)->Arg(65536);

void memcpy_baseline(benchmark::State& state) {
  size_t frames = 0;
  std::vector<uint8_t> stream = frame_stream(static_cast<size_t>(state.range(0)), frames);
  std::vector<uint8_t> copy(stream.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), stream.data(), stream.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(stream.size()) * state.iterations());
}
BENCHMARK(memcpy_baseline)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
