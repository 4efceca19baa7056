#pragma once
// The back end's situation as the editor sees it (pushed whole as "backend_state" after
// every change), and one record of the back end's log history.
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "backend/user_config.h"
#include "foundation/json.h"
#include "foundation/json_link.h"

namespace vesk {

class main_controller;

/// One log record: "debug", "info", "warn", "error" or "console", and the text.
struct log_entry {
  std::string type;
  std::string msg;
};

/// The most text bytes one log entry keeps (a longer line is cut, see cut_log_text).
constexpr size_t log_entry_limit = 64u << 10;
/// The most text bytes the log history keeps; the oldest entries leave first.
constexpr size_t log_history_byte_limit = 16u << 20;
/// The most entries the log history keeps once the controller adds to it.
constexpr size_t log_history_entry_limit = 5000;

/// `msg` (valid UTF-8) if it fits log_entry_limit; else its beginning, cut at a character
/// boundary, and a note of how many bytes were dropped, together within the limit.
std::string cut_log_text(const std::string& msg);

/// The bytes an entry counts against log_history_byte_limit.
size_t log_bytes(const log_entry& entry);

/// Appends `entry` to `history`, whose entries count `bytes` (kept up to date): first the
/// oldest entry leaves when the entry limit is reached, then more of the oldest while the
/// byte limit would be passed.
void keep_log_entry(std::deque<log_entry>& history, size_t& bytes, log_entry entry);

/// The JSON-bound record of the back end's situation.
class backend_state_t : public json_link {
 public:
  /// Loads "vesk.cfg" and takes the project's names from the controller's configuration path.
  explicit backend_state_t(vesk::main_controller& owner);
  void get_links(std::vector<json_link_element>& links) override;

  vesk::main_controller& controller;
  bool online = false;
  vesk::json file_list;
  int build_state = 0;
  int version = 17;
  std::string prj_path;
  vesk::vesk_config vesk_config;
  vesk::json prj_cfg;
  vesk::json rt_properties;
  vesk::json signal_def;
  vesk::json parameter_def;
  std::string workspace;
  std::string prj_name;
  std::string prj_cfg_name;
};

}  // namespace vesk
