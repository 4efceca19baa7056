#include "cli/cli_main.h"

#include <algorithm>
#include <clocale>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "cli/build_driver.h"
#include "cli/cli_output.h"
#include "cli/runtime_scripts.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace fs = std::filesystem;

namespace {

/// The first argument that looks like an option but is none, or null.
const char* unknown_option(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (starts_with(arg, "-") && std::find(option_names.begin(), option_names.end(), arg) == option_names.end()) {
      return argv[i];
    }
  }
  return nullptr;
}

}  // namespace

int cli_main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  // A mistyped option must not pass for the path or be skipped: nothing runs then.
  if (const char* bad = unknown_option(argc, argv)) {
    std::cerr << "vesk-cli: unknown option " << quote_path(bad) << "\n" << usage_text << std::endl;
    return 2;
  }
  if (argc < 2 || has_option(argc, argv, {"-h", "--help"})) {
    std::cout << usage_text << std::endl;
    return 0;
  }
  const bool build_opt = has_option(argc, argv, {"-b", "--build"});
  const bool start_opt = has_option(argc, argv, {"-s", "--start"});
  const bool build = build_opt || !start_opt;
  const bool start = start_opt || !build_opt;
  const bool gui_output = has_option(argc, argv, {"-go", "--gui-output"});

  const fs::path config_path = argv[argc - 1];
  std::error_code ec;
  if (!fs::exists(config_path, ec)) {
    std::cout << "modelfile " << quote_path(config_path.string()) << " does not exist" << std::endl;
    return -1;
  }

  install_cli_sinks();
  // Only the last argument names the configuration: another one beside it is a mistake.
  for (int i = 1; i + 1 < argc; ++i) {
    if (!starts_with(argv[i], "-"))
      log_warn << "Argument " << quote_path(argv[i])
               << " is ignored: only the last argument names the project configuration file" << std::endl;
  }
  const build_context context{config_path, gui_output};

  const bool no_try = has_option(argc, argv, {"-nt", "--no-try"});

  // A failure that ends the run must reach the caller as a failure, so an exception
  // gives status 1 after its report, and so does any error line of a run that otherwise
  // went well (but for those of node sources that the model does not use). Without
  // checks both steps run whatever they gave, but an exception still ends the run here.
  try {
    if (no_try) {
      build_model(context);
      start_runtime(config_path, true, false);
      return 0;
    }
    if (build && build_model(context) != 0) return -1;
    if (start && start_runtime(config_path, build) != 0) return -1;
    return failing_error_lines() == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    log_err << "An exception occured: " << e.what() << std::endl;
  } catch (const char* s) {
    log_err << "An exception occured: " << s << std::endl;
  } catch (...) {
    log_err << "An unknown exception thrown... " << std::endl;
  }
  return 1;
}

}  // namespace vesk
