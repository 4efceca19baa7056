#pragma once
// The back end's end of the model link: listens on the model port, runs the handshake
// with a connecting model, publishes its signal and parameter definitions, watches it
// with an online counter and a watchdog, and streams the values the editor's sessions
// subscribed (docs/model-gateway.md). Only a model of the user's own reaches the link:
// one of this machine that runs as the user (or root), or one on a host the project names.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "backend/data_fanout.h"
#include "backend/definition_intake.h"
#include "foundation/json.h"
#include "foundation/log_stream.h"
#include "io/observer_adapter.h"
#include "io/tcp_server.h"
#include "io/timer.h"

namespace vesk {

class main_controller;

class model_observer_gateway : public vesk::rt::observer_adapter {
 public:
  /// Bytes waiting on a session's connection past which its signal value messages are
  /// dropped, so that an editor reading slower than the model sends cannot make the back
  /// end's memory grow without bound. Below half of it they flow again.
  static constexpr size_t signal_high_water = 16u << 20;
  /// A handshake starts at most once in this time. A model that could restart it at will
  /// (a counter jump right after each end) would make the back end publish its state,
  /// log and answer at the rate of its packets; within the gap the link idles instead, and
  /// the model's next online packet after it starts the handshake.
  static constexpr std::chrono::milliseconds handshake_gap{200};
  /// Lines within one second about what the model's packets held that was dropped (broken
  /// packets, data packets past their bound, definitions no handshake asked for): a model
  /// sending nothing else, or a host taking the link again and again, would otherwise make
  /// logging hold the loop.
  static constexpr size_t max_reports_per_second = max_model_lines_per_second;
  /// Model output lines (packets 48 and 49) logged within one second: a model that prints
  /// a line per tick of 1 ms keeps them all. Each one is printed, kept and pushed to the
  /// editor; any host on the model port may send them at the network's rate.
  static constexpr size_t max_output_lines_per_second = 1000;
  /// Bytes of model output text logged within one second (each line is cut to a log
  /// entry's 64 KiB first).
  static constexpr size_t max_output_bytes_per_second = 1u << 20;
  /// Payload bytes of one data packet (32 or 33). Its records are copied into a message
  /// per session and framed again for each, which costs far more than reading the frame;
  /// a model sends at most 256 KiB of records in one packet. A larger one is dropped.
  static constexpr size_t max_data_packet = 1u << 20;

  /// Binds the model port, searching upwards from `port`, and sets VESK_MODEL_PORT.
  model_observer_gateway(vesk::main_controller& owner, uint16_t port);
  ~model_observer_gateway() override;

  void on_model_online(blob& payload) override;
  void on_ack_signal_def(blob& payload) override;
  void on_ack_parameter_def(blob& payload) override;
  void on_ack_set_daq_list(const void* data, size_t length) override;
  void on_ack_set_paq_list(const void* data, size_t length) override;
  void on_daq_data(blob& payload) override;
  void on_paq_data(blob& payload) override;
  /// A model output line: cut to a log entry's size before it is copied or repaired, and
  /// logged within max_output_lines_per_second and max_output_bytes_per_second.
  void on_model_cout(const char* text, size_t length) override;
  /// The same on the error log.
  void on_model_cerr(const char* text, size_t length) override;
  void on_disconnect() override;

  /// Rebuilds the signal subscription table from the sessions and sends it to the model.
  void update_daq();
  /// The same for parameters.
  void update_paq();
  /// Sends parameter values from the editor (its tag-2 message without the tag) as packet
  /// 5. A packet that alone passes max_unsent could never be sent: it is refused before
  /// anything is queued, with an error line, and the model keeps its link.
  void send_parameter_values(const char* data, size_t length);
  /// Restarts the handshake with the connected model.
  void on_reconnect();
  /// Whether a model completed its handshake and is online.
  bool model_online() const { return model_connected; }

  vesk::main_controller& controller;
  std::shared_ptr<vesk::io::tcp_server> model_server;
  uint16_t port = 0;  ///< the port bound
  vesk::io::timer watchdog_timer;
  vesk::io::timer connect_timer;
  unsigned long connect_timeout = 2500;  ///< ms allowed between definition batches
  subscription_table daq_table;
  subscription_table paq_table;
  definition_intake definitions;  ///< collected during a handshake
  bool online_seen = false;      ///< an online packet came since the last watchdog tick
  bool model_connected = false;  ///< handshake complete
  bool connecting = false;       ///< handshake running
  bool first_online = false;     ///< accept the next counter without comparing
  uint32_t expected_counter = 0;
  ack_counter pending_daq;  ///< DAQ lists sent and not yet acknowledged
  ack_counter pending_paq;  ///< PAQ lists likewise
  bool resend_paq = true;   ///< the next DAQ acknowledgement also sends the PAQ list

 private:
  void on_model_connection(std::shared_ptr<vesk::io::tcp> connection);
  /// Whether `connection` may reach the model link: from the loopback network when its
  /// socket belongs to the user vesk runs as or to root, from any other address when the
  /// project's "model_hosts" names it (and, when that address is this machine's own, its
  /// socket is the user's or root's too). Else `line` says why and what to set to accept it.
  bool admits(const vesk::io::tcp& connection, std::string& line) const;
  /// A new connection holds the link: the handshake starts over.
  void on_plugged() override;
  void watchdog_tick();
  void connect_timed_out();
  /// One definition batch of `kind`: taken when the handshake waits for it, else dropped.
  void take_definitions(definition_intake::list_kind kind, blob& payload);
  /// The end of the parameter list: publishes the definitions, the model is online.
  void complete_handshake();
  /// Clears "online" and the definitions in the state, publishing only a change.
  void publish_offline();
  /// Logs a model output line on `log` within the output budget.
  void log_output(std::ostream& log, const char* text, size_t length);
  /// Writes how many model output lines were dropped since it last did, if any were.
  void note_dropped_output();
  /// Fans a data packet out to the sessions as binary messages; one past max_data_packet
  /// is dropped with a debug line (within max_reports_per_second).
  void deliver(data_kind kind, blob& payload);

  std::vector<std::string> messages_;  ///< one per session, reused between packets
  bool unasked_logged_ = false;        ///< this connection's unasked definitions were logged
  bool started_ = false;               ///< a handshake ever started
  std::chrono::steady_clock::time_point last_start_;     ///< of the latest handshake
  // What the model's dropped packets make the back end log counts against the adapter's
  // model_lines_ (model output lines have their own budget below, with a count of bytes
  // and a note of their own).
  per_second_budget output_{max_output_lines_per_second, max_output_bytes_per_second};  ///< model output lines
};

}  // namespace vesk
