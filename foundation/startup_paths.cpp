#include "foundation/startup_paths.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"

namespace fs = std::filesystem;

// Built before any ordinary static initialiser, so a program may call setup_paths() from
// its own static initialisation without the paths being constructed (emptied) afterwards.
fs::path exe_dir __attribute__((init_priority(101)));
fs::path shared_dir __attribute__((init_priority(101)));
fs::path runtimes_dir __attribute__((init_priority(101)));
fs::path home_dir __attribute__((init_priority(101)));
fs::path config_dir __attribute__((init_priority(101)));

fs::path first_existing_path(std::initializer_list<fs::path> candidates) {
  for (const fs::path& p : candidates) {
    if (path_exists(p)) return p;
  }
  return candidates.size() ? *candidates.begin() : fs::path();
}

fs::path read_link_target(const fs::path& link) {
  // readlink does not say whether the text was cut, so grow the buffer until it fits.
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
    if (n < 0) {
      throw_bt_exception("unable to read " + link.string() + ": " + std::strerror(errno));
    }
    if (static_cast<size_t>(n) < buf.size()) return fs::path(std::string(buf.data(), static_cast<size_t>(n)));
    buf.resize(buf.size() * 2);
  }
}

void setup_paths() {
  const fs::path self = "/proc/self/exe";
  if (!path_exists(self)) throw_bt_exception("unable to open /proc/self/exe");
  exe_dir = read_link_target(self).parent_path();

  shared_dir = first_existing_path({"./shared", exe_dir / "shared", "/opt/vesk/shared"});
  runtimes_dir = first_existing_path({"./runtimes", exe_dir / "runtimes", "/opt/vesk/runtimes"});

  const char* home = std::getenv("HOME");
  if (home == nullptr) {
    std::cout << "Could not determine home-direcotry (no \"HOME\"-variable in environment) "
                 "This is needed to run vesk."
              << std::endl;
    std::exit(1);
  }
  home_dir = home;

  config_dir = home_dir / ".config" / "vesk";
  std::error_code ec;
  if (!path_exists(config_dir)) fs::create_directories(config_dir, ec);
  if (path_exists(config_dir)) return;
  std::cout << "Error creating config-directory in \"" << config_dir.string() << "\"." << std::endl;
  std::exit(1);
}
