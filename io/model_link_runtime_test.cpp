// The Linux runtime's link client against a stand-in back end: a hand-made model is built
// with the runtime's own build script and run with VESK_MODEL_PORT on a loopback port.

#include <cstdlib>
#include <map>
#include <random>
#include <tuple>
#include <utility>

#include "io/observer_adapter.h"
#include "io/runtime_link_test_util.h"

namespace runtime_link_test {
namespace {

namespace packet = vesk::rt::packet;

// fast (10 ms) counts by the parameter "step"; slow (100 ms) counts its runs. Besides them:
// values of several types, a port without value, an opaque text, a value of no raster, a
// name too long for the wire and enough names to need several definition batches. A file
// "zero_interval" in the working folder takes slow's interval away.
const char* const model_source = R"(#include <cstdint>
#include <fstream>
#include <string>
#include <vesk/rt/model.h>
namespace {
struct params {
  vesk::rt::parameter<double> step{1};
  vesk::rt::parameter<int32_t> gain{2};
  vesk::rt::parameter<bool> on{true};
};
struct fast : vesk::rt::raster {
  params& p;
  double count = 0;
  int32_t scaled = 0;
  bool flag = false;
  uint8_t small = 0;
  explicit fast(params& q) : p(q) { name = "fast"; interval = vesk::time::ns(10000000); is_sync = true; }
  void init_tick() override { tick(); }
  void tick() override {
    count += p.step.get();
    scaled = static_cast<int32_t>(count) * p.gain.get();
    flag = !flag;
    ++small;
  }
};
struct slow : vesk::rt::raster {
  uint64_t ticks = 0;
  float half = 0;
  slow() { name = "slow"; interval = vesk::time::ns(std::ifstream("zero_interval") ? 0 : 100000000); is_sync = true; }
  void init_tick() override { tick(); }
  void tick() override { ++ticks; half = static_cast<float>(ticks) / 2; }
};
struct the_model : vesk::rt::model {
  params p;
  fast f{p};
  slow s;
  std::string text = "opaque";
  int32_t answer = 42;
  std::string long_name = std::string(300, 'n');
  std::string bulk_names[300];
  vesk::rt::raster* r[2] = {&f, &s};
  vesk::rt::signal_exporter sig[311] = {};
  vesk::rt::parameter_list_element par[3] = {{"step", &p.step}, {"gain", &p.gain}, {"on", &p.on}};
  the_model() {
    const vesk::rt::signal_exporter named[] = {
        {"fast.count", f.count, 0}, {"fast.scaled", f.scaled, 0}, {"fast.flag", f.flag, 0},
        {"fast.small", f.small, 0}, {"slow.ticks", s.ticks, 1}, {"slow.half", s.half, 1},
        {"port.unfed", vesk::serialize::type(), 0}, {"text", text, 1}, {"const.answer", answer, -1},
        {"gain.shown", p.gain, 0}, {long_name.c_str(), f.count, 0}};
    for (int i = 0; i < 11; ++i) sig[i] = named[i];
    for (int i = 0; i < 300; ++i) {
      bulk_names[i] = "bulk.signal_with_a_long_name_" + std::to_string(i);
      sig[11 + i] = {bulk_names[i].c_str(), s.half, 1};
    }
    rasters = {r};
    signals = {sig};
    parameters = {par};
  }
};
}  // namespace
vesk::rt::model* vesk::rt::get_model() {
  static the_model m;
  return &m;
}
)";

/// Signal indices of the model above.
enum : uint32_t { fast_count, fast_scaled, fast_flag, fast_small, slow_ticks, slow_half, port_unfed, text,
                  const_answer, gain_shown, long_name, bulk0 };

/// The model program, built once for all tests.
class RuntimeLink : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::system("command -v g++ >/dev/null 2>&1") != 0) return;
    dir_ = new temp_dir;
    const fs::path rt = dir_->path / "rt";
    fs::copy(fs::path(VESK_SOURCE_DIR) / "runtimes" / "linux", rt, fs::copy_options::recursive);
    fs::copy(fs::path(VESK_SOURCE_DIR) / "shared", rt / "shared", fs::copy_options::recursive);
    dir_->put("rt/model/model.cpp", model_source);
    dir_->put("rt/model/compile_info.json", R"({"libs": [], "headers": [], "sources": ["model/model.cpp"]})");
    const std::string cmd = "cd '" + rt.string() + "' && ./build >build.log 2>&1";
    built_ = std::system(cmd.c_str()) == 0;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (dir_ == nullptr) GTEST_SKIP() << "g++ is not installed";
    std::ifstream log(dir_->path / "rt" / "build.log");
    ASSERT_TRUE(built_) << std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
  }

  /// A working folder with a config.json for one run of the model.
  fs::path run_dir(const std::string& config = R"({"print_signals": "", "print_interval_ms": 0})") {
    const fs::path d = dir_->path / ("run" + std::to_string(++runs_));
    dir_->put(d.lexically_relative(dir_->path) / "config.json", config);
    return d;
  }
  model_process start(const fs::path& d, const char* port) {
    return model_process(dir_->path / "rt" / "vesk-model", d, port);
  }

  static temp_dir* dir_;
  static bool built_;
  static int runs_;
};
temp_dir* RuntimeLink::dir_ = nullptr;
bool RuntimeLink::built_ = false;
int RuntimeLink::runs_ = 0;

