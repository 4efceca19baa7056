#pragma once
// The folder around the open project: the other projects, the runtime folders "rt_" +
// name, and files opened outside every project. Rescanned by the controller's file poll.
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "backend/managed_file.h"
#include "backend/project_dir.h"
#include "foundation/runtime_dir.h"

namespace vesk {

class main_controller;

/// Runs one step of a file poll: what goes wrong in it is left for the next poll to try
/// again, and the steps after it still run.
template <class F>
void poll_step(F f) {
  try {
    f();
  } catch (...) {
  }
}

class workspace {
 public:
  /// `root`: the workspace folder; `own_project`: the open project's folder name.
  workspace(std::filesystem::path root, std::string own_project, vesk::main_controller& owner);
  virtual ~workspace();
  workspace(const workspace&) = delete;
  workspace& operator=(const workspace&) = delete;

  /// Brings projects, runtimes and loose files in line with the disk; sets `changed`.
  void rescan();
  /// The managed file of a path outside the open project (normalised in place).
  virtual std::shared_ptr<managed_file> get_file(std::filesystem::path& file);

  std::map<std::string, std::shared_ptr<project_dir>> projects;
  std::filesystem::path root;
  std::string own_project;
  std::set<std::string> ignored;  ///< folder names (paths of installed runtimes) warned about once; a set, as a rescan looks each up
  bool changed = false;
  vesk::main_controller& controller;
  std::map<std::string, std::shared_ptr<runtime_dir>> runtimes;
  std::map<std::filesystem::path, std::shared_ptr<managed_file>> files;

  /// Entries of the workspace folder a rescan looks at (each a stat call every 2 s), and
  /// badly named folders remembered. The rest are left out with one warning a run.
  static inline size_t max_entries = 8192;
  /// Projects and runtimes of the workspace held (each costs its observers and files).
  /// Further ones are not taken in, with one warning a run; those held stay.
  static inline size_t max_folders = 1024;

 private:
  /// Whether the warnings on a workspace folder past max_entries, max_folders were given.
  bool noted_full_ = false;
  bool noted_folders_ = false;

  /// Takes a folder of the workspace in as a project or runtime when it is a new one.
  void add_folder(const std::filesystem::directory_entry& entry);
};

}  // namespace vesk
