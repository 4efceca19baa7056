#include "backend/model_gateway.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>

#include "backend/main_controller.h"
#include "backend/type_def.h"
#include "foundation/bt_exception.h"
#include "foundation/log_stream.h"
#include "io/socket_owner.h"

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
      connect_timer(owner.events, 0, [this] { connect_timed_out(); }) {
  // The model connects from wherever the runtime runs it, so this port listens on every
  // interface; admits() tells whose connections it serves. A port in use is no error: the
  // next ones are tried.
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
  // Decided before anything of it is read: a stranger never waits for the link nor takes it.
  std::string line;
  if (!admits(*connection, line)) {
    turn_away(*connection, line);
    return;
  }
  offer_connection(std::move(connection));
}

bool model_observer_gateway::admits(const vesk::io::tcp& connection, std::string& line) const {
  vesk::io::socket_end local, peer;
  std::string why;
  if (!vesk::io::connection_ends(connection.fd, local, peer, why)) {
    line = "Model port: refused a connection: " + why + ".";
    return false;
  }
  const std::string from = vesk::io::address_text(peer.address);
  const auto not_own = [&] {
    line = "Model port: refused a connection from " + from + ":" + std::to_string(peer.port) + ": " + why +
           ". A model on this machine is served when it runs as user " + std::to_string(::geteuid()) + " or as root.";
    return false;
  };
  if (vesk::io::is_loopback(peer.address)) return vesk::io::peer_is_own(local, peer, why) || not_own();
  for (const std::string& host : controller.prj_cfg.model_hosts) {
    in_addr named{};
    if (::inet_pton(AF_INET, host.c_str(), &named) != 1 || named.s_addr != peer.address) continue;
    // A named address may be one of this machine's own: a socket of this machine is the
    // user's own or is refused, whatever address it connects from.
    return !vesk::io::peer_is_other_users(local, peer, why) || not_own();
  }
  const std::string cfg = controller.prj_cfg.file.path.lexically_normal().string();
  line = "Model port: refused a connection from " + from + ", a host the project does not name. To serve a model " +
         "on that host, add \"" + from + "\" to \"model_hosts\" in " + cfg + ".";
  return false;
}

void model_observer_gateway::on_plugged() {
  resend_paq = true;
  pending_daq.clear();
  pending_paq.clear();
  unasked_logged_ = false;
  on_reconnect();
}

void model_observer_gateway::publish_offline() {
  vesk::backend_state_t& state = controller.state;
  if (!state.online && !state.signal_def.published() && !state.parameter_def.published()) return;
  state.online = false;
  state.signal_def.clear();
  state.parameter_def.clear();
  controller.send_backend_state();
}

void model_observer_gateway::on_reconnect() {
  model_connected = false;
  pending_daq.clear();
  publish_offline();
  const auto now = std::chrono::steady_clock::now();
  if (started_ && now - last_start_ < handshake_gap) {
    // Idle until the next online packet after the gap; an idle link has nothing to undo.
    if (connecting) connect_timed_out();
    return;
  }
  started_ = true;
  last_start_ = now;
  connecting = true;
  connect_timer.set_interval(connect_timeout);
  // Awaiting before asking: a send that loses the connection stops it again.
  definitions.start(reads());
  send_connect();
  request_signal_defs();
}

void model_observer_gateway::take_definitions(definition_intake::list_kind kind, blob& payload) {
  using verdict = definition_intake::verdict;
  const bool signals = kind == definition_intake::list_kind::signals;
  std::string cut;
  const verdict v = definitions.take(kind, static_cast<const uint8_t*>(payload.data), payload.size, reads(), cut);
  if (v == verdict::unasked) {
    // Once per connection, and any host may connect and take the link as often as it likes.
    if (!unasked_logged_) {
      unasked_logged_ = true;
      if (model_lines_.take_line()) {
        log_debug << "Model " << (signals ? "signal" : "parameter")
                  << " definitions came while no handshake waited for them; dropped (logged once per connection)."
                  << std::endl;
      }
    }
    return;
  }
  if (v == verdict::over_limit) {
    log_err << "Model definitions exceed the limit of " << definition_intake::max_entries << " entries or "
            << definition_intake::max_bytes << " bytes; the connection to the model is closed." << std::endl;
    close_connection();
    return;
  }
  if (v == verdict::over_text) {
    log_err << "Model definitions exceed the limit of " << definition_intake::max_text
            << " bytes of JSON text in the back-end state; the connection to the model is closed." << std::endl;
    close_connection();
    return;
  }
  connect_timer.set_interval(connect_timeout);  // every batch extends the deadline
  if (!cut.empty() && model_lines_.take_line()) {
    log_debug << "Model " << (signals ? "signal" : "parameter") << " definitions: " << cut
              << "; the rest of the batch was dropped." << std::endl;
  }
  if (v == verdict::more) {
    signals ? request_signal_defs() : request_parameter_defs();
  } else if (signals) {
    request_parameter_defs();
  } else {
    complete_handshake();
  }
}