struct definitions {
  std::vector<std::pair<std::string, int>> items;  ///< name, type code
  int batches = 0;
};

/// Requests definitions batch by batch until the empty batch ends the list.
definitions read_definitions(fake_back_end& be, uint8_t request, uint8_t reply) {
  definitions d;
  for (int guard = 0; guard < 100; ++guard) {
    be.send(request);
    const auto p = be.take(reply);
    if (!p) {
      ADD_FAILURE() << "no answer to request " << int(request);
      return d;
    }
    if (p->empty()) return d;
    ++d.batches;
    EXPECT_LE(p->size(), 4096u + 257u) << "batch too large";
    for (size_t pos = 0; pos < p->size();) {
      const size_t len = static_cast<uint8_t>((*p)[pos]);
      if (pos + 1 + len + 1 > p->size()) {
        ADD_FAILURE() << "record cut short at " << pos;
        return d;
      }
      d.items.emplace_back(p->substr(pos + 1, len), static_cast<uint8_t>((*p)[pos + 1 + len]));
      pos += len + 2;
    }
  }
  ADD_FAILURE() << "the list never ended";
  return d;
}

/// The back end's handshake: connect, then all signal and parameter definitions.
std::pair<definitions, definitions> handshake(fake_back_end& be) {
  be.send(packet::connect, std::string("\x11\x00", 2));
  definitions s = read_definitions(be, packet::request_signal_defs, packet::signal_defs);
  return {s, read_definitions(be, packet::request_parameter_defs, packet::parameter_defs)};
}

/// One value record of packet 32: time stamp and value bytes.
struct record {
  uint64_t time;
  std::string value;
};

/// The records of every collected packet 32, by DAQ list position; checks their framing.
std::map<uint32_t, std::vector<record>> signal_records(fake_back_end& be) {
  std::map<uint32_t, std::vector<record>> out;
  while (auto p = be.take(packet::daq_data, 0)) {
    for (size_t pos = 0; pos < p->size();) {
      EXPECT_GE(p->size() - pos, 16u) << "record header cut short";
      if (p->size() - pos < 16) break;
      const uint32_t size = get_u32(*p, pos + 4);
      EXPECT_GE(p->size() - pos - 16, size) << "value cut short";
      if (p->size() - pos - 16 < size) break;
      out[get_u32(*p, pos)].push_back({get_u64(*p, pos + 8), p->substr(pos + 16, size)});
      pos += 16 + size;
    }
  }
  return out;
}

/// Parameter records of one packet 33, by PAQ list position.
std::map<uint32_t, std::string> parameter_records(const std::string& p) {
  std::map<uint32_t, std::string> out;
  for (size_t pos = 0; pos + 8 <= p.size() && p.size() - pos - 8 >= get_u32(p, pos + 4);) {
    out[get_u32(p, pos)] = p.substr(pos + 8, get_u32(p, pos + 4));
    pos += 8 + get_u32(p, pos + 4);
  }
  return out;
}

void expect_quit_ends_cleanly(fake_back_end& be, model_process& m) {
  be.send(packet::command, "quit");
  const int status = m.wait(5000);
  ASSERT_GE(status, 0) << "still running after quit\n" << m.output();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << m.output();
  EXPECT_NE(std::string::npos, m.output().find("vesk-model: stopping on quit from the back end")) << m.output();
  EXPECT_FALSE(be.collect(1000)) << "the connection stayed open";
}

