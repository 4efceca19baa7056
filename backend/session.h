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
  /// Whether a message of `size` bytes may be queued; otherwise an error line naming the
  /// message `cmd`, its size and queue_limit, and false.
  bool fits_queue(size_t size, const std::string& cmd);
  /// Sends one binary message (model values).
  void send_binary(const std::string& message);
  /// Whether the connection may take another message: false once the editor was cut off.
  bool has_room();

  /// Bytes waiting to be sent at which an editor counts as no longer reading. The
  /// connection enforces it on everything queued (pongs too): it is dropped, so this
  /// session ends, and one warning is logged; the editor may connect again.
  static constexpr size_t queue_limit = 64u << 20;
  /// Requests answered by one "get_view_config": a large model has a few thousand blocks,
  /// and the editor asks once per block type and configuration.
  static constexpr size_t max_view_requests = 10000;
  /// The most bytes of one "view_config" reply: half the send bound, so that the reply
  /// fits beside the signal values that may wait (16 MiB) and whatever else is queued.
  static constexpr size_t max_view_reply_bytes = size_t{32} << 20;
  /// The most model text the `reference` blocks of one "get_view_config" read (each model
  /// once while it is cached): reading and parsing it holds the loop, so past this the
  /// message is refused rather than answered in seconds.
  static constexpr size_t max_view_model_bytes = size_t{32} << 20;
  /// Names in one "set_daq_list" or "set_paq_list" list: far more than any view shows,
  /// and with the subscription table built from them a few tens of MiB at most.
  static constexpr size_t max_subscribed_names = 100000;
  /// Files that the sessions have opened and the back end holds (with their histories)
  /// for as long as it runs; a new one past it is refused.
  static constexpr size_t max_held_files = 1024;
  /// The current contents of those files together; a new file is refused while they hold
  /// this much (the histories' own budget never drops a current content).
  static constexpr size_t max_held_content_bytes = size_t{256} << 20;

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
