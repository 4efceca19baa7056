#include "io/observer_adapter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/log_capture.h"
#include "io/io_test_util.h"
#include "io/tcp_server.h"
#include "io/ws_test_client.h"

namespace vesk::rt {
namespace {

using io::test_util::paired;

/// Frame bytes as text, for writing into a socket.
std::string frame_text(uint8_t type, const std::string& payload) {
  uint8_t header[io::frame::header_size];
  io::frame::write_header(header, type, static_cast<uint32_t>(payload.size()));
  uint16_t sum = io::frame::fletcher16(payload.data(), payload.size());
  return std::string(reinterpret_cast<char*>(header), sizeof header) + payload + static_cast<char>(sum & 0xff) +
         static_cast<char>(sum >> 8);
}

/// Records every handler call as "handler:payload".
struct recorder : observer_adapter {
  std::vector<std::string> calls;
  int disconnects = 0;
  void note(const char* what, const void* data, size_t n) {
    calls.push_back(std::string(what) + ":" + std::string(static_cast<const char*>(data), n));
  }
  void on_model_online(blob& b) override { note("online", b.data, b.size); }
  void on_ack_signal_def(blob& b) override { note("signal_def", b.data, b.size); }
  void on_ack_parameter_def(blob& b) override { note("parameter_def", b.data, b.size); }
  void on_ack_set_daq_list(const void* d, size_t n) override { note("daq_ack", d, n); }
  void on_ack_set_paq_list(const void* d, size_t n) override { note("paq_ack", d, n); }
  void on_daq_data(blob& b) override { note("daq", b.data, b.size); }
  void on_paq_data(blob& b) override { note("paq", b.data, b.size); }
  void on_disconnect() override {
    ++disconnects;
    observer_adapter::on_disconnect();
  }
};

TEST(ObserverAdapter, EveryPacketTypeReachesItsHandler) {
  io::event_list loop;
  paired pair(loop);
  recorder adapter;
  adapter.set_connection(pair.connection);
  struct row {
    uint8_t type;
    std::string payload, call;  // call "" = no handler
  };
  const std::vector<row> rows = {
      {16, "1234", "online:1234"}, {17, "s", "signal_def:s"}, {18, "p", "parameter_def:p"},
      {19, "", "daq_ack:"},        {20, "x", "paq_ack:x"},    {32, "dd", "daq:dd"},
      {33, "pp", "paq:pp"},        {0, "ignored", ""},        {50, "ignored", ""},
  };
  std::string stream;
  std::vector<std::string> expected;
  for (const row& r : rows) {
    stream += frame_text(r.type, r.payload);
    if (!r.call.empty()) expected.push_back(r.call);
  }
  pair.write(stream.substr(0, 20));  // and in two pieces
  io::test_client::run_ready(loop, 1000);
  pair.write(stream.substr(20));
  io::test_client::run_ready(loop, 1000);
  EXPECT_EQ(adapter.calls, expected);

  log_capture info(log_info), errors(log_err);
  pair.write(frame_text(48, "abc") + frame_text(49, "bad\nthing"));
  io::test_client::run_ready(loop, 1000);
  EXPECT_EQ(info.lines, std::vector<std::string>{"abc"});
  EXPECT_EQ(errors.lines, std::vector<std::string>{"bad\nthing"});
}

TEST(ObserverAdapter, WritersAndTheUnpluggedState) {
  io::event_list loop;
  paired pair(loop);
  recorder adapter;
  adapter.send_connect();  // unconnected: dropped
  adapter.set_connection(pair.connection);
  adapter.send_connect();
  adapter.request_signal_defs();
  adapter.request_parameter_defs();
  std::string payload = "\x01\x02";
  blob b(payload.data(), payload.size());
  adapter.send_packet(packet::set_daq_list, b);
  EXPECT_EQ(pair.read_all(), frame_text(0, std::string("\x11\x00", 2)) + frame_text(1, "") + frame_text(2, "") +
                                 frame_text(3, payload));

  // The peer goes: the link unplugs itself and releases the connection.
  std::weak_ptr<io::tcp> weak = pair.connection;
  pair.connection.reset();
  ::close(pair.peer);
  pair.peer = -1;
  for (int i = 0; i < 3 && adapter.disconnects == 0; ++i) io::test_client::run_ready(loop, 1000);
  EXPECT_EQ(adapter.disconnects, 1);
  EXPECT_TRUE(weak.expired());
  EXPECT_NO_THROW(adapter.send_connect());
}

TEST(ObserverAdapter, UnpluggedInsideAPacketHandler) {
  // A handler whose reply finds the connection lost: the link (and its source, whose
  // decoder is running) is replaced mid-call; the rest of the read is dropped.
  io::event_list loop;
  paired pair(loop);
  struct replier : recorder {
    void on_model_online(blob& b) override {
      recorder::on_model_online(b);
      on_disconnect();
    }
  } adapter;
  adapter.set_connection(pair.connection);
  pair.connection.reset();
  pair.write(frame_text(16, "1") + frame_text(16, "2"));
  io::test_client::run_ready(loop, 1000);
  EXPECT_EQ(adapter.calls, std::vector<std::string>{"online:1"});
  EXPECT_EQ(adapter.link.state, io::s2p::decode_state::hunting);
}

TEST(ObserverAdapter, AReplacedConnectionNoLongerReachesTheAdapter) {
  io::event_list loop;
  paired first(loop), second(loop);
  recorder adapter;
  adapter.set_connection(first.connection);
  adapter.set_connection(second.connection);
  // The first connection, still held here, is lost: the second must stay plugged in.
  first.connection->close();
  EXPECT_EQ(adapter.disconnects, 0);
  second.write(frame_text(16, "7"));
  for (int i = 0; i < 3 && adapter.calls.empty(); ++i) io::test_client::run_ready(loop, 1000);
  EXPECT_EQ(adapter.calls, std::vector<std::string>{"online:7"});
  adapter.send_packet(packet::command, "quit", 4);
  EXPECT_EQ(second.read_all(), frame_text(6, "quit"));
}

TEST(ObserverAdapter, TheModelsLossIsLoggedWhateverStrangersCost) {
  // Strangers turned away use up their 20 lines a second; the model's own lines (it reads
  // too little, its link is lost) have a budget of their own and are all written.
  io::event_list loop;
  paired model(loop);
  struct lossy : recorder {
    using observer_adapter::turn_away;
    void on_disconnect() override {
      log_info << "lost" << std::endl;
      recorder::on_disconnect();
    }
  } adapter;
  adapter.set_connection(model.connection);
  log_capture warnings(log_warn), info(log_info);
  for (size_t i = 0; i < 2 * observer_adapter::max_refusal_lines_per_second; ++i) {
    paired stranger(loop);
    adapter.turn_away(*stranger.connection, "stranger");
  }
  const std::string unread(observer_adapter::max_unsent / 4, 'x');
  for (int i = 0; i < 6 && adapter.disconnects == 0; ++i)
    adapter.send_packet(packet::parameter_values, unread.data(), static_cast<uint32_t>(unread.size()));
  EXPECT_EQ(adapter.disconnects, 1);
  ASSERT_EQ(warnings.lines.size(), observer_adapter::max_refusal_lines_per_second + 1);
  EXPECT_NE(warnings.lines.back().find("it reads too little, and the connection to it is closed."), std::string::npos);
  EXPECT_EQ(info.lines, std::vector<std::string>{"lost"});
}

}  // namespace
}  // namespace vesk::rt