TEST_F(RuntimeLink, HandshakeDescribesEverySignalAndParameterAndCountsOnline) {
  fake_back_end be;
  const std::string port = std::to_string(be.port());
  model_process m = start(run_dir(), port.c_str());
  ASSERT_TRUE(be.accept(5000)) << m.output();
  const auto [signals, params] = handshake(be);

  const std::vector<std::pair<std::string, int>> first = {
      {"fast.count", 11}, {"fast.scaled", 6}, {"fast.flag", 1},    {"fast.small", 3},
      {"slow.ticks", 9},  {"slow.half", 10},  {"port.unfed", 0},   {"text", 0},
      {"const.answer", 6}, {"gain.shown", 6}, {std::string(255, 'n'), 11}};
  ASSERT_EQ(311u, signals.items.size());
  for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i], signals.items[i]) << "signal " << i;
  EXPECT_EQ(std::make_pair(std::string("bulk.signal_with_a_long_name_299"), 10), signals.items.back());
  EXPECT_GE(signals.batches, 3) << "definitions were not cut into batches";
  const std::vector<std::pair<std::string, int>> expected_params = {{"step", 11}, {"gain", 6}, {"on", 1}};
  EXPECT_EQ(expected_params, params.items);

  // A new request after the end of the list starts again from the top.
  be.send(packet::request_signal_defs);
  const auto again = be.take(packet::signal_defs);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(std::string("\x0a") + "fast.count\x0b", again->substr(0, 12));

  // The counter starts at 0 with the connection and goes up by one, well within 2500 ms.
  for (uint32_t expected = 0; expected < 4; ++expected) {
    const auto online = be.take(packet::model_online, 2000);
    ASSERT_TRUE(online.has_value()) << "no online packet " << expected;
    ASSERT_EQ(4u, online->size());
    EXPECT_EQ(expected, get_u32(*online, 0));
  }
  expect_quit_ends_cleanly(be, m);
}

TEST_F(RuntimeLink, StreamsSubscribedValuesAndTakesParameterValues) {
  fake_back_end be;
  const std::string port = std::to_string(be.port());
  model_process m = start(run_dir(), port.c_str());
  ASSERT_TRUE(be.accept(5000)) << m.output();
  handshake(be);

  const std::vector<uint32_t> daq = {fast_count, slow_ticks, port_unfed, const_answer, text, 5000, gain_shown};
  std::string list;
  for (uint32_t i : daq) list += u32(i);
  be.send(packet::set_daq_list, list);
  ASSERT_TRUE(be.take(packet::daq_list_ack).has_value());
  ASSERT_TRUE(be.collect(800));
  auto recs = signal_records(be);

  // The fast counter: one record per 10 ms run, each one step (1) above the last.
  ASSERT_GE(recs[0].size(), 20u);
  for (size_t i = 1; i < recs[0].size(); ++i) {
    ASSERT_EQ(8u, recs[0][i].value.size());
    EXPECT_EQ(value_of<double>(recs[0][i - 1].value, 0) + 1, value_of<double>(recs[0][i].value, 0)) << i;
    EXPECT_EQ(recs[0][i - 1].time + 10000000, recs[0][i].time) << i;
  }
  ASSERT_GE(recs[1].size(), 3u);
  EXPECT_EQ(value_of<uint64_t>(recs[1][0].value, 0) + 1, value_of<uint64_t>(recs[1][1].value, 0));
  EXPECT_EQ(recs[1][0].time + 100000000, recs[1][1].time);
  struct row {
    uint32_t position;
    size_t size;  ///< of every record
    int value;    ///< as int32, -1: not checked
  };
  for (const row& r : std::vector<row>{{2, 0, -1}, {3, 4, 42}, {4, 0, -1}, {6, 4, 2}}) {
    ASSERT_FALSE(recs[r.position].empty()) << "position " << r.position;
    for (const record& x : recs[r.position]) {
      ASSERT_EQ(r.size, x.value.size()) << "position " << r.position;
      if (r.value >= 0) {
        EXPECT_EQ(r.value, value_of<int32_t>(x.value, 0)) << "position " << r.position;
      }
    }
  }
  EXPECT_EQ(0u, recs.count(5)) << "a position naming no signal was streamed";

  // PAQ list: gain, step and no parameter; acknowledged, then the values at once.
  be.send(packet::set_paq_list, u32(1) + u32(0) + u32(7));
  ASSERT_TRUE(be.take(packet::paq_list_ack).has_value());
  auto paq = be.take(packet::paq_data);
  ASSERT_TRUE(paq.has_value());
  auto values = parameter_records(*paq);
  EXPECT_EQ(bytes_of<int32_t>(2), values[0]);
  EXPECT_EQ(bytes_of<double>(1.0), values[1]);
  EXPECT_EQ(2u, values.size());

  // Bad records (no such parameter, wrong size) are skipped; good ones in the same packet
  // apply. The values are sent back at once (and periodically: the last one counts).
  be.send(packet::parameter_values, u32(99) + u32(8) + bytes_of<double>(7) + u32(0) + u32(4) + bytes_of<int32_t>(7) +
                                        u32(0) + u32(8) + bytes_of<double>(3) + u32(1) + u32(4) + bytes_of<int32_t>(5));
  ASSERT_TRUE(be.collect(300));
  paq = be.last(packet::paq_data);
  ASSERT_TRUE(paq.has_value());
  values = parameter_records(*paq);
  EXPECT_EQ(bytes_of<int32_t>(5), values[0]);
  EXPECT_EQ(bytes_of<double>(3.0), values[1]);
  // A record cut short changes nothing.
  be.send(packet::parameter_values, u32(0) + u32(8) + bytes_of<float>(9));

  ASSERT_TRUE(be.collect(300));
  be.got.clear();
  ASSERT_TRUE(be.collect(400));
  recs = signal_records(be);
  ASSERT_GE(recs[0].size(), 10u);
  for (size_t i = 1; i < recs[0].size(); ++i)
    EXPECT_EQ(value_of<double>(recs[0][i - 1].value, 0) + 3, value_of<double>(recs[0][i].value, 0)) << i;
  ASSERT_FALSE(recs[6].empty());
  EXPECT_EQ(5, value_of<int32_t>(recs[6].back().value, 0));
  EXPECT_NE(std::string::npos, m.output().find("parameter values from the back end")) << m.output();

  // An empty DAQ list stops the stream.
  be.send(packet::set_daq_list);
  ASSERT_TRUE(be.take(packet::daq_list_ack).has_value());
  be.got.clear();
  ASSERT_TRUE(be.collect(300));
  EXPECT_TRUE(signal_records(be).empty());

  // A handshake restarted on the same connection (the back end resends only the DAQ
  // list then) keeps the PAQ list: the periodic parameter values go on.
  handshake(be);
  be.got.clear();
  ASSERT_TRUE(be.collect(1300));
  paq = be.last(packet::paq_data);
  ASSERT_TRUE(paq.has_value()) << "no parameter values after a restarted handshake";
  EXPECT_EQ(2u, parameter_records(*paq).size());
  expect_quit_ends_cleanly(be, m);
}

