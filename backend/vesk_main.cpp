// The back end program vesk: reads the options, opens the project configuration, runs the
// controller (backend/main_controller.h) on one event loop until a stop signal.
// Exit status: 0 after a stop signal (SIGHUP, SIGINT, SIGQUIT, SIGTERM) or --help, 1 when an exception ended it or the
// project file is missing, 2 for a command line it cannot take.
#include <clocale>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "backend/main_controller.h"
#include "backend/user_config.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"
#include "foundation/project_config.h"
#include "foundation/startup_paths.h"
#include "io/event_list.h"
#include "io/standard_descriptors.h"
#include "io/standard_output.h"

namespace {

namespace fs = std::filesystem;

const char* const usage_text =
    "Usage:\n"
    "\tvesk [options] vcfg-file\n"
    "\n"
    "Options:\n"
    "\t-h,  --help                Shows this screen\n"
    "\t-s,  --start               Starts the configuration\n"
    "\t-ng, --no-gui              Starts without GUI\n"
    "\t-gp, --gui-port <port>     Default: 15100\n"
    "\t-mp, --model-port <port>   Default: 15101\n";

// The start-up folders are fixed before main, as in every vesk program; nothing is created
// then (see create_config_dir).
bool init_main_globals() {
  setup_paths();
  return true;
}
const bool main_globals_ready = init_main_globals();

volatile std::sig_atomic_t run_flag = 1;

void handle_stop_signal(int) { run_flag = 0; }

/// Writes `text` on standard output as it is, without waiting for the reader.
void print(const std::string& text) { vesk::io::standard_out().write(text); }

/// Start-up output: printed with the stream's prefix and kept in the history, cut as the
/// controller cuts its lines.
log_stream::sink_fn to_stdout(vesk::log_history_t& history, const char* prefix, const char* type) {
  return [&history, prefix, type](const char* text, size_t len) {
    try {
      std::string msg = vesk::log_entry_text(text, len);
      std::string line;
      append_log_line(line, prefix, msg);
      vesk::io::standard_out().write(line);
      history.add({type, std::move(msg)});
    } catch (...) {
      // A log sink that throws would leave its stream failed for good.
    }
  };
}

/// The last output, once the history is gone: printed with the stream's prefix only.
log_stream::sink_fn to_stdout_only(const char* prefix) {
  return [prefix](const char* text, size_t len) {
    try {
      std::string line;
      append_log_line(line, prefix, std::string_view(text, len));
      vesk::io::standard_out().write(line);
    } catch (...) {
      // As above.
    }
  };
}

/// Running output: every line through the controller, which prints, keeps and pushes it.
log_stream::sink_fn to_controller(vesk::main_controller& c, const char* type) {
  return [&c, type](const char* text, size_t len) { c.add_log_entry(type, std::string_view(text, len)); };
}

/// Whether `text` is a port number: decimal digits only, 1 to 65535.
bool is_port_number(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long n = std::stoul(text);
  return n >= 1 && n <= 65535;
}

/// The options that stand alone.
const std::set<std::string> flags = {"-h", "--help", "-s", "--start", "-ng", "--no-gui", "-nt", "--no-try"};
/// The options followed by a port number.
const std::set<std::string> port_options = {"-gp", "--gui-port", "-mp", "--model-port"};

/// The first argument the program cannot take, described for the user; empty when all are
/// fine. A mistyped option or port must not start a back end that does something else.
std::string bad_argument(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool last = i + 1 == argc;
    if (flags.count(arg)) continue;
    if (port_options.count(arg)) {
      if (last) return "missing port number after " + arg;
      if (!is_port_number(argv[i + 1])) return "not a port number (1 to 65535): " + arg + " " + argv[i + 1];
      ++i;
      continue;
    }
    // The project file is the last argument, whatever its name begins with.
    if (starts_with(arg, "-") && !(last && ends_with(arg, ".vcfg"))) return "unknown option: " + arg;
  }
  return "";
}

/// The arguments of an accepted command line that are neither options, nor port numbers,
/// nor the project file in last place: a project file given before an option, say.
std::vector<std::string> ignored_arguments(int argc, char** argv) {
  std::vector<std::string> ignored;
  for (int i = 1; i + 1 < argc; ++i) {
    if (port_options.count(argv[i]))
      ++i;
    else if (!flags.count(argv[i]))
      ignored.push_back(argv[i]);
  }
  return ignored;
}

void point_logs_at_stdout(vesk::log_history_t& history) {
  log_debug.sink = to_stdout(history, "", "debug");
  log_info.sink = to_stdout(history, "", "info");
  log_warn.sink = to_stdout(history, "warning: ", "warn");
  log_err.sink = to_stdout(history, "error: ", "error");
}

}  // namespace

