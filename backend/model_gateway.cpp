#include "backend/model_gateway.h"

#include <cstdlib>
#include <string>

#include "backend/main_controller.h"
#include "foundation/bt_exception.h"
#include "foundation/log_stream.h"

namespace vesk {

model_observer_gateway::model_observer_gateway(vesk::main_controller& owner, uint16_t requested)
    : controller(owner) {
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
}

model_observer_gateway::~model_observer_gateway() = default;

// The subscription tables and the handshake come with the model link itself.
void model_observer_gateway::update_daq() {}
void model_observer_gateway::update_paq() {}
void model_observer_gateway::on_reconnect() {}

}  // namespace vesk