TEST_F(RuntimeLink, GarbageFromTheBackEndIsSkipped) {
  fake_back_end be;
  const std::string port = std::to_string(be.port());
  model_process m = start(run_dir(), port.c_str());
  ASSERT_TRUE(be.accept(5000)) << m.output();

  std::mt19937 random(7);
  std::string noise;
  for (int i = 0; i < 8192; ++i) noise += static_cast<char>(random() % 4 == 0 ? 0x55 : random());
  auto header = [](uint8_t type, uint32_t length) { return frame(type, "").substr(0, 4) + u32(length); };
  auto checked = [](std::string h) {
    char x = 0;
    for (char c : h) x ^= c;
    return h + x;
  };
  std::string bad_sum = frame(packet::request_signal_defs, "");
  bad_sum.back() ^= 1;
  const std::string request = frame(packet::request_signal_defs, "");
  struct row {
    const char* what;
    std::string before;  ///< sent ahead of a valid request
    int answers;         ///< requests found in all of it
  };
  const std::vector<row> rows = {
      {"noise", noise, 1},
      {"bad header check", header(1, 0) + "\x01", 1},
      {"payload above 64 MiB", checked(header(1, (64u << 20) + 1)), 1},
      {"payload of 4 GiB", checked(header(1, 0xffffffffu)), 1},
      {"wrong checksum", bad_sum, 1},
      {"a frame inside a damaged one", checked(header(9, 20)) + request + std::string(9, '\0') + "\xee\xee", 2},
      {"unknown types", frame(7, "abc") + frame(200, ""), 1},
      {"short lists and values", frame(packet::set_daq_list, "1234567") + frame(packet::set_paq_list, "x") +
                                     frame(packet::parameter_values, "\x01\x02") + frame(packet::connect, ""), 1},
      {"other commands",
       frame(packet::command, "quitx") + frame(packet::command, "") + frame(packet::command, "stop"), 1},
  };
  for (const row& r : rows) {
    be.send_raw(r.before);
    be.send_raw(request);
    for (int i = 0; i < r.answers; ++i) EXPECT_TRUE(be.take(packet::signal_defs, 3000).has_value()) << r.what;
    ASSERT_TRUE(be.collect(100)) << r.what << ": connection lost\n" << m.output();
    // Damaged requests got no answer.
    EXPECT_FALSE(be.take(packet::signal_defs, 0).has_value()) << r.what;
    be.got.clear();
  }
  // A frame arriving byte by byte is answered once it is whole.
  for (char c : request) be.send_raw(std::string(1, c));
  EXPECT_TRUE(be.take(packet::signal_defs, 3000).has_value());
  ASSERT_TRUE(m.running()) << m.output();
  expect_quit_ends_cleanly(be, m);
}

