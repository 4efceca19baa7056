#include "backend/backend_state.h"

#include "backend/gui_guards.h"
#include "backend/main_controller.h"
#include "foundation/log_stream.h"
#include "io/standard_output.h"

namespace vesk {

std::string log_entry_text(const char* text, size_t length, size_t whole) {
  size_t used = 0;
  std::string kept;
  if (whole == length) {
    kept = replace_invalid_utf8(text, length, log_entry_limit, used);
    if (used == length) return kept;
  }
  // The note's number depends on where the cut falls; its width hardly does, so the
  // widest it can be is reserved.
  const size_t widest = std::string(" [...  more bytes cut]").size() + std::to_string(whole).size();
  kept = replace_invalid_utf8(text, length, log_entry_limit - widest, used);
  return kept + " [... " + std::to_string(whole - used) + " more bytes cut]";
}

size_t log_bytes(const log_entry& entry) { return entry.type.size() + entry.msg.size(); }

void log_history_t::add(log_entry entry) {
  const size_t added = log_bytes(entry);
  while (!entries_.empty() &&
         (entries_.size() >= log_history_entry_limit || bytes_ + added > log_history_byte_limit)) {
    bytes_ -= log_bytes(entries_.front());
    entries_.pop_front();
  }
  entries_.push_back(std::move(entry));
  bytes_ += added;
}

const std::deque<log_entry>& log_history_t::entries() const { return entries_; }

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
  links.emplace_back("signal_def", definitions_placeholder_);
  links.emplace_back("parameter_def", definitions_placeholder_);
  links.emplace_back("build_state", build_state);
  links.emplace_back("file_list", file_list);
  links.emplace_back("rt_properties", rt_properties);
  links.emplace_back("vesk_config", vesk_config);
}

std::string backend_state_t::message_text() {
  vesk::json rest = to_json();
  // The folders' names (workspace, project, its configuration), the build's and the
  // runtime's texts may hold bytes that are no UTF-8; the editor gets them repaired, the
  // back end keeps them as they are. Said once, not at every push.
  if (repair_texts(rest) && !repaired_said_) {
    repaired_said_ = true;
    log_warn << "The back end's state holds texts that are not valid UTF-8 (the project folder '"
             << escaped_text(prj_path) << "' or a text of its configuration): the editor is shown them with "
             << "each such byte replaced by U+FFFD." << std::endl;
  }
  // The members as the writer lays them out two levels deep; the definitions' text is
  // already laid out so. Pieces first, so that the text is allocated once.
  std::vector<std::string> own;
  own.reserve(rest.size() + 2);
  std::vector<std::string_view> parts;
  own.emplace_back("{\n  \"cmd\": \"backend_state\",\n  \"state\": {");
  parts.emplace_back(own.back());
  for (const vesk::json::member& m : rest.object_members()) {
    std::string piece = parts.size() == 1 ? "\n    " : ",\n    ";
    piece += vesk::json(m.first).dump();
    piece += ": ";
    const definition_list* defs = m.first == "signal_def"      ? &signal_def
                                  : m.first == "parameter_def" ? &parameter_def
                                                               : nullptr;
    if (defs == nullptr || !defs->published()) {
      std::string indent = "    ";
      vesk::json::write(piece, indent, "  ", m.second, false);
    }
    own.push_back(std::move(piece));
    parts.emplace_back(own.back());
    if (defs != nullptr && defs->published()) parts.emplace_back(defs->text());
  }
  own.emplace_back("\n  }\n}");
  parts.emplace_back(own.back());
  size_t total = 0;
  for (std::string_view p : parts) total += p.size();
  std::string text;
  text.reserve(total);
  for (std::string_view p : parts) text.append(p.data(), p.size());
  return text;
}

bool fits_in_state(const vesk::json& value, size_t depth, const std::string& what) {
  // The depth first: it bounds what measuring the size may cost per value.
  const size_t nesting = nesting_depth(value, max_state_config_depth);
  if (nesting > max_state_config_depth) {
    log_err << what << " was not applied: it nests deeper than " << max_state_config_depth
            << " levels, more than the back end's state may carry." << std::endl;
    return false;
  }
  const size_t size = indented_text_size(value, depth, max_state_config_bytes);
  if (size > max_state_config_bytes) {
    log_err << what << " was not applied: it takes more than " << max_state_config_bytes
            << " bytes as the back end's state carries it, the limit of one configuration." << std::endl;
    return false;
  }
  return true;
}

bool backend_state_t::take_prj_cfg(project_config_file& cfg, const std::string& what) {
  // Two levels deep: "state", then "prj_cfg".
  vesk::json taken = cfg.to_json();
  if (fits_in_state(taken, 2, what)) {
    prj_cfg = std::move(taken);
    return true;
  }
  cfg.read(prj_cfg.is_object() ? prj_cfg
                                : vesk::json{{"model", ""}, {"runtime", ""}, {"runtime_configs", vesk::json::make_object()}});
  return false;
}

void main_controller::send_backend_state() {
  // Nobody to tell: an editor that connects asks for the state.
  if (sessions.empty()) return;
  send_text_to_gui(state.message_text(), "backend_state");
}

void main_controller::send_to_gui(const vesk::json& message) {
  if (sessions.empty()) return;
  // Measured before it is written, as session::send does: a deeply nested message (a
  // build's "j: " line) would be written at hundreds of times its size, only to be refused.
  const std::string cmd = command_of(message);
  if (!sessions.front()->fits_queue(indented_text_size(message, 0, session::queue_limit), cmd)) return;
  send_text_to_gui(message.dump("  "), cmd);
}

void main_controller::send_text_to_gui(const std::string& text, const std::string& cmd) {
  // A copy of the list: a send that finds its connection gone closes that session.
  const std::vector<std::shared_ptr<vesk::session>> copy = sessions;
  for (const auto& s : copy) s->send_text(text, cmd);
}

void main_controller::add_log_entry(const std::string& type, std::string_view raw_msg) {
  // Called from the log streams' sinks: an exception here would leave the stream in a
  // failed state and silence it for the rest of the run, so nothing may escape.
  try {
    const std::string msg = log_entry_text(raw_msg.data(), raw_msg.size());
    std::string line;
    append_log_line(line, type + ": ", msg);
    io::standard_out().write(line);
    log_history.add({type, msg});
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
    io::write_error_line(std::string("vesk: a log line could not be passed on (") + e.what() + "): ", raw_msg);
  } catch (...) {
    io::write_error_line("vesk: a log line could not be passed on: ", raw_msg);
  }
}

}  // namespace vesk