void model_observer_gateway::on_ack_signal_def(blob& payload) {
  take_definitions(definition_intake::list_kind::signals, payload);
}

void model_observer_gateway::on_ack_parameter_def(blob& payload) {
  take_definitions(definition_intake::list_kind::parameters, payload);
}

void model_observer_gateway::complete_handshake() {
  online_seen = true;
  model_connected = true;
  first_online = true;
  connecting = false;
  connect_timer.set_interval(0);
  controller.state.signal_def = std::move(definitions.signals);
  controller.state.parameter_def = std::move(definitions.parameters);
  definitions.stop();
  controller.state.online = true;
  controller.send_backend_state();
  log_info << "Model connected..." << std::endl;
  // Last: a send that loses the connection finds the link online and takes it down.
  update_daq();
}

void model_observer_gateway::connect_timed_out() {
  connecting = false;
  definitions.stop();
  connect_timer.set_interval(0);
}

void model_observer_gateway::on_model_online(blob& payload) {
  online_seen = true;
  if (!model_connected) {
    if (!connecting) on_reconnect();
    return;
  }
  if (payload.size < 4) {
    if (model_lines_.take_line()) {
      log_debug << "Model online packet of " << payload.size << " bytes has no counter; dropped." << std::endl;
    }
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
  // A flood that stopped is counted here, not only when the model next prints.
  if (output_.over(std::chrono::steady_clock::now())) note_dropped_output();
  if (model_connected && !online_seen) {
    log_info << "Watchdog-timeout for model. Force disconnected..." << std::endl;
    on_reconnect();
  }
  online_seen = false;
}

void model_observer_gateway::on_disconnect() {
  note_dropped_output();
  if (model_connected) log_info << "Model disconnected..." << std::endl;
  model_connected = false;
  definitions.stop();  // the handshake, if one runs, waits for its time-out
  publish_offline();
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

void model_observer_gateway::send_parameter_values(const char* data, size_t length) {
  const size_t packet = length + io::frame::overhead;
  if (packet > max_unsent) {
    log_err << "Parameter values from the editor were not sent to the model: the message of " << length + 2
            << " bytes makes a packet of " << packet << " bytes, more than the " << max_unsent
            << " bytes that may wait to be sent to it." << std::endl;
    return;
  }
  send_packet(vesk::rt::packet::parameter_values, data, static_cast<uint32_t>(length));
}

void model_observer_gateway::on_daq_data(blob& payload) {
  if (pending_daq.settled()) deliver(data_kind::signals, payload);
}

void model_observer_gateway::on_paq_data(blob& payload) {
  if (pending_paq.settled()) deliver(data_kind::parameters, payload);
}

void model_observer_gateway::on_model_cout(const char* text, size_t length) { log_output(log_info, text, length); }

void model_observer_gateway::on_model_cerr(const char* text, size_t length) { log_output(log_err, text, length); }

void model_observer_gateway::log_output(std::ostream& log, const char* text, size_t length) {
  const auto now = std::chrono::steady_clock::now();
  // The count of a second that dropped lines comes before the next second's first line.
  if (output_.over(now)) note_dropped_output();
  if (!output_.take(now, std::min(length, log_entry_limit))) return;
  log << log_entry_text(text, length) << std::endl;
}

void model_observer_gateway::note_dropped_output() {
  const size_t dropped = output_.take_dropped();
  if (dropped > 0) log_warn << dropped << " model output lines were dropped." << std::endl;
}

void model_observer_gateway::deliver(data_kind kind, blob& payload) {
  if (payload.size > max_data_packet) {
    if (model_lines_.take_line()) {
      log_debug << "Model " << (kind == data_kind::signals ? "signal" : "parameter") << " values: a packet of "
                << payload.size << " bytes, more than the " << max_data_packet << " a data packet may carry; dropped."
                << std::endl;
    }
    return;
  }
  const subscription_table& table = kind == data_kind::signals ? daq_table : paq_table;
  // A copy: a send that finds its connection gone closes that session, which edits the list.
  const std::vector<std::shared_ptr<session>> sessions = controller.sessions;
  const std::string dropped = fan_out(table, kind, static_cast<const uint8_t*>(payload.data), payload.size,
                                      sessions.size(), messages_);
  if (!dropped.empty() && model_lines_.take_line()) {
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
