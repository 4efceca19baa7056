#pragma once
// The back end's situation as the editor sees it (pushed whole as "backend_state" after
// every change), and one record of the back end's log history.
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "backend/shown_text.h"
#include "backend/type_def.h"
#include "backend/user_config.h"
#include "foundation/json.h"
#include "foundation/json_link.h"
#include "foundation/project_config.h"

namespace vesk {

class main_controller;

/// One log record: "debug", "info", "warn", "error" or "console", and the text.
struct log_entry {
  std::string type;
  std::string msg;
};

/// The most text bytes one log entry keeps (a longer line is cut, see log_entry_text).
constexpr size_t log_entry_limit = 64u << 10;
/// The most text bytes the log history keeps; the oldest entries leave first.
constexpr size_t log_history_byte_limit = 16u << 20;
/// The most entries the log history keeps.
constexpr size_t log_history_entry_limit = 5000;

/// The text a log entry keeps of the `length` bytes at `text`: valid UTF-8 (a byte that
/// starts no well-formed sequence becomes U+FFFD) within log_entry_limit; of a longer text
/// its beginning, cut at a character boundary, and a note of how many of its bytes were
/// dropped. The text is cut before it is repaired or copied: a line of any length (a model
/// may send 64 MiB) costs no more than one of the limit. `whole` is the length of the line
/// as it came, when only its first `length` bytes were kept (the note then counts the rest).
std::string log_entry_text(const char* text, size_t length, size_t whole);
inline std::string log_entry_text(const char* text, size_t length) { return log_entry_text(text, length, length); }

/// The bytes an entry counts against log_history_byte_limit.
size_t log_bytes(const log_entry& entry);

/// The back end's log history, oldest entry first. Start-up and the controller add to it
/// alike through add, so its bounds hold from the first line on.
class log_history_t {
 public:
  /// Appends `entry` (its text made by log_entry_text); as many of the oldest entries
  /// leave as log_history_entry_limit and log_history_byte_limit need.
  void add(log_entry entry);
  /// The entries, oldest first.
  const std::deque<log_entry>& entries() const;

 private:
  std::deque<log_entry> entries_;
  size_t bytes_ = 0;  ///< what the entries count against log_history_byte_limit
};

/// The most bytes one configuration takes as the state carries it, indent included (the
/// bound of its file, which it then fits as well). With the model's definitions (16 MiB
/// of text), the runtimes' forms (1 MiB) and the file list, the state stays below what
/// may wait to be sent to an editor (64 MiB), so every editor that reads gets it.
constexpr size_t max_state_config_bytes = size_t{16} << 20;
/// The deepest nesting of a configuration the state carries: real ones are a few levels
/// deep, and the editor reads the state with a parser that recurses.
constexpr size_t max_state_config_depth = 32;

/// Whether the configuration `value` may be carried in the state `depth` levels deep:
/// within max_state_config_depth and max_state_config_bytes. Otherwise one error line
/// "<what> was not applied: ..." naming the depth or the size and the bound, and false.
bool fits_in_state(const vesk::json& value, size_t depth, const std::string& what);

/// The JSON-bound record of the back end's situation.
class backend_state_t : public json_link {
 public:
  /// Loads "vesk.cfg" and takes the project's names from the controller's configuration path.
  explicit backend_state_t(vesk::main_controller& owner);
  void get_links(std::vector<json_link_element>& links) override;
  /// The message {"cmd": "backend_state", "state": {...}} as the editor gets it, written
  /// with the two-blank indent. One text per push, shared by every session.
  std::string message_text();
  /// Takes the project configuration as "prj_cfg" when it fits (fits_in_state, with
  /// `what` naming where it came from); otherwise puts `cfg` back as "prj_cfg" holds it,
  /// so that what is held stays what can be saved and sent, and returns false.
  bool take_prj_cfg(project_config_file& cfg, const std::string& what);

  vesk::main_controller& controller;
  bool online = false;
  vesk::json file_list;
  int build_state = 0;
  int version = 17;
  std::string prj_path;
  vesk::vesk_config vesk_config;
  vesk::json prj_cfg;
  vesk::json rt_properties;
  /// The model's definitions, kept as the text the state message carries (null without a
  /// model): rendered once when the model sends them, never per push or per session.
  vesk::definition_list signal_def;
  vesk::definition_list parameter_def;
  std::string workspace;
  std::string prj_name;
  std::string prj_cfg_name;
  /// The names from the file system left out of the file list and block list.
  vesk::unshown_names unshown;

 private:
  /// Stands in for the definitions in to_json, which keeps their keys in place.
  vesk::json definitions_placeholder_;
  /// Whether the repair of the state's texts was said.
  bool repaired_said_ = false;
};

}  // namespace vesk
