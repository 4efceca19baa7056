#include "io/websocket.h"

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <websocketpp/config/core.hpp>
#include <websocketpp/server.hpp>

#include "foundation/bt_exception.h"
#include "foundation/log_stream.h"
#include "io/websocket_input.h"

namespace vesk::io {

using ws_endpoint = websocketpp::server<websocketpp::config::core>;


struct websocket_server::library {
  ws_endpoint endpoint;
  websocket_server* server = nullptr;  ///< null once the server is gone
  std::vector<std::shared_ptr<websocket_connection_impl>> pending;  ///< oldest first
  std::vector<websocket_connection_impl*> live;  ///< every connection, handed out or not
  size_t held = 0;            ///< what the connections held when they last counted
  uint64_t handed_out = 0;    ///< connections handed out so far
  bool enforcing = false;     ///< closing connections for the memory limit
  peer_lines handshake_lines{"GUI port", websocket_server::max_handshake_lines_per_second};

  /// Past the server's memory_limit, drops connections until within it.
  void enforce();
};

/// One WebSocket connection: the TCP connection, the library's connection and the
/// bytes the library has written out and not yet handed to the socket.
class websocket_connection_impl : public websocket_connection,
                                  public std::enable_shared_from_this<websocket_connection_impl> {
 public:
  websocket_connection_impl(std::shared_ptr<websocket_server::library> l, std::shared_ptr<tcp> c,
                            ws_endpoint::connection_ptr w)
      : lib(std::move(l)), connection(std::move(c)), ws(std::move(w)), elog(lib->endpoint.get_elog()) {
    // Straight into a string: a stream would grow by copies, and copy once more to hand its
    // text over. The library's buffers are gone once its write returns, so they are kept.
    // A stream, the endpoint's default, would be used before the handlers.
    ws->register_ostream(nullptr);
    ws->set_write_handler([this](websocketpp::connection_hdl, const char* bytes, size_t length) {
      output.append(bytes, length);
      return websocketpp::lib::error_code();
    });
    ws->set_vector_write_handler(
        [this](websocketpp::connection_hdl, const std::vector<websocketpp::transport::buffer>& pieces) {
          for (const websocketpp::transport::buffer& b : pieces) output.append(b.buf, b.len);
          return websocketpp::lib::error_code();
        });
    lib->live.push_back(this);
    lines = &lib->handshake_lines;
  }

  ~websocket_connection_impl() override {
    lib->held -= counted_;
    lib->live.erase(std::find(lib->live.begin(), lib->live.end(), this));
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
    ws->set_write_handler(nullptr);
    ws->set_vector_write_handler(nullptr);
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
    closing_ = true;
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
    closing_ = true;
    connection->close();
    recount();
  }

  /// Feeds received bytes to the library; the receive buffer is always emptied.
  size_t feed_input(blob& bytes) {
    std::shared_ptr<websocket_connection_impl> keep = shared_from_this();
    ws_endpoint::connection_ptr library_connection = ws;
    if (bytes.size == 0) {
      flush_output();
      return 0;
    }
    // Whatever the peer's bytes make us log counts against its budget.
    peer_lines::cause from_peer(lines != nullptr ? *lines : lib->handshake_lines);
    const char* next = static_cast<const char*>(bytes.data);
    size_t left = bytes.size;
    while (left > 0 && !refused_ && !lost_) {
      // The request goes to the library on its own, so that whatever follows it is read as
      // frames only once the handshake was accepted, and is counted as such.
      const bool frames = handed_over;
      size_t offer = left;
      if (!frames) {
        const bool in_request = !request_.found();
        offer = request_.part(next, left);
        handshake_bytes += offer;
        // A request that has not ended within the bound is no handshake worth waiting for
        // (the library would collect 32 MB of body after it).
        if (handshake_bytes > websocket_server::max_handshake_bytes) {
          if (in_request) {
            refuse_request("its request line and headers passed the bound of " +
                           std::to_string(websocket_server::max_handshake_bytes) + " bytes (" +
                           std::to_string(handshake_bytes) + " bytes received)");
          }
          refused_ = true;
          break;
        }
        if (in_request) {
          take_request(next, offer);
          next += offer;
          left -= offer;
          continue;
        }
      }
      size_t taken = library_connection->read_some(next, offer);
      if (taken == 0) refused_ = true;  // no longer reading: offering them again would spin
      if (frames) incoming_.take(reinterpret_cast<const uint8_t*>(next), taken);
      next += taken;
      left -= taken;
    }
    flush_output();
    // Bytes the library will never take: the connection is of no further use. An answer
    // the library or we have written goes first (flush_output closes after it).
    if (refused_ && !ended_) connection->close();
    account();
    return bytes.size;
  }

  /// What this connection holds now: its read buffers, its handshake so far or the message
  /// not yet complete, and the bytes waiting to be sent. Nothing once it is closed (its
  /// user lets go of it then, and the rest goes with it).
  size_t held() const {
    if (lost_ || connection->fd <= 0) return 0;
    const size_t buffers = connection->rx_capacity + websocketpp::config::core::connection_read_buffer_size;
    // The library fails a connection whose frames announce more than a message may hold.
    const size_t message = static_cast<size_t>(
        std::min<uint64_t>(incoming_.unfinished(), websocket_server::max_message_bytes));
    return buffers + (handed_over ? message : handshake_bytes) + connection->queued_bytes();
  }

  /// Brings the server's total up to date with what this connection holds.
  void recount() {
    const size_t now = held();
    lib->held = lib->held - counted_ + now;
    counted_ = now;
  }

  /// The same, and closes connections when the total is past the limit.
  void account() {
    recount();
    if (lib->server != nullptr && lib->held > lib->server->memory_limit) lib->enforce();
  }

  /// Whether its user may still count on it: open, and neither closed nor dropped.
  bool kept() { return is_connected() && !closing_; }

  /// Sends what the library wrote and empties the output; after the library ended the
  /// connection (closing handshake done, handshake refused, protocol error) the socket
  /// is closed as soon as everything has left.
  void flush_output() {
    // Emptied before sending: a send that loses the connection may bring us back here.
    std::string bytes;
    bytes.swap(output);
    std::shared_ptr<tcp> keep = connection;
    keep->send(bytes.data(), bytes.size());
    const size_t waiting = keep->queued_bytes();
    if (queue_limit > 0 && waiting > queue_limit && !lost_) {
      std::function<void(size_t)> handler = on_overflow;
      handler(waiting);
      drop();
      return;
    }
    account();
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
    recount();
    std::shared_ptr<websocket_connection_impl> keep = shared_from_this();
    std::function<void()> handler = on_close;
    handler();
    lingering_.reset();
  }

  std::shared_ptr<websocket_server::library> lib;  ///< first: the endpoint outlives the library connection
  std::shared_ptr<tcp> connection;
  ws_endpoint::connection_ptr ws;
  ws_endpoint::elog_type& elog;  ///< the library's error log, shared by all connections
  std::string output;  ///< written by the library, not yet handed to the socket
  bool waited_a_tick = false;  ///< still in its handshake at the server's previous tick
  bool handed_over = false;    ///< its handshake was accepted
  uint64_t serial = 0;         ///< its place among the connections handed out (newest highest)
  size_t handshake_bytes = 0;  ///< bytes of the request given to the library

 private:
  void send(const char* data, size_t length, websocketpp::frame::opcode::value opcode) {
    if (lost_) return;
    std::shared_ptr<websocket_connection_impl> keep = shared_from_this();
    // An error (not yet open, already closing) loses the message, as for a lost connection.
    websocketpp::lib::error_code ignored = ws->send(data, length, opcode);
    (void)ignored;
    flush_output();
  }

  /// Collects the request until its end, then gives the library the part it reads.
  void take_request(const char* bytes, size_t length) {
    request_text_.append(bytes, length);
    if (!request_.found()) return;
    const std::string request = library_request(request_text_);
    std::string().swap(request_text_);
    if (request.size() > websocketpp::http::max_header_size) {
      refuse_request("the headers the protocol library reads take " + std::to_string(request.size()) +
                     " bytes, more than its bound of " + std::to_string(websocketpp::http::max_header_size) + " bytes");
      refused_ = true;
      return;
    }
    for (size_t given = 0; given < request.size() && !refused_ && !lost_;) {
      const size_t taken = ws->read_some(request.data() + given, request.size() - given);
      if (taken == 0) refused_ = true;
      given += taken;
    }
  }

  /// Answers a request whose headers pass a bound with 431, with one warning saying `why`;
  /// the socket closes once the answer has left.
  void refuse_request(const std::string& why) {
    log_warn << "GUI port: an opening handshake was refused (431 Request Header Fields Too Large): " << why << "."
             << std::endl;
    output += "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    ended_ = true;
  }

  bool refused_ = false;
  bool ended_ = false;
  bool lost_ = false;
  bool closing_ = false;  ///< its user closed or dropped it
  size_t counted_ = 0;    ///< its share of the server's total
  request_end request_;
  std::string request_text_;  ///< the request so far, until its end
  frame_meter incoming_;
  std::shared_ptr<websocket_connection_impl> lingering_;  ///< itself, during a closing handshake we started
  std::unique_ptr<timer> close_timer_;
};

void websocket_server::library::enforce() {
  if (enforcing || server == nullptr) return;
  enforcing = true;
  // Sockets have taken bytes since the counts were made: count afresh first.
  for (websocket_connection_impl* c : std::vector<websocket_connection_impl*>(live)) c->recount();
  const size_t limit = server->memory_limit, before = held;
  size_t dropped = 0;
  while (held > limit) {
    // The newest connection handed out that its user kept is the editor's session.
    websocket_connection_impl* editor = nullptr;
    for (websocket_connection_impl* c : live) {
      if (c->handed_over && c->kept() && (editor == nullptr || c->serial > editor->serial)) editor = c;
    }
    websocket_connection_impl* victim = nullptr;
    for (websocket_connection_impl* c : live) {
      if (c == editor || c->held() == 0) continue;
      if (victim == nullptr || c->held() > victim->held()) victim = c;
    }
    if (victim == nullptr && editor != nullptr && editor->held() > 0) victim = editor;
    if (victim == nullptr) break;
    std::shared_ptr<websocket_connection_impl> keep = victim->shared_from_this();
    victim->drop();
    ++dropped;
  }
  if (dropped > 0) {
    log_warn << "GUI port: the connections held " << before << " bytes together, more than the bound of " << limit
             << "; " << dropped << " of them were closed." << std::endl;
  }
  enforcing = false;
}

websocket_server::websocket_server(event_list& list, end_point where)
    : lib_(std::make_shared<library>()),
      server_(list, where),
      handshake_timer_(list, 0, [this] { expire_handshakes(); }) {
  on_new_connection = [](std::shared_ptr<websocket_connection>) {};
  ws_endpoint& endpoint = lib_->endpoint;
  // The access log would print every frame; the library's errors go to the debug log.
  endpoint.clear_access_channels(websocketpp::log::alevel::all);
  endpoint.get_elog().set_ostream(&log_debug);
  endpoint.register_ostream(&std::cout);
  accept_origin = [](const std::string&) { return true; };
  accept_peer = [](const tcp&) { return true; };
  lib_->server = this;
  endpoint.set_validate_handler([this](websocketpp::connection_hdl handle) {
    ws_endpoint::connection_ptr c = lib_->endpoint.get_con_from_hdl(handle);
    // The drafts before the standard read a message until an end byte, without bound.
    if (websocketpp::processor::get_websocket_version(c->get_request()) != protocol_version) {
      c->set_status(websocketpp::http::status_code::upgrade_required);
      c->replace_header("Sec-WebSocket-Version", std::to_string(protocol_version));
      return false;
    }
    std::function<bool(const std::string&)> accept = accept_origin;
    if (accept(c->get_request_header("Origin"))) return true;
    c->set_status(websocketpp::http::status_code::forbidden);
    return false;
  });
  server_.on_new_connection = [this](std::shared_ptr<tcp> connection) { accept_websocket(std::move(connection)); };
}

websocket_server::~websocket_server() {
  lib_->server = nullptr;
  // Connections in their handshake are ours alone; those handed out live on with their users.
  std::vector<std::shared_ptr<websocket_connection_impl>> pending;
  pending.swap(lib_->pending);
}

uint16_t websocket_server::local_port() const { return server_.local_port(); }

void websocket_server::accept_websocket(std::shared_ptr<tcp> connection) {
  peer_lines::cause from_peer(lib_->handshake_lines);
  // From a copy: the hook may replace itself. A refused connection takes no room.
  std::function<bool(const tcp&)> accept = accept_peer;
  if (!accept(*connection)) {
    connection->close();
    return;
  }
  if (lib_->pending.size() >= max_pending_handshakes) {
    // Room for the newest: an editor that connects now must not wait behind idle ones.
    if (!noted_full_) {
      log_debug << "GUI port: " << max_pending_handshakes
                << " connections are in their opening handshake; the oldest ones are closed to make room." << std::endl;
    }
    noted_full_ = true;
    std::shared_ptr<websocket_connection_impl> oldest = lib_->pending.front();
    oldest->drop();
    forget(oldest.get());  // its on_close has done so already, unless it was closed before
  } else {
    noted_full_ = false;
  }
  ws_endpoint::connection_ptr library_connection = lib_->endpoint.get_connection();
  library_connection->set_max_http_body_size(0);  // an opening handshake has no body
  library_connection->set_max_message_size(max_message_bytes);
  library_connection->start();
  auto impl = std::make_shared<websocket_connection_impl>(lib_, connection, library_connection);
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
  accepted->serial = ++lib_->handed_out;
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
