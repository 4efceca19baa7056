// Placeholder definitions of the parts still being written (controller, session, state, model link); each part
// replaces its block by a file of its own, and this file goes when it is empty.
#include "backend/main_controller.h"

namespace vesk {

// --- backend_state.cpp
backend_state_t::backend_state_t(vesk::main_controller& owner) : controller(owner) {}
void backend_state_t::get_links(std::vector<json_link_element>&) {}
void main_controller::send_backend_state() {}
void main_controller::add_log_entry(const std::string&, const std::string&) {}

// --- model_gateway.cpp
model_observer_gateway::model_observer_gateway(vesk::main_controller& owner, uint16_t p) : controller(owner), port(p) {}
model_observer_gateway::~model_observer_gateway() = default;
void model_observer_gateway::update_daq() {}
void model_observer_gateway::update_paq() {}
void model_observer_gateway::on_reconnect() {}

// --- session.cpp
session::session(std::shared_ptr<vesk::io::websocket_connection> conn, vesk::main_controller& owner)
    : controller(owner), connection(std::move(conn)) {}
session::~session() = default;
void session::on_text(std::string) {}
void session::on_binary(std::string) {}
void session::on_close() {}
void session::handle_command(vesk::json) {}
void session::send_read_file(const std::shared_ptr<managed_file>&) {}
void session::send(const vesk::json&) {}

// --- main_controller.cpp and children.cpp
main_controller::main_controller(vesk::io::event_list& ev, const std::filesystem::path& cfg,
                                 std::deque<log_entry>& history, uint16_t, uint16_t model_port, bool g, bool)
    : log_history(history),
      events(ev),
      prj_dir(cfg.parent_path(), *this),
      prj_cfg(cfg),
      file_poll_timer(ev, 0, [] {}),
      gateway(*this, model_port),
      process_poll_timer(ev, 200, [] {}),
      workspace(cfg.parent_path().parent_path(), cfg.parent_path().filename().string(), *this),
      state(*this),
      gui(g) {}
main_controller::~main_controller() = default;
void main_controller::on_new_connection(std::shared_ptr<vesk::io::websocket_connection>) {}
void main_controller::poll_files() {}
void main_controller::on_project_config_changed() {}
void main_controller::start_gui() {}
void main_controller::start_build() {}
void main_controller::kill_build() {}
void main_controller::poll_processes() {}

}  // namespace vesk
