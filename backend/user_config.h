#pragma once
// The two files the back end keeps in the user's configuration folder: "vesk.cfg" (user
// configuration) and "model_perspectives.json" (the editor's view of each model).
#include <functional>
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
  /// Writes the five keys to "vesk.cfg", so that the next check does not reload it; with
  /// `writes` set, at its next deferred write. A key of the wrong type in the file is
  /// logged with the file's path; the others apply.
  void save();
  /// Reload after an outside change: apply the file's keys, then on_update.
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
  /// Writes the keys for a change made when the file's stamp was `read`.
  void write_now(const file_stamp& read);
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
  /// Sets the perspective of `model` and saves the document, unless its text would then
  /// pass the file's bound: an error line naming the bound, and nothing changes. Costs
  /// what the old and the new perspective cost, not what the whole document does.
  void set(const std::string& model, vesk::json perspective);
  /// Writes the document to the file (with `writes` set, at its next deferred write), so
  /// that the next check does not reload it. A document whose text would pass the file's
  /// bound is put back as last saved, with an error line naming its size and the bound.
  void save();
  /// Reload after an outside change (the file poll does not check this file: a save that
  /// an outside edit keeps from being written reads it).
  void on_file_changed();

  vesk::json document;
  single_observed_file file;
  /// Where the saves are deferred to; none (saves write at once) until the owner sets it.
  deferred_writes* writes = nullptr;

 private:
  /// Writes the document for a change made when the file's stamp was `read`.
  void write_now(const file_stamp& read);
  /// The size of the document's text as written; measured when first needed.
  size_t text_bytes_ = 0;
  bool measured_ = false;
};

}  // namespace vesk
