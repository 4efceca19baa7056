#pragma once
// The back end's end of the model link: listens on the model port, runs the handshake
// with a connecting model, publishes its signal and parameter definitions, watches it,
// and streams the values the editor's sessions subscribed.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "io/observer_adapter.h"
#include "io/tcp_server.h"
#include "io/timer.h"

namespace vesk {

class main_controller;

class model_observer_gateway : public vesk::rt::observer_adapter {
 public:
  /// Binds the model port, searching upwards from `port`, and sets VESK_MODEL_PORT.
  model_observer_gateway(vesk::main_controller& owner, uint16_t port);
  ~model_observer_gateway() override;

  /// Rebuilds the signal subscription table from the sessions and sends it to the model.
  void update_daq();
  /// The same for parameters.
  void update_paq();
  /// Restarts the handshake with the connected model.
  void on_reconnect();
  /// Whether a model completed its handshake and is online.
  bool model_online() const { return model_connected; }

  vesk::main_controller& controller;
  std::shared_ptr<vesk::io::tcp_server> model_server;
  uint16_t port = 0;  ///< the port bound
  bool model_connected = false;
  bool connecting = false;
};

}  // namespace vesk
