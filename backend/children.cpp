// The controller's child processes: the editor, the build tool (which also runs the model)
// and the 200 ms poll that watches the editor and reads the children's output, a bounded
// amount each time; the stops of the children let go run on a timer.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "backend/main_controller.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"
#include "foundation/startup_paths.h"

namespace vesk {

namespace {

/// Passes log_err's messages on and notes that one came (the JSON parser reports its
/// syntax errors there and returns a value all the same).
class error_watch {
 public:
  error_watch() : saved_(log_err.sink) {
    log_err.sink = [this](const char* text, size_t len) {
      seen = true;
      if (saved_) saved_(text, len);
    };
  }
  ~error_watch() { log_err.sink = saved_; }
  error_watch(const error_watch&) = delete;
  error_watch& operator=(const error_watch&) = delete;
  bool seen = false;

 private:
  log_stream::sink_fn saved_;
};

/// Reads what `task`'s child wrote, up to build_poll_read_limit bytes, and passes it on
/// in pieces; returns how many bytes it read. Past the limit the child waits.
template <typename Take>
size_t read_output(command_task& task, Take take) {
  static char chunk[64 << 10];
  size_t got = 0;
  while (task.pipe_fd[0] >= 0 && got < build_poll_read_limit) {
    const ssize_t n = ::read(task.pipe_fd[0], chunk, std::min(sizeof chunk, build_poll_read_limit - got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
    take(chunk, static_cast<size_t>(n));
  }
  return got;
}

/// Logs one line of the build's output, or passes its message on to the editor.
void handle_build_line(main_controller& c, const build_output_line& line) {
  const build_line_route route = route_build_line(line.text);
  if (route.type != "json") {
    c.add_log_entry(route.type, build_entry_text(line, route.skip));
    return;
  }
  if (line.length > line.text.size()) {
    log_err << "Build output message of " << line.length - route.skip << " bytes is longer than "
            << build_text_limit << " bytes and was skipped: " << line.text.substr(0, 80) << std::endl;
    return;
  }
  vesk::json message;
  bool bad = false;
  {
    error_watch errors;
    try {
      message = vesk::json::parse(route.text);
    } catch (const std::exception& e) {
      log_err << "json_parse_error: " << e.what() << std::endl;
      bad = true;
    }
    bad = bad || errors.seen;
  }
  if (bad) {
    log_err << "Build output line is no valid JSON and was skipped: " << line.text << std::endl;
    return;
  }
  c.send_to_gui(message);
}

}  // namespace

void main_controller::start_gui() {
  const std::filesystem::path own = exe_dir / "gui" / "vesk-gui";
  const std::filesystem::path electron = "/opt/electron/electron";
  std::string command;
  if (path_exists(own)) {
    command = own.string();
  } else if (path_exists(electron)) {
    command = electron.string();
  } else {
    throw_bt_exception("Could not find electron in " + own.string() + " or " + electron.string());
  }
  auto task = std::make_shared<command_task>(command,
                                             std::vector<std::string>{"--no-sandbox", "./html/index.html",
                                                                      std::to_string(gui_port)},
                                             "");
  gui_task.swap(task);
}

void main_controller::start_build() {
  const std::filesystem::path cli = exe_dir / "vesk-cli";
  if (!path_exists(cli)) throw_bt_exception("Unable to find vesk-cli.");
  // The build reads the project configuration, the models, the node sources and the other
  // files of the project and the workspace as the editor left them; nothing of the user's
  // configuration folder, whose files (the perspectives up to 16 MiB) wait for their timer.
  writes.flush_except({&state.vesk_config, &perspectives});
  const bool was_stopping = !stopping.task.expired();
  // A clean waiting for the old child is done before the new build can use the folder.
  if (!stopping.then.empty()) {
    build_task.reset();
    end_stop(true);
  }
  // The build and its model are stopped with all they started, wherever it went.
  auto task = std::make_shared<command_task>(
      cli.string(), std::vector<std::string>{"--gui-output", prj_cfg.file.path.string()}, "", true);
  // The new child runs first; releasing the old task then stops the old child.
  build_task.swap(task);
  task.reset();
  watch_releases();
  build_output.clear();
  if (was_stopping) end_stop(true);  // its child is stopped with its task
}

namespace {

/// Ticks of 100 ms a model is given to quit, and a stopped child to end.
constexpr unsigned stop_ticks = 12;

/// Whether the child of `task` has ended (or was collected already); its status kept.
bool child_gone(command_task& task) {
  int status = 0;
  const int r = ::waitpid(task.pid, &status, WNOHANG);
  if (r > 0) task.status = status;
  return r != 0;
}

}  // namespace

void main_controller::kill_build(std::function<void(bool gone)> then) {
  if (then) stopping.then.push_back(std::move(then));
  if (!stopping.task.expired()) return;  // under way: it ends as it began
  if (!build_task || build_task->pid <= 0 || child_gone(*build_task)) {
    end_stop(true);
    return;
  }
  stopping.task = build_task;
  stopping.ticks = 0;
  stopping.signalled = false;
  if (gateway.model_online()) {
    for (auto& s : std::vector<std::shared_ptr<session>>(sessions)) s->daq_list.clear();
    gateway.update_daq();
    gateway.send_packet(vesk::rt::packet::command, "quit", 4);
  } else {
    stopping.ticks = stop_ticks;  // nothing to wait for: the stop signal at once
  }
  stop_tick();
  if (!stopping.task.expired()) stop_timer.set_interval(100);
}

void main_controller::stop_tick() {
  std::shared_ptr<command_task> task = stopping.task.lock();
  if (!task || child_gone(*task)) {
    end_stop(true);
    return;
  }
  if (stopping.ticks++ < stop_ticks) return;
  if (!stopping.signalled) {
    ::kill(-task->pid, SIGTERM);
    stopping.signalled = true;
    stopping.ticks = 0;
    // Nobody waits for the end: the next poll collects it.
    if (stopping.then.empty()) end_stop(true);
    return;
  }
  end_stop(false);
}

void main_controller::end_stop(bool gone) {
  stop_timer.set_interval(0);
  stopping.task.reset();
  std::vector<std::function<void(bool)>> then;
  then.swap(stopping.then);
  for (const auto& f : then) f(gone);
}

void main_controller::watch_releases() {
  if (command_task::stopping() && release_timer.period == 0) release_timer.set_interval(100);
}

void main_controller::end_children() {
  release_timer.set_interval(0);
  stopping.task.reset();
  for (std::shared_ptr<command_task>* t : {&vcs_task, &build_task, &gui_task}) t->reset();
  command_task::finish_stops();
}

void main_controller::poll_processes() {
  // What a build left when it ended is stopped, what the editor's apps left is reaped.
  command_task::look_after_orphans();
  // A task released anywhere (the last holder of a replaced one may be a handler) is
  // stopped on the timer.
  watch_releases();
  // The editor's and the version-control GUI's output is read only so that they never
  // wait on a full pipe.
  for (const std::shared_ptr<command_task>& t : {gui_task, vcs_task}) {
    if (t) read_output(*t, [](const char*, size_t) {});
  }
  if (gui && gui_task && !gui_closed) {
    int status = 0;
    if (gui_task->pid <= 0 || ::waitpid(gui_task->pid, &status, WNOHANG) != 0) {
      log_info << "GUI closed. Stopping vesk..." << std::endl;
      gui_closed = true;
      // The process ends without its teardown: what the editor changed is written first,
      // and again after the wait for the build, which the loop still serves.
      writes.flush();
      kill_build([this](bool) {
        writes.flush();
        end_children();
        std::exit(0);
      });
    }
  }
  if (!build_task) {
    if (state.build_state != 0) {
      state.build_state = 0;
      send_backend_state();
    }
    return;
  }

  // Keep the task while its lines are handled: a command among them may replace it.
  std::shared_ptr<command_task> task = build_task;
  // The end is looked at first: once the child has ended, one read takes all it wrote
  // (its pipe holds less than a poll reads).
  int status = task->status;
  const int r = task->pid > 0 ? ::waitpid(task->pid, &status, WNOHANG) : -1;
  if (r > 0) task->status = status;
  const bool ended = r != 0;
  std::vector<build_output_line> lines;
  build_output.start_poll();
  const size_t got = read_output(*task, [&](const char* data, size_t size) { build_output.take(data, size, lines); });
  // A line still being written stays for the next poll, unless no more is coming soon.
  if (ended || (got == 0 && !build_output.waits())) build_output.flush(lines);
  for (const build_output_line& line : lines) handle_build_line(*this, line);
  const std::string note = build_output.end_poll(ended);
  if (!note.empty()) log_warn << note << std::endl;
  if (ended && task == build_task) {
    const int s = task->status;
    if (s != 0 && s != 15) {
      log_err << "Build failed. Exit status: " << s << std::endl;
      if (s == 11) log_err << "May be a segmentation fault." << std::endl;
    }
    build_task.reset();
    build_output.clear();
  }
  if (state.build_state != 1) {
    state.build_state = 1;
    send_backend_state();
  }
}

}  // namespace vesk
