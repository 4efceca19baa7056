#include "io/websocket.h"

#include <algorithm>
#include <ostream>
#include <sstream>
#include <vector>

#include <websocketpp/config/core.hpp>
#include <websocketpp/server.hpp>

#include "foundation/bt_exception.h"
#include "foundation/log_stream.h"

namespace vesk::io {

using ws_endpoint = websocketpp::server<websocketpp::config::core>;

/// One WebSocket connection: the TCP connection, the library's connection and the
/// stream the library writes its output into.
class websocket_connection_impl : public websocket_connection,
                                  public std::enable_shared_from_this<websocket_connection_impl> {
 public:
  websocket_connection_impl(std::shared_ptr<tcp> c, ws_endpoint::connection_ptr w, ws_endpoint::elog_type& log)
      : connection(std::move(c)), ws(std::move(w)), elog(log) {
    ws->register_ostream(&output);
  }

  ~websocket_connection_impl() override {
    // The TCP connection may outlive us in other hands; it must not call back here.
    connection->on_disconnected = [] {};
    connection->on_all_sent = [] {};
    connection->on_new_data = [](blob& b) { return b.size; };
    ws->set_message_handler(nullptr);
    ws->set_open_handler(nullptr);
    ws->set_shutdown_handler(nullptr);
    // A pending library read holds the library connection in a cycle; the end of input
    // breaks it. Unless a closing handshake has finished, the library takes it for a peer
    // that vanished and logs an error; but every connection ends here this way (an editor
    // that closes its socket, one we dropped or replaced), so the note is kept out of the
    // log. The library's log is shared, and ws keeps it alive. Nothing it writes is sent.
    const bool noting = elog.dynamic_test(websocketpp::log::elevel::rerror);
    elog.clear_channels(websocketpp::log::elevel::rerror);
    ws->eof();
    if (noting) elog.set_channels(websocketpp::log::elevel::rerror);
    ws->register_ostream(nullptr);
  }

  void send_text(const char* data, size_t length) override { send(data, length, websocketpp::frame::opcode::text); }
  void send_binary(const char* data, size_t length) override {
    send(data, length, websocketpp::frame::opcode::binary);
  }
  bool is_connected() override { return !lost_ && connection->fd > 0; }
  size_t queued_bytes() const override { return connection->queued_bytes(); }

  void close(uint16_t code, const std::string& reason) override {
    std::shared_ptr<websocket_connection_impl> keep = shared_from_this();
    if (!is_connected()) return;
    websocketpp::lib::error_code refused;
    ws->close(code, reason, refused);
    flush_output();
    if (refused) connection->close();
    if (!is_connected()) return;
    lingering_ = keep;
    close_timer_ = std::make_unique<timer>(connection->list, close_wait_ms, [this] { connection->close(); });
  }

  void drop() override {
    std::shared_ptr<websocket_connection_impl> keep = shared_from_this();
    connection->close();
  }

  /// Feeds received bytes to the library; the receive buffer is always emptied.
  size_t feed_input(blob& bytes) {
    std::shared_ptr<websocket_connection_impl> keep = shared_from_this();
    ws_endpoint::connection_ptr library_connection = ws;
    if (bytes.size == 0) {
      flush_output();
      return 0;
    }
    const char* next = static_cast<const char*>(bytes.data);
    size_t left = bytes.size;
    while (left > 0 && !refused_ && !lost_) {
      size_t taken = library_connection->read_some(next, left);
      if (taken == 0) refused_ = true;  // no longer reading: offering them again would spin
      next += taken;
      left -= taken;
      // A request that has not ended within the bound is no handshake worth waiting for
      // (the library would collect up to 16 kB of headers and 32 MB of body).
      handshake_bytes += handed_over ? 0 : taken;
      if (handshake_bytes > websocket_server::max_handshake_bytes) refused_ = true;
    }
    flush_output();
    // Bytes the library will never take: the connection is of no further use.
    if (refused_) connection->close();
    return bytes.size;
  }

  /// Sends what the library wrote and empties the stream; after the library ended the
  /// connection (closing handshake done, handshake refused, protocol error) the socket
  /// is closed as soon as everything has left.
  void flush_output() {
    std::string bytes = output.str();
    // Emptied before sending: a send that loses the connection may bring us back here.
    output.str(std::string());
    std::shared_ptr<tcp> keep = connection;
    keep->send(bytes.data(), bytes.size());
    const size_t waiting = keep->queued_bytes();
    if (queue_limit > 0 && waiting >= queue_limit && !lost_) {
      std::function<void(size_t)> handler = on_overflow;
      handler(waiting);
      drop();
      return;
    }
    if (!ended_ || keep->fd <= 0) return;
    if (keep->queued_bytes() == 0) {
      keep->close();
    } else {
      keep->on_all_sent = [this] { connection->close(); };
    }
  }

  void dispatch_message(ws_endpoint::message_ptr message) {
    std::function<void(std::string)> handler;
    switch (message->get_opcode()) {
      case websocketpp::frame::opcode::text: handler = on_text; break;
      case websocketpp::frame::opcode::binary: handler = on_binary; break;
      default: throw_bt_exception("Received message with unknown op-code.");
    }
    handler(std::move(message->get_raw_payload()));
  }

  /// The library has ended the connection; the socket follows with the next flush.
  void library_ended() { ended_ = true; }

  void closed() {
    if (lost_) return;
    lost_ = true;
    std::shared_ptr<websocket_connection_impl> keep = shared_from_this();
    std::function<void()> handler = on_close;
    handler();
    lingering_.reset();
  }

  std::shared_ptr<tcp> connection;
  ws_endpoint::connection_ptr ws;
  ws_endpoint::elog_type& elog;  ///< the library's error log, shared by all connections
  std::stringstream output;
  bool waited_a_tick = false;  ///< still in its handshake at the server's previous tick
  bool handed_over = false;    ///< its handshake was accepted
  size_t handshake_bytes = 0;  ///< bytes the library took before the handshake was accepted

 private:
  void send(const char* data, size_t length, websocketpp::frame::opcode::value opcode) {
    if (lost_) return;
    std::shared_ptr<websocket_connection_impl> keep = shared_from_this();
    // An error (not yet open, already closing) loses the message, as for a lost connection.
    websocketpp::lib::error_code ignored = ws->send(data, length, opcode);
    (void)ignored;
    flush_output();
  }

  bool refused_ = false;
  bool ended_ = false;
  bool lost_ = false;
  std::shared_ptr<websocket_connection_impl> lingering_;  ///< itself, during a closing handshake we started
  std::unique_ptr<timer> close_timer_;
};

struct websocket_server::library {
  ws_endpoint endpoint;
  std::vector<std::shared_ptr<websocket_connection_impl>> pending;  ///< oldest first
};

websocket_server::websocket_server(event_list& list, end_point where)
    : lib_(std::make_unique<library>()),
      server_(list, where),
      handshake_timer_(list, 0, [this] { expire_handshakes(); }) {
  on_new_connection = [](std::shared_ptr<websocket_connection>) {};
  ws_endpoint& endpoint = lib_->endpoint;
  // The access log would print every frame; the library's errors go to the debug log.
  endpoint.clear_access_channels(websocketpp::log::alevel::all);
  endpoint.get_elog().set_ostream(&log_debug);
  endpoint.register_ostream(&std::cout);
  accept_origin = [](const std::string&) { return true; };
  endpoint.set_validate_handler([this](websocketpp::connection_hdl handle) {
    ws_endpoint::connection_ptr c = lib_->endpoint.get_con_from_hdl(handle);
    std::function<bool(const std::string&)> accept = accept_origin;
    if (accept(c->get_request_header("Origin"))) return true;
    c->set_status(websocketpp::http::status_code::forbidden);
    return false;
  });
  server_.on_new_connection = [this](std::shared_ptr<tcp> connection) { accept_websocket(std::move(connection)); };
}

websocket_server::~websocket_server() = default;

uint16_t websocket_server::local_port() const { return server_.local_port(); }

void websocket_server::accept_websocket(std::shared_ptr<tcp> connection) {
  if (lib_->pending.size() >= max_pending_handshakes) {
    if (!noted_full_) {
      log_debug << "GUI port: " << max_pending_handshakes
                << " connections are in their opening handshake; further ones are closed at once." << std::endl;
    }
    noted_full_ = true;
    connection->close();
    return;
  }
  noted_full_ = false;
  ws_endpoint::connection_ptr library_connection = lib_->endpoint.get_connection();
  library_connection->set_max_http_body_size(0);  // an opening handshake has no body
  library_connection->start();
  auto impl = std::make_shared<websocket_connection_impl>(connection, library_connection, lib_->endpoint.get_elog());
  websocket_connection_impl* raw = impl.get();
  connection->on_disconnected = [raw] { raw->closed(); };
  library_connection->set_message_handler(
      [raw](websocketpp::connection_hdl, ws_endpoint::message_ptr message) { raw->dispatch_message(message); });
  library_connection->set_shutdown_handler([raw](websocketpp::connection_hdl) {
    raw->library_ended();
    return websocketpp::lib::error_code();
  });
  // Until its handshake is accepted the connection is ours alone: one that is refused,
  // fails or never completes must not disturb the connections already handed out.
  library_connection->set_open_handler([this, raw](websocketpp::connection_hdl) { hand_over(raw); });
  impl->on_close = [this, raw] { forget(raw); };
  lib_->pending.push_back(impl);
  if (handshake_timer_.period == 0) handshake_timer_.set_interval(handshake_wait_ms);
  connection->on_new_data = [raw](blob& bytes) { return raw->feed_input(bytes); };
  impl->flush_output();
}

void websocket_server::hand_over(websocket_connection_impl* pending) {
  auto& list = lib_->pending;
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& c) { return c.get() == pending; });
  if (it == list.end()) return;
  std::shared_ptr<websocket_connection_impl> accepted = std::move(*it);
  list.erase(it);
  accepted->handed_over = true;
  accepted->on_close = [] {};
  std::function<void(std::shared_ptr<websocket_connection>)> handler = on_new_connection;
  handler(std::move(accepted));
}

void websocket_server::forget(websocket_connection_impl* pending) {
  auto& list = lib_->pending;
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& c) { return c.get() == pending; });
  if (it == list.end()) return;
  // Destroyed once the call that lost it has returned (it holds its own pointer).
  list.erase(it);
}

void websocket_server::expire_handshakes() {
  std::vector<std::shared_ptr<websocket_connection_impl>> late;
  for (const auto& c : lib_->pending) {
    if (c->waited_a_tick) late.push_back(c);
    c->waited_a_tick = true;
  }
  for (const auto& c : late) c->drop();
  if (lib_->pending.empty()) handshake_timer_.set_interval(0);
}

}  // namespace vesk::io
