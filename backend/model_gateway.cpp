#include "backend/model_gateway.h"

#include <cstdlib>
#include <ostream>
#include <string>

#include "backend/main_controller.h"
#include "backend/type_def.h"
#include "foundation/bt_exception.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace {

/// The name lists of every session, in session order.
std::vector<const std::vector<std::string>*> name_lists(main_controller& c, bool signals) {
  std::vector<const std::vector<std::string>*> lists;
  for (const auto& s : c.sessions) lists.push_back(signals ? &s->daq_list : &s->paq_list);
  return lists;
}

}  // namespace

model_observer_gateway::model_observer_gateway(vesk::main_controller& owner, uint16_t requested)
    : controller(owner),
      watchdog_timer(owner.events, 2500, [this] { watchdog_tick(); }),
      connect_timer(owner.events, 0, [this] { connect_timed_out(); }),
      signal_list(vesk::json::make_array(nullptr, 0)),
      parameter_list(vesk::json::make_array(nullptr, 0)) {
  // The model connects from wherever the runtime runs it, so this port listens on every
  // interface. A port in use is no error: the next ones are tried.
  const uint16_t last = last_port_to_try(requested);
  unsigned p = requested;
  for (; p <= last; ++p) {
    try {
      model_server =
          std::make_shared<vesk::io::tcp_server>(controller.events, vesk::io::end_point{0, static_cast<uint16_t>(p)});
      break;
    } catch (const std::exception&) {
    }
  }
  if (!model_server) {
    throw_bt_exception("Unable to open the model port: none of the ports " + std::to_string(requested) + " to " +
                       std::to_string(last) + " could be bound.");
  }
  port = model_server->local_port();  // the kernel's choice for port 0
  if (p != requested) {
    log_info << "Model-Port " << requested << " is in use. Using " << port << " instead..." << std::endl;
  }
  ::setenv("VESK_MODEL_PORT", std::to_string(port).c_str(), 1);
  model_server->on_new_connection = [this](std::shared_ptr<vesk::io::tcp> c) { on_model_connection(std::move(c)); };
}

model_observer_gateway::~model_observer_gateway() = default;

void model_observer_gateway::on_model_connection(std::shared_ptr<vesk::io::tcp> connection) {
  offer_connection(std::move(connection));
}

void model_observer_gateway::on_plugged() {
  resend_paq = true;
  pending_daq.clear();
  pending_paq.clear();
  on_reconnect();
}

void model_observer_gateway::on_reconnect() {
  model_connected = false;
  connecting = true;
  connect_timer.set_interval(connect_timeout);
  controller.state.online = false;
  controller.state.signal_def = vesk::json();
  controller.state.parameter_def = vesk::json();
  controller.send_backend_state();
  send_connect();
  pending_daq.clear();
  signal_list = vesk::json::make_array(nullptr, 0);
  parameter_list = vesk::json::make_array(nullptr, 0);
  definition_entries_ = 0;
  definition_bytes_ = 0;
  request_signal_defs();
}

model_observer_gateway::batch model_observer_gateway::collect_definitions(blob& payload, vesk::json& list,
                                                                          const char* what) {
  connect_timer.set_interval(connect_timeout);  // every batch extends the deadline
  if (payload.size == 0) return batch::last;
  definition_bytes_ += payload.size;
  bool over = definition_bytes_ > max_definition_bytes;
  std::string dropped;
  if (!over) {
    size_t room = max_definition_entries - definition_entries_;
    try {
      dropped = parse_definition_batch(static_cast<const uint8_t*>(payload.data), payload.size, list, room);
    } catch (const definition_room_exhausted&) {
      over = true;
    }
    definition_entries_ = max_definition_entries - room;
  }
  if (over) {
    log_err << "Model definitions exceed the limit of " << max_definition_entries << " entries or "
            << max_definition_bytes << " bytes; the connection to the model is closed." << std::endl;
    signal_list = vesk::json::make_array(nullptr, 0);
    parameter_list = vesk::json::make_array(nullptr, 0);
    close_connection();
    return batch::dropped;
  }
  if (!dropped.empty()) {
    log_debug << "Model " << what << " definitions: " << dropped << "; the rest of the batch was dropped."
              << std::endl;
  }
  return batch::more;
}

void model_observer_gateway::on_ack_signal_def(blob& payload) {
  switch (collect_definitions(payload, signal_list, "signal")) {
    case batch::more: request_signal_defs(); return;
    case batch::dropped: return;
    case batch::last: break;
  }
  controller.state.signal_def = signal_list;
  controller.send_backend_state();
  request_parameter_defs();
}

