#pragma once
// The back end's side of one editor connection: the GUI command dispatcher, the files
// opened through it, and the signal and parameter names it subscribed.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backend/managed_file.h"
#include "foundation/json.h"
#include "io/websocket.h"

namespace vesk {

class main_controller;

/// The "cmd" of a message, "" when it has none; found without copying the message.
std::string command_of(const vesk::json& message);

class session : public std::enable_shared_from_this<session> {
 public:
  /// Stores both and installs the connection's text, binary and close callbacks.
  session(std::shared_ptr<vesk::io::websocket_connection> conn, vesk::main_controller& owner);
  ~session();
  session(const session&) = delete;
  session& operator=(const session&) = delete;

  /// One text message: parsed as JSON and dispatched.
  void on_text(std::string text);
  /// One binary message: parameter values for the model (tag 2).
  void on_binary(std::string data);
  /// The connection closed: the controller forgets closed sessions.
  void on_close();
  /// Dispatches one request by its "cmd".
  void handle_command(vesk::json request);
  /// Sends "read_file" with the file's content (not while this session's own save point runs).
  void send_read_file(const std::shared_ptr<managed_file>& file);
  /// Sends one JSON message, dumped with the two-blank indent.
  void send(const vesk::json& message);
  /// Sends one message already written as JSON text; `cmd` names it in refusals. A
  /// message that alone reaches queue_limit could never be sent: it is refused with an
  /// error line, and the editor keeps its connection.
  void send_text(const std::string& text, const std::string& cmd);
  /// Sends one binary message (model values).
  void send_binary(const std::string& message);
  /// Whether the connection may take another message: false once the editor was cut off.
  bool has_room();

  /// Bytes waiting to be sent at which an editor counts as no longer reading. The
  /// connection enforces it on everything queued (pongs too): it is dropped, so this
  /// session ends, and one warning is logged; the editor may connect again.
  static constexpr size_t queue_limit = 64u << 20;

  vesk::main_controller& controller;
  std::map<std::string, std::shared_ptr<managed_file>> open_files;
  std::shared_ptr<vesk::io::websocket_connection> connection;
  std::vector<std::string> daq_list;
  std::vector<std::string> paq_list;
  bool in_save_point = false;
  /// Set while signal value messages for this session are dropped because its editor
  /// does not read them fast enough (see model_observer_gateway::signal_high_water).
  bool dropping_signals = false;
  /// Set once the editor was cut off for not reading: nothing more is sent.
  bool cut_off = false;
};

}  // namespace vesk