int main(int argc, char** argv) {
  vesk::io::ensure_standard_descriptors();
  // From the first line on, output waits for no reader.
  vesk::io::standard_out();
  vesk::io::standard_err();
  (void)main_globals_ready;
  std::signal(SIGHUP, handle_stop_signal);
  std::signal(SIGINT, handle_stop_signal);
  std::signal(SIGQUIT, handle_stop_signal);
  // The ordinary stop of a service or `kill`: ending by its default action would leave the
  // editor and a running build (and its model) behind, and lose what the editor changed last.
  std::signal(SIGTERM, handle_stop_signal);
  // A reader of our output that has gone (a `tee` ended by Ctrl-C in a session that is not
  // ours) must cost its lines, not the back end without its teardown. The children start
  // with default actions (command_task).
  std::signal(SIGPIPE, SIG_IGN);
  ::setsid();
  std::setlocale(LC_ALL, "C.UTF-8");

  std::unique_ptr<vesk::log_history_t> history;
  std::unique_ptr<vesk::io::event_list> events;
  std::unique_ptr<vesk::main_controller> controller;
  // Before the controller goes, the log streams stop pointing at it.
  const auto teardown = [&] {
    if (history) point_logs_at_stdout(*history);
    {
      // Closing the editor connection makes the WebSocket library complain; nothing to tell.
      log_silencer quiet(log_debug);
      controller.reset();
      // A controller whose start-up failed released its children without ending their stops.
      vesk::command_task::finish_stops();
      vesk::io::standard_out().watch(nullptr);
      vesk::io::standard_err().watch(nullptr);
      events.reset();
    }
    log_debug.sink = to_stdout_only("Debug: ");
    log_info.sink = to_stdout_only("Info:  ");
    log_warn.sink = to_stdout_only("Warn:  ");
    log_err.sink = to_stdout_only("Error: ");
    history.reset();
    // What waits for a slow reader gets a short while; the stop itself never waits for it.
    vesk::io::standard_out().finish();
    vesk::io::standard_err().finish();
  };
  bool failed = true;  // until the loop ends by a stop signal
  try {
    history = std::make_unique<vesk::log_history_t>();
    point_logs_at_stdout(*history);

    // Nothing is read or created before the command line is accepted.
    if (has_option(argc, argv, {"-h", "--help"})) {
      print(std::string(usage_text) + "\n");
      teardown();
      return 0;
    }
    const std::string problem = bad_argument(argc, argv);
    if (!problem.empty()) {
      vesk::io::standard_err().write(problem + "\n\n" + usage_text + "\n");
      teardown();
      return 2;
    }
    const std::string last = argc > 1 ? argv[argc - 1] : "";
    const bool names_project = argc > 1 && ends_with(last, ".vcfg");
    if (argc > 1 && !names_project && !starts_with(last, "-")) {
      print("'" + last + "' is not a project configuration file (*.vcfg).\n");
      teardown();
      return 255;
    }
    for (const std::string& arg : ignored_arguments(argc, argv))
      log_warn << "Argument '" << arg << "' is ignored: only the last argument names the project configuration file"
               << std::endl;
    fs::path project = exe_dir / "examples/get_started/start.vcfg";
    {
      // Read again by the controller, which reports what is wrong with it: once is enough.
      log_silencer quiet_warnings(log_warn), quiet_errors(log_err);
      vesk::vesk_config cfg;
      if (!cfg.last_open_prj.empty()) project = cfg.last_open_prj;
    }
    if (names_project) {
      // A name the project cannot have is refused before a file of that name is made.
      vesk::project_config_file::check_name(last);
      if (!path_exists(last)) {
        log_info << "created new config " << last << std::endl;
        const fs::path parent = fs::path(last).parent_path();
        std::error_code ec;
        if (!parent.empty()) fs::create_directories(parent, ec);
        write_file(last, "{}");
        if (!path_exists(last)) {
          log_err << "unable to create new file '" << last << "'. Check path or permissions." << std::endl;
          teardown();
          return 1;
        }
      }
      project = last;
    }
    uint16_t gui_port = 15100;
    uint16_t model_port = 15101;
    option_value(argc, argv, {"-gp", "--gui-port"}, gui_port);
    option_value(argc, argv, {"-mp", "--model-port"}, model_port);
    const bool no_gui = has_option(argc, argv, {"-ng", "--no-gui"});
    const bool start = has_option(argc, argv, {"-s", "--start"});

    events = std::make_unique<vesk::io::event_list>();
    vesk::io::standard_out().watch(events.get());
    vesk::io::standard_err().watch(events.get());
    if (!path_exists(project)) {
      // A project that is not there is the user's mistake, not a successful run.
      print("unable to open file: " + project.string() + "\n" + usage_text + "\n");
      teardown();
      return 1;
    }
    project = fs::canonical(project).lexically_normal();
    // The controller keeps the user configuration and the perspectives there.
    create_config_dir();
    controller = std::make_unique<vesk::main_controller>(*events, project, *history, gui_port, model_port, !no_gui,
                                                         start);
    log_debug.sink = to_controller(*controller, "debug");
    log_info.sink = to_controller(*controller, "info");
    log_warn.sink = to_controller(*controller, "warn");
    log_err.sink = to_controller(*controller, "error");
    print("start main loop...\n");
    (void)has_option(argc, argv, {"-nt", "--no-try"});  // accepted; changes nothing
    while (run_flag) events->wait_and_dispatch();
    failed = false;
  } catch (const std::exception& e) {
    log_err << "An exception occured: " << e.what() << std::endl;
    run_flag = 0;
  } catch (const char* text) {
    log_err << "An exception occured: " << text << std::endl;
    run_flag = 0;
  } catch (...) {
    log_err << "An unknown exception occured... " << std::endl;
    run_flag = 0;
  }
  teardown();
  return failed ? 1 : 0;
}
