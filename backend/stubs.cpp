// Placeholder definitions so that the back end links while its parts are being written.
// Each part replaces its own block by a file of its own.
#include "backend/main_controller.h"

namespace vesk {

// --- backend_state.cpp
backend_state_t::backend_state_t(vesk::main_controller& owner) : controller(owner) {}
void backend_state_t::get_links(std::vector<json_link_element>&) {}
void main_controller::send_backend_state() {}
void main_controller::add_log_entry(const std::string&, const std::string&) {}

// --- user_config.cpp
vesk_config::vesk_config() : file("vesk.cfg") {}
void vesk_config::get_links(std::vector<json_link_element>&) {}
void vesk_config::save() {}
void vesk_config::on_file_changed() {}
vesk_model_perspectives::vesk_model_perspectives() : file("model_perspectives.json") {}
void vesk_model_perspectives::save() {}
void vesk_model_perspectives::on_file_changed() {}

// --- managed_file.cpp
managed_file::managed_file(const std::filesystem::path& p, vesk::main_controller& owner) : path(p), controller(owner) {}
managed_file::~managed_file() = default;
void managed_file::load(const std::filesystem::path&) {}
void managed_file::write() {}
std::string managed_file::content() { return std::string(); }
void managed_file::undo() {}
void managed_file::redo() {}
void managed_file::add_save_point(const std::string&, bool) {}
bool managed_file::reload_if_changed() { return false; }
managed_header::managed_header(const std::filesystem::path& p, vesk::main_controller& owner, std::string prj)
    : managed_file(p, owner), project(std::move(prj)) {}
managed_header::~managed_header() = default;
void managed_header::undo() {}
void managed_header::redo() {}
void managed_header::add_save_point(const std::string&, bool) {}
managed_model::managed_model(const std::filesystem::path& p, vesk::main_controller& owner, std::string prj)
    : managed_file(p, owner), project(std::move(prj)) {}
managed_model::~managed_model() = default;
void managed_model::undo() {}
void managed_model::redo() {}
void managed_model::add_save_point(const std::string&, bool) {}
void managed_model::compute_node_ports() {}

// --- project_dir.cpp
project_dir::project_dir(const std::filesystem::path& folder, vesk::main_controller& owner)
    : controller(owner), path(folder) {}
project_dir::~project_dir() = default;
void project_dir::on_file_added(const std::filesystem::path&) {}
void project_dir::on_file_changed(const std::filesystem::path&) {}
void project_dir::on_file_removed(const std::filesystem::path&) {}
std::shared_ptr<managed_file> project_dir::get_file(std::filesystem::path&) { return nullptr; }
bool project_dir::contains(const std::filesystem::path&) const { return false; }

// --- workspace.cpp
workspace::workspace(std::filesystem::path r, std::string own, vesk::main_controller& owner)
    : root(std::move(r)), own_project(std::move(own)), controller(owner) {}
workspace::~workspace() = default;
void workspace::rescan() {}
std::shared_ptr<managed_file> workspace::get_file(std::filesystem::path&) { return nullptr; }
void main_controller::scan_runtimes() {}

// --- block_list.cpp
void main_controller::send_block_list() {}
void main_controller::collect_blocks(vesk::annotations::block_lists&, const vesk::json&) {}
void main_controller::update_file_list() {}
void main_controller::notify_file_changed(const managed_file&) {}
void main_controller::send_to_gui(const vesk::json&) {}

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
