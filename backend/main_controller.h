#pragma once
// The root object of the back end: owns the project, the workspace, the state with the
// user configuration, the GUI server with the editor session, the model link, the child
// processes (editor, build, version control) and the timers. Each operation lives in the
// file of the part it touches (children.cpp, backend_state.cpp, block_list.cpp, ...).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "annotations/block_lists.h"
#include "backend/backend_state.h"
#include "backend/build_output.h"
#include "backend/deferred_writes.h"
#include "backend/folder_removals.h"
#include "backend/model_gateway.h"
#include "backend/project_dir.h"
#include "backend/session.h"
#include "backend/user_config.h"
#include "backend/workspace.h"
#include "foundation/command_task.h"
#include "foundation/project_config.h"
#include "foundation/runtime_dir.h"
#include "generators/generator_registry.h"
#include "io/event_list.h"
#include "io/timer.h"
#include "io/websocket.h"

namespace vesk {

class main_controller {
 public:
  main_controller(vesk::io::event_list& events, const std::filesystem::path& project_config,
                  log_history_t& log_history, uint16_t gui_port, uint16_t model_port, bool gui,
                  bool start);
  ~main_controller();
  main_controller(const main_controller&) = delete;
  main_controller& operator=(const main_controller&) = delete;

  void on_new_connection(std::shared_ptr<vesk::io::websocket_connection> connection);
  /// The 2 s poll of the configuration files, the project folders and the workspace.
  void poll_files();
  void on_project_config_changed();
  /// Writes the project configuration with the next deferred write, as the editor set it.
  void save_project_config();

  // Back-end state and log (backend_state.cpp).
  /// Pushes the state to every session; without one, nothing is written.
  void send_backend_state();
  /// Prints, keeps in the bounded history and pushes one log line. Never throws.
  void add_log_entry(const std::string& type, std::string_view msg);

  // Block list, file list and file pushes (block_list.cpp).
  void send_block_list();
  /// Sorts node descriptions (JSON) into the class and function lists.
  void collect_blocks(vesk::annotations::block_lists& lists, const vesk::json& descriptions);
  void update_file_list();
  void notify_file_changed(const managed_file& file);
  /// Sends a message to every session (over a copy of the list), written once for all.
  void send_to_gui(const vesk::json& message);
  /// Sends a message already written as JSON text to every session; `cmd` names it.
  void send_text_to_gui(const std::string& text, const std::string& cmd);

  // Runtimes (workspace.cpp).
  void scan_runtimes();

  // Child processes (children.cpp).
  void start_gui();
  /// Starts the build tool; the files it reads (the `.vcfg` and the managed files) are
  /// written first, while the user's configuration files wait for their timer.
  void start_build();
  /// Stops the build child: a model online is asked to quit and given 1.2 s, then the
  /// child's group gets SIGTERM. The waits are timer ticks; the loop serves meanwhile.
  /// `then` runs once the child is gone (true), or with false when it outlives its
  /// SIGTERM by another 1.2 s. A stop already under way goes on, and takes `then` too.
  void kill_build(std::function<void(bool gone)> then = nullptr);
  /// One step of the stop under way: the callback of stop_timer.
  void stop_tick();
  /// Ends the stop under way: its timer disarmed, its `then` run with `gone`.
  void end_stop(bool gone);
  void poll_processes();
  /// Arms release_timer while a released child is being stopped (command_task::stopping):
  /// after every release of a task.
  void watch_releases();
  /// Releases every child task and runs their stops to the end, within
  /// command_task::give_up_after_ms: the back end is ending, and no process of a child
  /// may outlive it.
  void end_children();

  /// Log lines the editor's messages may cause within one second: any local process may
  /// connect as the editor and send bad commands as fast as it likes.
  static constexpr size_t max_editor_lines_per_second = 1000;

  std::filesystem::path shared_dir;
  log_history_t& log_history;
  /// What the editor's messages make the back end log counts against (whichever session
  /// sends them). Before the GUI server, so that it outlives every connection.
  peer_lines editor_lines{"The editor", max_editor_lines_per_second};
  vesk::io::event_list& events;
  /// The files written on the editor's command, one write for a burst of changes. Before
  /// every owner of such a file, so it is still there when they go.
  deferred_writes writes;
  /// The managed files whose undo or redo steps wait for their push: before every owner
  /// of such a file, which drops its own when it goes.
  pending_settles settles;
  generator_registry generators;
  /// The annotated classes and functions of the project and the workspace, refilled by
  /// every block list; the "class" and "func" generators search them.
  vesk::annotations::block_lists blocks;
  /// The warnings of the descriptions that repeat a class or function name, as the last
  /// block list found them: the list is sent at every change and on request, and each
  /// warning is written once while it lasts.
  std::set<std::string> repeats_written;
  vesk::project_dir prj_dir;
  vesk::project_config_file prj_cfg;
  vesk::io::timer file_poll_timer;
  std::vector<vesk::runtime_dir> global_runtimes;
  std::shared_ptr<vesk::io::websocket_server> gui_server;
  std::vector<std::shared_ptr<vesk::session>> sessions;
  std::vector<std::shared_ptr<vesk::managed_file>> held_files;
  vesk::model_observer_gateway gateway;
  std::shared_ptr<vesk::command_task> gui_task;
  std::shared_ptr<vesk::command_task> build_task;
  vesk::io::timer process_poll_timer;
  /// The stop of the build child under way (see kill_build), one tick per 100 ms.
  struct build_stop {
    std::weak_ptr<vesk::command_task> task;
    unsigned ticks = 0;
    bool signalled = false;
    std::vector<std::function<void(bool)>> then;
  };
  build_stop stopping;
  vesk::io::timer stop_timer;
  /// Moves the stops of released children on every 100 ms while there are any.
  vesk::io::timer release_timer;
  /// The build folders that `clean_build_dir` renamed away, removed in slices.
  folder_removals removals;
  vesk::workspace workspace;
  vesk::backend_state_t state;
  vesk::vesk_model_perspectives perspectives;
  bool gui = false;
  uint16_t gui_port = 0;
  std::shared_ptr<vesk::command_task> vcs_task;
  bool hg_found = false;
  bool git_found = false;
  /// The build's output not yet cut into lines.
  build_output_lines build_output;
  /// Set once the editor has ended: the back end only waits for its build to stop.
  bool gui_closed = false;
  /// Set while add_log_entry pushes, so a line logged by the push itself is only kept.
  bool in_log_entry = false;
};

/// The highest port a search tries from `first` on: 999 further, but not past 65535.
uint16_t last_port_to_try(uint16_t first);

}  // namespace vesk
