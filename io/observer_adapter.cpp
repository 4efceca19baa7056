#include "io/observer_adapter.h"

#include <ostream>

#include "foundation/log_stream.h"

namespace vesk::rt {

/// A connection that has not sent a valid frame yet while another one holds the link.
struct observer_adapter::waiting {
  std::shared_ptr<io::tcp> connection;
  io::s2p probe;                   ///< looks for the first frame; delivers nothing
  const uint8_t* first = nullptr;  ///< where that frame starts in the bytes screened
  std::string refused;             ///< why the connection is no model link
};

observer_adapter::observer_adapter() {
  link.on_packet = [this](unsigned long type, void* data, unsigned long length) { dispatch_packet(type, data, length); };
  link.on_refused = [this](const std::string& why) {
    if (std::shared_ptr<io::tcp> c = connection_.lock()) refuse(*c, why, model_lines_);
  };
  link.set_source(io::source());
}

observer_adapter::~observer_adapter() { detach(); }

void observer_adapter::on_model_online(blob&) {}
void observer_adapter::on_ack_signal_def(blob&) {}
void observer_adapter::on_ack_parameter_def(blob&) {}
void observer_adapter::on_ack_set_daq_list(const void*, size_t) {}
void observer_adapter::on_ack_set_paq_list(const void*, size_t) {}
void observer_adapter::on_daq_data(blob&) {}
void observer_adapter::on_paq_data(blob&) {}
void observer_adapter::on_model_cout(const char* text, size_t length) {
  log_info.write(text, static_cast<std::streamsize>(length)) << std::endl;
}
void observer_adapter::on_model_cerr(const char* text, size_t length) {
  log_err.write(text, static_cast<std::streamsize>(length)) << std::endl;
}

void observer_adapter::send_connect() {
  const uint8_t version[2] = {17, 0};
  send_packet(packet::connect, version, sizeof version);
}

void observer_adapter::request_signal_defs() { send_packet(packet::request_signal_defs, nullptr, 0); }
void observer_adapter::request_parameter_defs() { send_packet(packet::request_parameter_defs, nullptr, 0); }

void observer_adapter::detach() {
  // A connection someone else still holds must not reach back into this adapter later.
  if (std::shared_ptr<io::tcp> old = connection_.lock()) old->on_disconnected = [] {};
  connection_.reset();
}

void observer_adapter::on_disconnect() {
  detach();
  link.out = io::sink(static_cast<io::sink::null_impl*>(nullptr));
  link.reset();
  link.set_source(io::source());
}

void observer_adapter::send_packet(uint8_t type, const void* data, uint32_t length) {
  link.send_packet(type, data, length);
  std::shared_ptr<io::tcp> c = connection_.lock();
  if (c && c->queued_bytes() > max_unsent) {
    // The model's own line, and its loss that follows: never hidden by strangers' refusals.
    peer_lines::cause from_model(model_lines_);
    log_warn << "Model port: " << c->queued_bytes() << " bytes wait to be sent to the model, more than "
             << max_unsent << "; it reads too little, and the connection to it is closed." << std::endl;
    c->close();
  }
}

void observer_adapter::send_packet(uint8_t type, blob& payload) {
  send_packet(type, payload.data, static_cast<uint32_t>(payload.size));
}

void observer_adapter::set_connection(std::shared_ptr<io::tcp> connection) {
  detach();
  connection_ = connection;
  connection->on_disconnected = [this] { on_disconnect(); };
  link.out = io::sink(connection);
  link.reset();
  link.set_source(io::source(connection));
}

void observer_adapter::close_connection() {
  if (std::shared_ptr<io::tcp> c = connection_.lock()) c->close();
}

void observer_adapter::refuse(io::tcp& connection, const std::string& why, peer_lines& lines) {
  // What its loss logs (the link's end) counts too.
  peer_lines::cause refused(lines);
  log_debug << "Model port: a connection " << why << "; it was closed." << std::endl;
  connection.close();
}

void observer_adapter::turn_away(io::tcp& connection, const std::string& line) {
  peer_lines::cause refused(refusals_);
  log_warn << line << std::endl;
  connection.close();
}

uint64_t observer_adapter::reads() const {
  std::shared_ptr<io::tcp> c = connection_.lock();
  return c ? c->reads() : 0;
}

void observer_adapter::on_plugged() {}

void observer_adapter::offer_connection(std::shared_ptr<io::tcp> connection) {
  std::shared_ptr<io::tcp> current = connection_.lock();
  if (!current || current->fd <= 0) {
    set_connection(std::move(connection));
    on_plugged();
    return;
  }
  if (waiting_.size() >= max_waiting) {
    peer_lines::cause refused(refusals_);
    std::shared_ptr<waiting> oldest = waiting_.front();
    forget(oldest.get());
    log_debug << "Model port: more than " << max_waiting
              << " connections wait for their first frame; the oldest was closed." << std::endl;
    oldest->connection->close();
  }
  auto w = std::make_shared<waiting>();
  w->connection = connection;
  waiting* raw = w.get();
  w->probe.on_packet = [raw](unsigned long, void* data, unsigned long) {
    raw->first = static_cast<const uint8_t*>(data) - io::frame::header_size;
    raw->probe.reset();  // ends the probe's decode: the link decodes from this frame on
  };
  w->probe.on_refused = [raw](const std::string& why) { raw->refused = why; };
  std::weak_ptr<waiting> weak = w;
  w->probe.in = io::source(connection);
  w->probe.in.on_new_data = [this, weak](blob& bytes) -> size_t {
    std::shared_ptr<waiting> held = weak.lock();
    return held ? screen(held, bytes) : bytes.size;
  };
  connection->on_disconnected = [this, weak] {
    if (std::shared_ptr<waiting> held = weak.lock()) forget(held.get());
  };
  waiting_.push_back(std::move(w));
}

size_t observer_adapter::screen(const std::shared_ptr<waiting>& w, blob& bytes) {
  const size_t used = w->probe.decode(bytes);
  if (!w->refused.empty()) {
    forget(w.get());
    refuse(*w->connection, w->refused, refusals_);
    return bytes.size;
  }
  if (w->first == nullptr) return used;
  uint8_t* const base = static_cast<uint8_t*>(bytes.data);
  const size_t start = static_cast<size_t>(w->first - base);
  forget(w.get());
  set_connection(w->connection);
  on_plugged();
  if (connection_.lock() != w->connection) return bytes.size;  // lost again while plugging in
  blob rest(base + start, bytes.size - start);
  return start + link.decode(rest);
}

void observer_adapter::forget(const waiting* w) {
  waiting_.remove_if([w](const std::shared_ptr<waiting>& x) { return x.get() == w; });
}

void observer_adapter::dispatch_packet(unsigned long type, void* data, unsigned long length) {
  blob payload(data, length);
  switch (type) {
    case packet::model_online: on_model_online(payload); break;
    case packet::signal_defs: on_ack_signal_def(payload); break;
    case packet::parameter_defs: on_ack_parameter_def(payload); break;
    case packet::daq_list_ack: on_ack_set_daq_list(data, length); break;
    case packet::paq_list_ack: on_ack_set_paq_list(data, length); break;
    case packet::daq_data: on_daq_data(payload); break;
    case packet::paq_data: on_paq_data(payload); break;
    case packet::model_cout: on_model_cout(static_cast<const char*>(data), length); break;
    case packet::model_cerr: on_model_cerr(static_cast<const char*>(data), length); break;
    default: break;
  }
}

}  // namespace vesk::rt