void model_observer_gateway::on_ack_parameter_def(blob& payload) {
  switch (collect_definitions(payload, parameter_list, "parameter")) {
    case batch::more: request_parameter_defs(); return;
    case batch::dropped: return;
    case batch::last: break;
  }
  controller.state.parameter_def = parameter_list;
  controller.send_backend_state();
  controller.state.online = true;
  controller.send_backend_state();
  update_daq();
  online_seen = true;
  model_connected = true;
  first_online = true;
  connecting = false;
  connect_timer.set_interval(0);
  log_info << "Model connected..." << std::endl;
}

void model_observer_gateway::connect_timed_out() {
  connecting = false;
  connect_timer.set_interval(0);
}

void model_observer_gateway::on_model_online(blob& payload) {
  online_seen = true;
  if (!model_connected) {
    if (!connecting) on_reconnect();
    return;
  }
  if (payload.size < 4) {
    log_debug << "Model online packet of " << payload.size << " bytes has no counter; dropped." << std::endl;
    return;
  }
  const uint8_t* p = static_cast<const uint8_t*>(payload.data);
  const uint32_t counter = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  if (first_online) {
    first_online = false;
  } else if (counter != expected_counter) {
    log_err << "Model online counter missmatch. Model reset detected. Reconnecting..." << std::endl;
    model_connected = false;
    on_reconnect();
    ++expected_counter;
    return;
  }
  expected_counter = counter + 1;
}

void model_observer_gateway::watchdog_tick() {
  if (model_connected && !online_seen) {
    log_info << "Watchdog-timeout for model. Force disconnected..." << std::endl;
    on_reconnect();
  }
  online_seen = false;
}

void model_observer_gateway::on_disconnect() {
  if (model_connected) log_info << "Model disconnected..." << std::endl;
  model_connected = false;
  controller.state.online = false;
  controller.state.signal_def = vesk::json();
  controller.state.parameter_def = vesk::json();
  controller.send_backend_state();
  observer_adapter::on_disconnect();
}

void model_observer_gateway::on_ack_set_daq_list(const void*, size_t) {
  pending_daq.acknowledged();
  if (resend_paq) {
    resend_paq = false;
    update_paq();
  }
}

void model_observer_gateway::on_ack_set_paq_list(const void*, size_t) { pending_paq.acknowledged(); }

void model_observer_gateway::update_daq() {
  daq_table = build_subscriptions(controller.state.signal_def, name_lists(controller, true));
  const std::string payload = index_payload(daq_table);
  send_packet(vesk::rt::packet::set_daq_list, payload.data(), static_cast<uint32_t>(payload.size()));
  pending_daq.sent();
}

void model_observer_gateway::update_paq() {
  paq_table = build_subscriptions(controller.state.parameter_def, name_lists(controller, false));
  const std::string payload = index_payload(paq_table);
  send_packet(vesk::rt::packet::set_paq_list, payload.data(), static_cast<uint32_t>(payload.size()));
  pending_paq.sent();
}

void model_observer_gateway::on_daq_data(blob& payload) {
  if (pending_daq.settled()) deliver(data_kind::signals, payload);
}

void model_observer_gateway::on_paq_data(blob& payload) {
  if (pending_paq.settled()) deliver(data_kind::parameters, payload);
}

void model_observer_gateway::on_model_cout(const char* text, size_t length) {
  log_info << log_entry_text(text, length) << std::endl;
}

void model_observer_gateway::on_model_cerr(const char* text, size_t length) {
  log_err << log_entry_text(text, length) << std::endl;
}

void model_observer_gateway::deliver(data_kind kind, blob& payload) {
  const subscription_table& table = kind == data_kind::signals ? daq_table : paq_table;
  // A copy: a send that finds its connection gone closes that session, which edits the list.
  const std::vector<std::shared_ptr<session>> sessions = controller.sessions;
  const std::string dropped = fan_out(table, kind, static_cast<const uint8_t*>(payload.data), payload.size,
                                      sessions.size(), messages_);
  if (!dropped.empty()) {
    log_debug << "Model " << (kind == data_kind::signals ? "signal" : "parameter") << " values: " << dropped
              << "; the rest of the packet was dropped." << std::endl;
  }
  for (size_t i = 0; i < sessions.size(); ++i) {
    const std::string& message = messages_[i];
    if (message.empty()) continue;
    session& s = *sessions[i];
    if (kind == data_kind::signals) {
      const size_t waiting = s.connection->queued_bytes();
      if (s.dropping_signals && waiting < signal_high_water / 2) s.dropping_signals = false;
      if (!s.dropping_signals && waiting >= signal_high_water) {
        log_warn << "The editor reads signal values slower than the model sends them: values are dropped until it "
                    "catches up ("
                 << waiting << " bytes wait to be sent)." << std::endl;
        s.dropping_signals = true;
      }
      if (s.dropping_signals) continue;
    }
    s.send_binary(message);
  }
}

}  // namespace vesk
