#pragma once
// Test helpers of the project-file tests: a workspace in a temporary folder with its own
// configuration and runtimes folders, a real controller on it (no editor, free ports), and
// an editor stand-in connected over the GUI port that collects the pushed messages.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backend/main_controller.h"
#include "foundation/startup_paths.h"
#include "foundation/test_util.h"
#include "io/ws_test_client.h"

namespace files_test {

namespace fs = std::filesystem;

/// <tmp>/ws/prj/prj.vcfg with the project's four folders; config and runtimes folders of
/// its own while it lives.
struct workspace_env {
  temp_dir tmp;
  fs::path saved_config = config_dir, saved_runtimes = runtimes_dir;
  fs::path ws, prj, cfg;
  vesk::io::event_list loop;
  vesk::log_history_t history;
  std::unique_ptr<vesk::main_controller> ctl;

  explicit workspace_env(const std::string& project = "prj") {
    config_dir = tmp.path / "home" / ".config" / "vesk";
    fs::create_directories(config_dir);
    runtimes_dir = tmp.path / "runtimes";
    fs::create_directories(runtimes_dir);
    ws = tmp.path / "ws";
    prj = ws / project;
    for (const char* d : {"nodes", "models", "views", "data"}) fs::create_directories(prj / d);
    cfg = tmp.put("ws/" + project + "/" + project + ".vcfg", "{}");
  }
  ~workspace_env() {
    ctl.reset();
    config_dir = saved_config;
    runtimes_dir = saved_runtimes;
  }
  /// Writes a file under the workspace folder.
  fs::path put(const std::string& rel, const std::string& text) const { return tmp.put("ws/" + rel, text); }
  /// Builds the controller (after the files the test wants found at start-up).
  vesk::main_controller& start() {
    ctl = std::make_unique<vesk::main_controller>(loop, cfg, history, 0, 0, false, false);
    return *ctl;
  }
};

/// The editor's side: a WebSocket client on the controller's GUI port.
struct gui_client {
  vesk::io::event_list& loop;
  vesk::io::test_client::client c;
  explicit gui_client(workspace_env& env) : loop(env.loop), c(env.ctl->gui_port) { c.handshake(loop); }

  void send(const vesk::json& request) { c.send_raw(loop, vesk::io::test_client::frame(1, request.dump())); }

  /// Every text message that arrives until the line is quiet, parsed.
  std::vector<vesk::json> drain(int quiet_rounds = 10) {
    std::vector<vesk::json> out;
    vesk::io::test_client::server_frame f;
    while (c.next_frame(loop, f, quiet_rounds))
      if (f.opcode == 1) out.push_back(vesk::json::parse(f.payload));
    return out;
  }

  /// The drained messages whose "cmd" is `cmd`.
  std::vector<vesk::json> drain(const char* cmd, int quiet_rounds = 10) {
    std::vector<vesk::json> out;
    for (vesk::json& m : drain(quiet_rounds))
      if (m.is_object() && m["cmd"] == cmd) out.push_back(m);
    return out;
  }
};

}  // namespace files_test
