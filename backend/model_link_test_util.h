#pragma once
// Helpers of the model link's program tests: the real program with an editor on its GUI
// port, a fake model on its model port, and the records both sides exchange.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "backend/core_test_util.h"
#include "backend/fake_model.h"

namespace core_test {

using fake_link::def_record;
using fake_link::raw8;
using fake_link::u32;

inline size_t occurrences(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

/// A signal value record of packet 32: DAQ position, size, stamp, value.
inline std::string daq_record(uint32_t index, const std::string& value, uint64_t stamp = 7) {
  return u32(index) + u32(uint32_t(value.size())) + raw8(stamp) + value;
}
/// The same as the editor gets it under its name position.
inline std::string gui_record(uint32_t position, const std::string& value, uint64_t stamp = 7) {
  return daq_record(position, value, stamp);
}
const std::string tag1("\x01\x00", 2), tag2("\x02\x00", 2);

/// Signals "a" (double), "b" (a structure with a member x), "c" (u64); parameter "p".
inline std::vector<std::string> signal_records() {
  return {def_record("a", 11), def_record("b", std::string("\x0d\x01" "x\x07\x00\xff", 6)), def_record("c", 9)};
}
inline std::vector<std::string> parameter_records() { return {def_record("p", 11)}; }

/// The program, its editor, and helpers to wait for the model's state.
struct link_env {
  program p;
  std::unique_ptr<editor> e;
  link_env() {
    EXPECT_TRUE(p.start_running());
    e = std::make_unique<editor>(p.gui_port);
    EXPECT_TRUE(e->open());
  }
  std::unique_ptr<fake_link::model> connect(std::vector<std::string> signals = signal_records(),
                                            std::vector<std::string> parameters = parameter_records()) {
    return std::make_unique<fake_link::model>(p.model_port, std::move(signals), std::move(parameters));
  }
  /// Waits for a pushed state whose "online" is `online`, after message `from`.
  int wait_online(bool online = true, size_t from = 0, int ms = 10000) {
    return e->wait_for([&](vesk::json& m) {
      return m["cmd"] == "backend_state" && m["state"]["online"].is_bool() && m["state"]["online"].get_bool() == online;
    }, ms, from);
  }
  /// Waits until the program's output holds `text` `times` times.
  bool wait_out(const std::string& text, size_t times = 1, int ms = 10000) {
    return eventually([&] { return occurrences(p.out(), text) >= times; }, ms);
  }
  /// Subscribes "a"; the model's acknowledgement is queued before anything sent next.
  void subscribe(fake_link::model& m) {
    m.wait_frame(4);  // the handshake's own lists come first
    const size_t before = m.count();
    e->send(R"({"cmd":"set_daq_list","list":["a"]})");
    m.wait_frame(3, before);
  }
  /// Sends a value of "a" and tells whether the editor got exactly it.
  bool value_flows(fake_link::model& m, double v) {
    const std::string want = tag1 + daq_record(0, raw8(v));
    m.send(32, daq_record(0, raw8(v)));
    return e->wait_binary([&](const std::string& b) { return b == want; }) >= 0;
  }
};

}  // namespace core_test
