#pragma once
// A project or workspace file held in memory with the contents it has had: save points,
// undo and redo, outside edits as history entries; written at once on every change and
// pushed to the editor sessions that have it open; a burst of changes is written once, and
// a burst of undo and redo steps pushed (and parsed) once. The histories are bounded in
// bytes, per file and for all files together; the oldest undo steps go first.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "annotations/block.h"
#include "annotations/node_total.h"
#include "foundation/fs_observer.h"
#include "foundation/json.h"
#include "io/event_list.h"
#include "io/timer.h"

namespace vesk {

class main_controller;
class managed_file;

/// The bytes that the histories of all managed files of this process hold, and their
/// bounds. A file's history counts every entry, its current content included; the current
/// content is never dropped, so a file larger than a bound is held alone.
class history_budget {
 public:
  /// What one entry costs beyond its text (its slot, string and age), so that many empty
  /// save points are bounded too.
  static constexpr size_t entry_overhead = 64;
  /// The most bytes one file's history holds.
  size_t per_file = size_t{64} << 20;
  /// The most bytes all histories hold together.
  size_t total = size_t{256} << 20;

  /// The budget every managed file counts against.
  static history_budget& shared();
  /// Bytes held now by all histories.
  size_t held() const { return held_; }

 private:
  friend class managed_file;
  /// Drops steps, oldest undo step of any file first, until the total is kept.
  void trim();

  std::vector<managed_file*> files_;
  size_t held_ = 0;
  uint64_t clock_ = 0;
};

/// The managed files whose undo or redo steps wait for their `settle`: all of one loop turn
/// (several messages of one read of the editor's bytes, say) are settled once, at the next.
class pending_settles {
 public:
  explicit pending_settles(vesk::io::event_list& events);
  pending_settles(const pending_settles&) = delete;
  pending_settles& operator=(const pending_settles&) = delete;

  /// Marks `file` to be settled at the next turn; a file marked already stays as it is.
  void mark(managed_file* file);
  /// Forgets `file`: it goes, or a change that pushes of its own (a save point) came.
  void drop(const managed_file* file);
  /// Settles every marked file now, in the order marked; one that throws is logged.
  void run();

 private:
  std::vector<managed_file*> files_;
  vesk::io::timer timer_;
};

class managed_file {
 public:
  managed_file(const std::filesystem::path& path, vesk::main_controller& owner);
  virtual ~managed_file();
  managed_file(const managed_file&) = delete;
  managed_file& operator=(const managed_file&) = delete;

  /// The largest file that is read and held: one version fills a file's history, and a
  /// larger content could not be pushed to the editor.
  static constexpr size_t max_file_bytes = size_t{64} << 20;

  /// Reads the file as the only history entry; throws when it cannot be read or holds
  /// more than max_file_bytes.
  virtual void load(const std::filesystem::path& file);
  /// Writes the current content to the file (replaced whole) with the controller's next
  /// deferred write, so that a burst of changes costs one; a failure is then logged as
  /// "Unable to write file: " and the path, and the history stays as it is.
  virtual void write();
  /// The current content ("" with no history), not copied.
  virtual const std::string& content();
  /// One step back, then write; the push of "read_file" (and what follows from the
  /// content) waits for `settle` at the next turn of the loop, once for a burst of steps.
  /// At the start of what is kept nothing is done: nothing written, pushed or parsed.
  virtual void undo();
  /// One step forward, as `undo`; at the end nothing is done.
  virtual void redo();
  /// Pushes the current content with "read_file" to the sessions that have the file open,
  /// and whatever follows from the content (see the derived files): the end of a burst of
  /// undo and redo steps, run by the controller's pending_settles.
  virtual void settle();
  /// Makes `text` the newest and current entry (dropping the redo entries and, past the
  /// budget's bounds, the oldest undo steps), writes it when asked, and pushes it.
  virtual void add_save_point(std::string text, bool write_to_disk);
  /// Takes an outside edit as a new entry; true when the file is missing or differed. The
  /// file is read only when its stamp moved since it was last read or written. A file
  /// that cannot be read keeps its history (false), with one warning line until it changes
  /// again.
  virtual bool reload_if_changed();
  /// Bytes this file's history holds, as the budget counts them.
  size_t held() const { return held_; }

  std::filesystem::path path;
  /// Every content kept, oldest first; entries leave from the front (undo steps past the
  /// budget) and the back (redo steps).
  std::deque<std::string> history;
  size_t index = 0;
  vesk::main_controller& controller;

 private:
  friend class history_budget;
  /// Writes the current content now; the deferred part of write.
  void store();
  /// Adds an entry at the end and counts it.
  void append(std::string text);
  /// Drops the oldest entry (never the current one); `index` follows.
  void drop_front();
  /// Drops the newest entry.
  void drop_back();
  /// Drops the oldest undo step, else the newest redo step; false when only the current
  /// content is left.
  bool drop_one();

  history_budget& budget_ = history_budget::shared();
  /// When each entry of `history` was added (the budget's clock), to find the oldest step.
  std::deque<uint64_t> ages_;
  size_t held_ = 0;
  /// The file's stamp when it was last read or written by us: unmoved, it needs no reading.
  file_stamp seen_{};
  /// The file's stamp when it was last found unreadable and said so.
  file_stamp unreadable_{};
  bool warned_unreadable_ = false;
};

/// A node header: re-parsed for its node descriptions after every change.
class managed_header : public managed_file {
 public:
  managed_header(const std::filesystem::path& path, vesk::main_controller& owner, std::string project_name);
  ~managed_header() override;
  /// The push, then the descriptions parsed again and the block list pushed.
  void settle() override;
  void add_save_point(std::string text, bool write_to_disk) override;
  /// Parses the node descriptions of the current content into `blocks`, when they fit
  /// beside those of the other headers (node_budget); else one error line, and none.
  void parse();
  /// The bound over the descriptions of all headers of this process, shared by all of
  /// them: a parse gives back what the header held and takes what it now describes.
  static vesk::annotations::node_total& node_budget();

  std::vector<std::shared_ptr<vesk::annotations::block_base>> blocks;
  std::string project;

 private:
  /// What `blocks` holds of node_budget.
  vesk::annotations::parse_budget charged_;
};

/// A model file: knows whether the model may be used as a node, and its ports.
class managed_model : public managed_file {
 public:
  managed_model(const std::filesystem::path& path, vesk::main_controller& owner, std::string project_name);
  ~managed_model() override;
  /// The push, then the node form computed again.
  void settle() override;
  void add_save_point(std::string text, bool write_to_disk) override;
  /// Recomputes the node form from the current content; pushes the block list when it changed.
  void compute_node_ports();

  std::string project;
  bool is_node = false;
  std::string model_name;
  vesk::json node_ports;
};

}  // namespace vesk