TEST_F(RuntimeLink, ConnectsWhenTheBackEndComesAndAgainAfterALoss) {
  uint16_t port = 0;
  {
    fake_back_end probe;  // a free port, closed again
    port = probe.port();
  }
  const std::string port_text = std::to_string(port);
  model_process m = start(run_dir(), port_text.c_str());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_TRUE(m.running()) << m.output();

  fake_back_end be(port);
  for (int connection = 0; connection < 2; ++connection) {
    ASSERT_TRUE(be.accept(4000)) << "connection " << connection << "\n" << m.output();
    const auto online = be.take(packet::model_online);
    ASSERT_TRUE(online.has_value());
    EXPECT_EQ(0u, get_u32(*online, 0)) << "the counter starts again with each connection";
    be.send(packet::connect, std::string("\x11\x00", 2));
    be.send(packet::request_signal_defs);
    EXPECT_TRUE(be.take(packet::signal_defs).has_value());
    if (connection == 0) be.drop();
  }
  expect_quit_ends_cleanly(be, m);
  const std::string out = m.output();
  EXPECT_NE(std::string::npos, out.find("vesk-model: lost the connection to the back end; reconnecting")) << out;
}

TEST_F(RuntimeLink, RunsAloneWithoutAUsablePort) {
  struct row {
    const char* port;  ///< VESK_MODEL_PORT, null: unset
    bool complaint;
  };
  for (const row& r : std::vector<row>{{nullptr, false}, {"", false}, {"abc", true}, {"0", true}, {"70000", true},
                                       {"123456", true}, {"80x", true}}) {
    const std::string label = r.port ? r.port : "(unset)";
    model_process m = start(run_dir(R"({"run_time_s": 0.3, "print_signals": "fast.count"})"), r.port);
    const int status = m.wait(5000);
    const std::string out = m.output();
    EXPECT_TRUE(status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << label << "\n" << out;
    EXPECT_NE(std::string::npos, out.find("final fast.count=30")) << label << "\n" << out;
    EXPECT_EQ(r.complaint, out.find("is no port number") != std::string::npos) << label << "\n" << out;
    EXPECT_EQ(std::string::npos, out.find("connected")) << label << "\n" << out;
  }
}

TEST_F(RuntimeLink, SettingsAndRastersAreCheckedBeforeTheRun) {
  const std::string no_text = R"("print_signals" must be a text of signal names)", run = R"({"run_time_s": 0.3, )";
  const std::tuple<std::string, int, std::string> rows[] = {  // config.json, exit status, expected output
      {R"({"run_time_s": -1})", 1, R"(config.json: "run_time_s" must be a number >= 0)"},
      {R"({"run_time_s": .5})", 1, "line 1: unexpected character '.'"},
      {R"({"run_time_s": +1})", 1, "line 1: unexpected character '+'"},
      {R"({"run_time_s": 0x1})", 1, "line 1: ',' or '}' is expected in an object"},
      {R"({"print_signals": 5})", 1, no_text},
      {R"({"print_signals": {}})", 1, no_text},
      {run + R"("print_interval_ms": 0, "print_signals": null})", 0, "final fast.count=30 "},
      {run + R"("print_signals": "\ud800\udc00"})", 0, "names no signal '\xF0\x90\x80\x80'"},
      {run + R"("zero_interval": 1})", 1, "vesk-model: periodic raster slow has no interval"}};
  for (const auto& [config, want_status, want] : rows) {
    const fs::path d = run_dir(config);
    if (config.find("zero_interval") != std::string::npos) std::ofstream(d / "zero_interval").put('\n');
    model_process m = start(d, nullptr);
    const int status = m.wait(5000);
    EXPECT_TRUE(status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == want_status) << config << "\n" << m.output();
    EXPECT_NE(std::string::npos, m.output().find(want)) << config << "\n" << m.output();
  }
}

}  // namespace
}  // namespace runtime_link_test
