#include "io/observer_adapter.h"

#include <ostream>

#include "foundation/log_stream.h"
#include "foundation/memview.h"

namespace vesk::rt {

observer_adapter::observer_adapter() {
  link.on_packet = [this](unsigned long type, void* data, unsigned long length) { dispatch_packet(type, data, length); };
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
void observer_adapter::on_model_cout(std::string text) { log_info << text << std::endl; }
void observer_adapter::on_model_cerr(std::string text) { log_err << text << std::endl; }

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
    case packet::model_cout: on_model_cout(memview_to_string(data, length, 0, 0)); break;
    case packet::model_cerr: on_model_cerr(memview_to_string(data, length, 0, 0)); break;
    default: break;
  }
}

}  // namespace vesk::rt
