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

namespace {

const char* const installed_runtimes = "/opt/vesk/runtimes";

}  // namespace

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
  runtimes_dir = first_existing_path({"./runtimes", exe_dir / "runtimes", installed_runtimes});

  const char* home = std::getenv("HOME");
  if (home == nullptr) {
    std::cout << "Could not determine home-direcotry (no \"HOME\"-variable in environment) "
                 "This is needed to run vesk."
              << std::endl;
    std::exit(1);
  }
  home_dir = home;

  config_dir = home_dir / ".config" / "vesk";
}

void create_config_dir() {
  std::error_code ec;
  if (!fs::is_directory(config_dir, ec)) fs::create_directories(config_dir, ec);
  if (!fs::is_directory(config_dir, ec)) {
    throw_bt_exception("Error creating config-directory in \"" + config_dir.string() + "\".");
  }
}

std::vector<fs::path> runtime_folders(const fs::path& dir) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) {
    // Say where the folder was looked for: a relative "./runtimes" in a message says nothing
    // about the working folder it was taken from.
    const fs::path where = fs::absolute(dir).lexically_normal();
    std::string text;
    if (ec == std::errc::no_such_file_or_directory) {
      text = "No runtimes folder: " + where.string() + " does not exist";
      if (dir == runtimes_dir) {
        // The start-up search keeps its first candidate when none exists: all were tried.
        for (const fs::path& other : {exe_dir / "runtimes", fs::path(installed_runtimes)}) {
          if (other != where && !path_exists(other)) text += ", nor does " + other.string();
        }
      }
    } else {
      text = "Unable to list the runtimes folder " + where.string() + ": " + ec.message();
    }
    throw_bt_exception(text + ". It must hold one folder per runtime (such as \"linux\"), each with the scripts "
                              "\"build\" and \"start\".");
  }
  std::vector<fs::path> folders;
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    std::error_code e;
    if (it->is_directory(e)) folders.push_back(it->path());
  }
  if (ec) throw_bt_exception("Unable to list the runtimes folder " + fs::absolute(dir).string() + ": " + ec.message());
  return folders;
}
