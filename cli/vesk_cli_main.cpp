// The program vesk-cli: compiles a project's model, prepares its build directory and runs
// the runtime's scripts (see cli/cli_main.h).

#include "cli/cli_main.h"
#include "foundation/startup_paths.h"

namespace {

// The start-up folders are fixed before main, as in every vesk program.
bool init_cli_globals() {
  setup_paths();
  return true;
}

const bool cli_globals_ready = init_cli_globals();

}  // namespace

int main(int argc, char** argv) {
  (void)cli_globals_ready;
  return vesk::cli_main(argc, argv);
}
