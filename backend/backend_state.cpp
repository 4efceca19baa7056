#include "backend/backend_state.h"

#include <iostream>

#include "backend/gui_guards.h"
#include "backend/main_controller.h"

namespace vesk {

std::string cut_log_text(const std::string& msg) {
  if (msg.size() <= log_entry_limit) return msg;
  // The note's number depends on where the cut falls; its width hardly does, so the
  // widest it can be is reserved.
  const std::string widest = " [... " + std::to_string(msg.size()) + " more bytes cut]";
  size_t keep = log_entry_limit - widest.size();
  while (keep > 0 && (static_cast<unsigned char>(msg[keep]) & 0xc0) == 0x80) --keep;
  return msg.substr(0, keep) + " [... " + std::to_string(msg.size() - keep) + " more bytes cut]";
}

size_t log_bytes(const log_entry& entry) { return entry.type.size() + entry.msg.size(); }

void keep_log_entry(std::deque<log_entry>& history, size_t& bytes, log_entry entry) {
  const size_t added = log_bytes(entry);
  if (!history.empty() && history.size() >= log_history_entry_limit) {
    bytes -= log_bytes(history.front());
    history.pop_front();
  }
  while (!history.empty() && bytes + added > log_history_byte_limit) {
    bytes -= log_bytes(history.front());
    history.pop_front();
  }
  history.push_back(std::move(entry));
  bytes += added;
}

backend_state_t::backend_state_t(vesk::main_controller& owner) : controller(owner) {
  const std::filesystem::path& folder = controller.prj_dir.path;
  workspace = folder.parent_path().string();
  prj_name = folder.filename().string();
  prj_path = folder.string();
  prj_cfg_name = controller.prj_cfg.file.path.stem().string();
  rt_properties = vesk::json::make_object();
  vesk_config.on_update = [this] { controller.send_backend_state(); };
}

void backend_state_t::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("version", version);
  links.emplace_back("online", online);
  links.emplace_back("workspace", workspace);
  links.emplace_back("prj_name", prj_name);
  links.emplace_back("prj_path", prj_path);
  links.emplace_back("prj_cfg_name", prj_cfg_name);
  links.emplace_back("prj_cfg", prj_cfg);
  links.emplace_back("signal_def", signal_def);
  links.emplace_back("parameter_def", parameter_def);
  links.emplace_back("build_state", build_state);
  links.emplace_back("file_list", file_list);
  links.emplace_back("rt_properties", rt_properties);
  links.emplace_back("vesk_config", vesk_config);
}

void main_controller::send_backend_state() {
  vesk::json message{{"cmd", "backend_state"}, {"state", state.to_json()}};
  send_to_gui(message);
}

void main_controller::add_log_entry(const std::string& type, const std::string& raw_msg) {
  // Called from the log streams' sinks: an exception here would leave the stream in a
  // failed state and silence it for the rest of the run, so nothing may escape.
  try {
    const std::string msg = cut_log_text(replace_invalid_utf8(raw_msg));
    std::cout << type << ": " << msg << std::endl;
    if (!log_history_bytes) {
      log_history_bytes = 0;
      for (const log_entry& e : log_history) *log_history_bytes += log_bytes(e);
    }
    keep_log_entry(log_history, *log_history_bytes, {type, msg});
    // A line logged while this one is being pushed (by the sending itself) is kept and
    // printed, but not pushed: pushing it would run into the same send again.
    if (in_log_entry) return;
    in_log_entry = true;
    try {
      send_to_gui(vesk::json{{"cmd", "log"}, {"type", type}, {"msg", msg}});
    } catch (...) {
      in_log_entry = false;
      throw;
    }
    in_log_entry = false;
  } catch (const std::exception& e) {
    std::cerr << "vesk: a log line could not be passed on (" << e.what() << "): " << raw_msg << std::endl;
  } catch (...) {
    std::cerr << "vesk: a log line could not be passed on: " << raw_msg << std::endl;
  }
}

}  // namespace vesk
