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
#include "foundation/log_stream.h"
#include "foundation/own_file.h"

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

/// What the choice of the start-up folders has to say: logged once, at the first listing of
/// the runtimes, since the folders are chosen before the log has its place.
struct path_note {
  bool warning;
  std::string text;
};
std::vector<path_note>& path_notes() {
  static std::vector<path_note> notes;
  return notes;
}

/// What is wrong with the folder `dir` of the working folder: it or anything in it that
/// is not the user's own; empty when none.
std::string tree_fault(const fs::path& dir) {
  std::string fault = own_file_fault(dir);
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; fault.empty() && !ec && it != end; it.increment(ec))
    fault = own_file_fault(it->path());
  if (fault.empty() && ec) fault = dir.string() + " cannot be listed: " + ec.message();
  return fault;
}

/// What is wrong with the runtimes folder `dir` of the working folder: it, or anything of a
/// runtime folder in it (its scripts and form, and the sources and tools its build compiles
/// and runs), that is not the user's own; empty when none.
std::string runtimes_fault(const fs::path& dir) {
  std::string fault = own_file_fault(dir);
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; fault.empty() && !ec && it != end; it.increment(ec)) {
    std::error_code e;
    if (it->is_directory(e)) fault = tree_fault(it->path());
  }
  if (fault.empty() && ec) fault = dir.string() + " cannot be listed: " + ec.message();
  return fault;
}

/// The working folder's `local` when it exists and passes `judge`, else the first of
/// `others` that exists (else the first of them); a skipped one gets a warning.
fs::path choose(const fs::path& local, std::string (*judge)(const fs::path&), std::initializer_list<fs::path> others,
                const char* taken_note) {
  if (!path_exists(local)) return first_existing_path({local, *others.begin(), *(others.begin() + 1)});
  const fs::path where = fs::absolute(local).lexically_normal();
  const std::string fault = judge(where);
  if (fault.empty()) {
    if (taken_note != nullptr) path_notes().push_back({false, taken_note + where.string()});
    return local;
  }
  const fs::path next = first_existing_path(others);
  path_notes().push_back({true, where.string() + " of the working folder is skipped: " + fault +
                                    "; the folder beside the program or the installed one is used (" +
                                    next.string() + ")."});
  return next;
}

}  // namespace

void log_start_path_notes() {
  for (const path_note& n : path_notes()) (n.warning ? log_warn : log_info) << n.text << std::endl;
  path_notes().clear();
}

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

  // What the working folder holds is taken first, but only what is the user's own: the
  // folder may be one that others can write.
  path_notes().clear();
  shared_dir = choose("./shared", tree_fault, {exe_dir / "shared", "/opt/vesk/shared"}, nullptr);
  runtimes_dir = choose("./runtimes", runtimes_fault, {exe_dir / "runtimes", installed_runtimes},
                        "Runtimes are taken from the working folder: ");

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
  if (dir == runtimes_dir) log_start_path_notes();
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
