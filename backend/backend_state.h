#pragma once
// The back end's situation as the editor sees it (pushed whole as "backend_state" after
// every change), and one record of the back end's log history.
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
