#pragma once
// One project folder: its "nodes", "models", "views" and "data" folders observed by
// polling, a managed file for every node source, model and view, and the flags that make
// the controller resend the file list and the block list.
#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "backend/managed_file.h"
#include "foundation/fs_observer.h"

namespace vesk {

class main_controller;

class project_dir : public fs_observer {
 public:
  /// Observes the folder (canonical); throws when its name is not an identifier.
  project_dir(const std::filesystem::path& folder, vesk::main_controller& owner);
  ~project_dir() override;
  project_dir(const project_dir&) = delete;
  project_dir& operator=(const project_dir&) = delete;

  /// Holds a new node source, model or view; one that cannot be read is skipped with a
  /// warning line.
  void on_file_added(const std::filesystem::path& file) override;
  void on_file_changed(const std::filesystem::path& file) override;
  void on_file_removed(const std::filesystem::path& file) override;
  /// The managed file of a path of this project (normalised in place), created when missing.
  virtual std::shared_ptr<managed_file> get_file(std::filesystem::path& file);
  /// Whether the path lies in the project (textual test on the path).
  bool contains(const std::filesystem::path& file) const;

  vesk::main_controller& controller;
  std::filesystem::path path;
  std::filesystem::path nodes_dir, models_dir, views_dir, data_dir;
  std::string name;
  std::array<std::shared_ptr<obs_dir>, 4> observers;
  std::map<std::filesystem::path, std::shared_ptr<managed_header>> headers;
  std::map<std::filesystem::path, std::shared_ptr<managed_file>> sources;
  std::map<std::filesystem::path, std::shared_ptr<managed_model>> models;
  std::map<std::filesystem::path, std::shared_ptr<managed_file>> views;
  std::map<std::filesystem::path, std::shared_ptr<managed_file>> others;
  /// Node sources, models and views that could not be read when reported; tried again
  /// when they change.
  std::set<std::filesystem::path> skipped;
  bool files_changed = false;
  bool blocks_changed = false;

 private:
  /// on_file_added without the guard: throws when the file cannot be read.
  void add(const std::filesystem::path& file);
};

}  // namespace vesk
