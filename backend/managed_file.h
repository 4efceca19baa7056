#pragma once
// A project or workspace file held in memory with every content it has had: save points,
// undo and redo, outside edits as history entries; written at once on every change and
// pushed to the editor sessions that have it open.
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "annotations/block.h"
#include "foundation/fs_observer.h"
#include "foundation/json.h"

namespace vesk {

class main_controller;

class managed_file {
 public:
  managed_file(const std::filesystem::path& path, vesk::main_controller& owner);
  virtual ~managed_file();
  managed_file(const managed_file&) = delete;
  managed_file& operator=(const managed_file&) = delete;

  /// Reads the file as the only history entry; throws when it cannot be read.
  virtual void load(const std::filesystem::path& file);
  /// Writes the current content to the file (replaced whole); a failure is logged as
  /// "Unable to write file: " and the path, and the history stays as it is.
  virtual void write();
  /// The current content ("" with no history).
  virtual std::string content();
  /// One step back (where there is one), then write and push "read_file", also at the start.
  virtual void undo();
  /// One step forward (where there is one), then write and push, also at the end.
  virtual void redo();
  /// Makes `text` the newest and current entry (dropping the redo entries), writes it
  /// when asked, and pushes it.
  virtual void add_save_point(const std::string& text, bool write_to_disk);
  /// Takes an outside edit as a new entry; true when the file is missing or differed. A
  /// file that cannot be read keeps its history (false), with one warning line until it
  /// changes again.
  virtual bool reload_if_changed();

  std::filesystem::path path;
  std::deque<std::string> history;
  size_t index = 0;
  vesk::main_controller& controller;

 private:
  /// The file's stamp when it was last found unreadable and said so.
  file_stamp unreadable_{};
  bool warned_unreadable_ = false;
};

/// A node header: re-parsed for its node descriptions after every change.
class managed_header : public managed_file {
 public:
  managed_header(const std::filesystem::path& path, vesk::main_controller& owner, std::string project_name);
  ~managed_header() override;
  void undo() override;
  void redo() override;
  void add_save_point(const std::string& text, bool write_to_disk) override;
  /// Parses the node descriptions of the current content into `blocks`.
  void parse();

  std::vector<std::shared_ptr<vesk::annotations::block_base>> blocks;
  std::string project;
};

/// A model file: knows whether the model may be used as a node, and its ports.
class managed_model : public managed_file {
 public:
  managed_model(const std::filesystem::path& path, vesk::main_controller& owner, std::string project_name);
  ~managed_model() override;
  void undo() override;
  void redo() override;
  void add_save_point(const std::string& text, bool write_to_disk) override;
  /// Recomputes the node form from the current content; pushes the block list when it changed.
  void compute_node_ports();

  std::string project;
  bool is_node = false;
  std::string model_name;
  vesk::json node_ports;
};

}  // namespace vesk
