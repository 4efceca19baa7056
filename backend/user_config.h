#pragma once
// The two files the back end keeps in the user's configuration folder: "vesk.cfg" (user
// configuration) and "model_perspectives.json" (the editor's view of each model). Several
// back ends (projects open at once under one home) share them: each change is made to the
// file as it is then, under a lock, and each back end takes in the others' changes.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "foundation/fs_observer.h"
#include "foundation/json.h"
#include "foundation/json_link.h"

namespace vesk {

class deferred_writes;

/// The user configuration, loaded from "vesk.cfg" and reloaded when it changes on disk.
class vesk_config : public json_link {
 public:
  vesk_config();
  /// Writes a save still pending: the deferred writes outlive their owners.
  ~vesk_config();
  vesk_config(const vesk_config&) = delete;  // the file's callback holds this object's address
  vesk_config& operator=(const vesk_config&) = delete;
  void get_links(std::vector<json_link_element>& links) override;
  /// The checked reading of `source` (the file's document, or the editor's "cfg", named
  /// `of` after each key): the keys it reads apply, one line for each of the wrong type
  /// (which keeps its value) and each it does not read, placed by the caller's log_place.
  void take(vesk::json& source, const std::string& of = "");
  /// Writes the keys changed here since the file was last read or written into "vesk.cfg"
  /// as it is now (its other keys, also those the back end does not read, stay as they
  /// are), so that the next check does not reload it; with `writes` set, at its next
  /// deferred write.
  void save();
  /// Reload after an outside change: apply the file's keys, keep the changes made here and
  /// not yet written, then on_update.
  void on_file_changed();

  int num_console_lines = 1000;
  std::string hg_tool = "thg";
  std::string git_tool = "gitk";
  std::string last_open_prj;
  double history_size_sec = 300.0;
  single_observed_file file;
  std::function<void()> on_update = [] {};
  /// Where the saves are deferred to; none (saves write at once) until the owner sets it.
  deferred_writes* writes = nullptr;

 private:
  /// Writes the changes into the file as it is now, under the file's lock.
  void write_now();
  /// The keys changed here since the file was last read or written, with their values.
  vesk::json changes();
  /// Applies the file's text and remembers it as the base of later changes.
  void take_file();

  /// The file's document as last read or written, kept whole: what is written is it with
  /// this back end's changes.
  vesk::json on_disk_;
  /// The keys as they were when the file was last read or written.
  vesk::json read_;
  /// Whether the last check read the file.
  bool reloaded_ = false;
};

/// The editor's perspective of each model, kept in "model_perspectives.json".
class vesk_model_perspectives {
 public:
  /// Loads the file; a missing or empty one is created holding {}.
  vesk_model_perspectives();
  /// Writes a save still pending: the deferred writes outlive their owners.
  ~vesk_model_perspectives();
  vesk_model_perspectives(const vesk_model_perspectives&) = delete;
  vesk_model_perspectives& operator=(const vesk_model_perspectives&) = delete;
  /// Sets the perspective of `model` and saves it, unless the document's text would then
  /// pass the file's bound: an error line naming the bound, and nothing changes. Costs
  /// what the old and the new perspective cost, not what the whole document does.
  void set(const std::string& model, vesk::json perspective);
  /// Writes the document to the file (with `writes` set, at its next deferred write), so
  /// that the next check does not reload it. The file is read first when it changed since:
  /// the perspectives set here are then written into it, and nothing when none was set. A
  /// document whose text would pass the file's bound is put back as last saved, with an
  /// error line naming its size and the bound.
  void save();
  /// Reload after an outside change: the file's perspectives, with those set here and not
  /// yet written.
  void on_file_changed();

  vesk::json document;
  single_observed_file file;
  /// Where the saves are deferred to; none (saves write at once) until the owner sets it.
  deferred_writes* writes = nullptr;

 private:
  /// Writes the document, read again first when it changed, under the file's lock.
  void write_now();
  /// The models whose perspective was set here and not yet written.
  std::set<std::string> pending_;
  /// Whether the last check read the file.
  bool reloaded_ = false;
  /// The size of the document's text as written; measured when first needed.
  size_t text_bytes_ = 0;
  bool measured_ = false;
};

}  // namespace vesk
