#include "backend/main_controller.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <string>

#include "backend/gui_guards.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"
#include "foundation/startup_paths.h"
#include "io/socket_owner.h"

namespace vesk {

namespace fs = std::filesystem;

uint16_t last_port_to_try(uint16_t first) {
  const unsigned last = static_cast<unsigned>(first) + 999;
  return static_cast<uint16_t>(last > 65535 ? 65535 : last);
}

main_controller::main_controller(vesk::io::event_list& ev, const fs::path& cfg, log_history_t& history,
                                 uint16_t requested_gui_port, uint16_t model_port, bool with_gui, bool start)
    : log_history(history),
      events(ev),
      writes(ev),
      settles(ev),
      prj_dir(cfg.parent_path(), *this),
      prj_cfg(cfg),
      file_poll_timer(ev, 0, [] {}),
      gateway(*this, model_port),
      process_poll_timer(ev, 200, [] {}),
      stop_timer(ev, 0, [] {}),
      release_timer(ev, 0, [] {}),
      removals(ev),
      workspace(cfg.parent_path().parent_path(), cfg.parent_path().filename().string(), *this),
      state(*this),
      gui(with_gui) {
  // The nearest folder wins, ".hg" before ".git" within one.
  const fs::path folders[] = {prj_dir.path, prj_dir.path.parent_path(), prj_dir.path.parent_path().parent_path()};
  for (const fs::path& f : folders) {
    if (path_exists(f / ".hg")) {
      hg_found = true;
      break;
    }
    if (path_exists(f / ".git")) {
      git_found = true;
      break;
    }
  }
  if (!hg_found && !git_found) {
    log_warn << "No version control for your project found. Note that all chages are saved immediately without "
                "backup. You can use mercurial or git to manage your sources."
             << std::endl;
  }

  // From here on, what the editor changes is written once per burst.
  state.vesk_config.writes = &writes;
  perspectives.writes = &writes;
  shared_dir = ::shared_dir;
  state.take_prj_cfg(prj_cfg, "The project configuration " + prj_cfg.file.path.string());
  if (state.vesk_config.last_open_prj != cfg.string()) {
    state.vesk_config.last_open_prj = cfg.string();
    state.vesk_config.save();
  }
  prj_cfg.on_update = [this] { on_project_config_changed(); };

  // The GUI port hands out the project's files and runs builds without a password, so it
  // listens on the loopback address only, serves only sockets of its own user and refuses
  // handshakes from web pages.
  const uint16_t last = last_port_to_try(requested_gui_port);
  unsigned port = requested_gui_port;
  for (; port <= last; ++port) {
    try {
      gui_server = std::make_shared<vesk::io::websocket_server>(
          events, vesk::io::end_point{htonl(INADDR_LOOPBACK), static_cast<uint16_t>(port)});
      break;
    } catch (const std::exception&) {
    }
  }
  if (!gui_server) {
    throw_bt_exception("Unable to open the GUI port: none of the ports " + std::to_string(requested_gui_port) +
                       " to " + std::to_string(last) + " could be bound on 127.0.0.1.");
  }
  gui_port = gui_server->local_port();  // the kernel's choice for port 0
  if (port != requested_gui_port) {
    log_info << "GUI-Port " << requested_gui_port << " is in use. Using " << gui_port << " instead..." << std::endl;
  }
  // Only the owner's editor: a socket of the user vesk runs as (or root), then a page of
  // the editor's own. Both are decided before a session exists, so a refused connection
  // never replaces the editor's.
  gui_server->accept_peer = [](const vesk::io::tcp& connection) {
    std::string why;
    if (vesk::io::peer_is_own(connection.fd, why)) return true;
    log_err << "Refused a GUI connection: " << why << "; the GUI port serves only the editor of its own user."
            << std::endl;
    return false;
  };
  gui_server->accept_origin = [](const std::string& origin) {
    if (is_editor_origin(origin)) return true;
    log_err << "Refused a GUI connection from the web origin '" << replace_invalid_utf8(origin)
            << "': only the editor's own pages (no Origin, or file://) may connect." << std::endl;
    return false;
  };

  generators = make_generator_registry(&blocks, workspace.root.string(), nullptr);
  gui_server->on_new_connection = [this](std::shared_ptr<vesk::io::websocket_connection> c) {
    on_new_connection(std::move(c));
  };
  scan_runtimes();
  if (gui) start_gui();
  process_poll_timer.callback = [this] { poll_processes(); };
  stop_timer.callback = [this] { stop_tick(); };
  release_timer.callback = [this] {
    command_task::advance_stops();
    if (!command_task::stopping()) release_timer.set_interval(0);
  };
  file_poll_timer.set_interval(2000);
  file_poll_timer.callback = [this] { poll_files(); };
  poll_files();
  send_block_list();
  update_file_list();
  if (start) start_build();
}

main_controller::~main_controller() {
  writes.flush();
  end_children();
}

void main_controller::on_new_connection(std::shared_ptr<vesk::io::websocket_connection> connection) {
  // Only a connection that passed the owner and origin checks gets here, so only the
  // owner's editor replaces the session.
  connection->lines = &editor_lines;
  auto fresh = std::make_shared<vesk::session>(std::move(connection), *this);
  if (!sessions.empty()) {
    log_info << "Only one GUI connection is supported..." << std::endl;
    std::shared_ptr<vesk::session> replaced = sessions.back();
    sessions.pop_back();
    sessions.push_back(std::move(fresh));
    // The replaced session's subscriptions must not reach the new one under its positions.
    gateway.update_daq();
    gateway.update_paq();
    // Its editor is told why; the connection closes itself once the editor answers.
    replaced->connection->close(1000, "Only one GUI connection is supported");
    return;
  }
  sessions.push_back(std::move(fresh));
}

void main_controller::poll_files() {
  // The pending writes wait for their timer: a file on disk unchanged since the back end
  // last wrote it is no outside change, and a write never lands over one read here.
  // Lines dropped in a second that is over are counted even when no more lines come.
  peer_lines::note_all();
  // A file that vanished or cannot be read while it is looked at is tried again by the
  // next poll; it keeps none of the other steps from running.
  poll_step([&] { state.vesk_config.file.check(); });
  poll_step([&] { perspectives.file.check(); });
  poll_step([&] { prj_cfg.file.check(); });
  for (auto& observer : prj_dir.observers) {
    if (observer) poll_step([&] { observer->poll(); });
  }
  poll_step([&] { workspace.rescan(); });
  if (prj_dir.files_changed) update_file_list();
  if (prj_dir.blocks_changed || workspace.changed) {
    send_block_list();
    scan_runtimes();
  }
  workspace.changed = false;
  prj_dir.files_changed = false;
  prj_dir.blocks_changed = false;
}

void main_controller::save_project_config() {
  writes.mark(&prj_cfg, prj_cfg.file.path, [this, read = prj_cfg.file.stamp()] {
    prj_cfg.file.content = prj_cfg.to_json().dump("  ");
    prj_cfg.file.save(read);
  });
}

void main_controller::on_project_config_changed() {
  if (state.take_prj_cfg(prj_cfg, "The project configuration " + prj_cfg.file.path.string())) send_backend_state();
}

}  // namespace vesk
