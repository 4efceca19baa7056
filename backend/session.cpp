#include "backend/session.h"

#include <algorithm>
#include <utility>

#include "backend/gui_guards.h"
#include "backend/main_controller.h"
#include "backend/session_commands.h"
#include "backend/bad_number.h"
#include "backend/data_fanout.h"
#include "backend/shown_text.h"
#include "foundation/bt_exception.h"
#include "foundation/json_reader.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"
#include "generators/base_element_generator.h"
#include "io/standard_output.h"

namespace vesk {

namespace {

using handler = bool (*)(session&, vesk::json&);

/// The generator of a block configuration's "type"; none is an exception naming the type
/// as written and the request's `node`, when it has one.
std::shared_ptr<vesk::generator> generator_of(session& s, vesk::json& block_config, const vesk::json& node) {
  const vesk::json& type = block_config["type"];
  // Only a text names a type: a number is not read as its digits.
  auto it = type.is_string() ? s.controller.generators.find(type.get_string_ref()) : s.controller.generators.end();
  if (it != s.controller.generators.end()) return it->second;
  // Named as the build tool names it in a model file, within a line's length.
  const auto quoted = [](const vesk::json& v) {
    return v.is_string() ? "'" + v.get_string_ref().substr(0, 100) + "'" : written(v);
  };
  throw_bt_exception("generator " + quoted(type) + " not found (key \"type\")" +
                     (node.is_null() ? "" : " of node " + quoted(node)));
}

bool get_view_config(session& s, vesk::json& request) {
  // Each request runs a generator and makes a view several times its own size: the count
  // is bounded before any is answered, and the reply is written as text with a running
  // bound, one view at a time, instead of as one value holding every view.
  vesk::json& list = request["requests"];
  if (!list.is_null() && !session_commands::array_arg(request, "requests", "nothing answered.")) return true;
  if (list.size() > session::max_view_requests) {
    log_err << "get_view_config: " << list.size() << " requests in one message, more than the "
            << session::max_view_requests << " that are answered; nothing answered." << std::endl;
    return true;
  }
  std::string text = "{\n  \"cmd\": \"view_config\",\n  \"requests\": [";
  size_t answered = 0;
  model_read_budget models(session::max_view_model_bytes);
  for (auto it = list.begin(); it != list.end(); ++it, ++answered) {
    vesk::json& r = *(*it).value;
    std::shared_ptr<vesk::generator> g = generator_of(s, r["block_config"], r["node"]);
    // Moved, not copied: a view of many pins is as large as its configuration, and a list
    // would copy the finished view twice on its way into the entry.
    g->set_config(std::move(r["block_config"]["cfg"]));
    vesk::json entry = vesk::json::make_object();
    vesk::json& node = r["node"];
    if (!node.is_null()) entry["node"] = std::move(node);  // left out when null, as a list does
    entry["view_config"] = g->get_view_config().to_json();
    if (models.passed) {
      log_err << "get_view_config: the referenced models would take " << models.read << " bytes to read at request "
              << answered + 1 << " of " << list.size() << ", more than the " << models.bound
              << " that one message may read; nothing answered." << std::endl;
      return true;
    }
    const size_t size = indented_text_size(entry, 2, session::max_view_reply_bytes);
    if (text.size() + size > session::max_view_reply_bytes) {
      log_err << "get_view_config: the reply would pass " << session::max_view_reply_bytes << " bytes at request "
              << answered + 1 << " of " << list.size()
              << ", more than is sent to the editor at once; nothing answered." << std::endl;
      return true;
    }
    // Room for the view at once: growing by steps copies a reply of many pins many times.
    const size_t needed = text.size() + size + 8;
    if (needed > text.capacity()) text.reserve(std::max(needed, 2 * text.capacity()));
    text += answered == 0 ? "\n    " : ",\n    ";
    std::string indent = "    ";
    vesk::json::write(text, indent, "  ", entry, false);
  }
  text += "\n  ]\n}";
  s.send_text(text, "view_config");
  return true;
}

bool open_vcs_gui(session& s, vesk::json&) {
  main_controller& c = s.controller;
  std::string tool;
  if (c.hg_found) {
    tool = c.state.vesk_config.hg_tool;
  } else if (c.git_found) {
    tool = c.state.vesk_config.git_tool;
  } else {
    log_err << "No version control system found." << std::endl;
    return true;
  }
  // The old tool is stopped when its task is released, on the controller's timer.
  c.vcs_task = std::make_shared<command_task>(tool, std::vector<std::string>{}, c.state.prj_path);
  c.watch_releases();
  return true;
}

bool get_properties(session& s, vesk::json& request) {
  // Members set one by one: a list of pairs leaves null values out, and both replies keep
  // their members (null or not) in the protocol's order.
  vesk::json reply;
  try {
    reply = vesk::json{{"cmd", "node_properties"}};
    reply["props"] = vesk::json();
    reply["node"] = request["node"];
    std::shared_ptr<vesk::generator> g = generator_of(s, request["block_config"], request["node"]);
    g->set_config(std::move(request["block_config"]["cfg"]));
    vesk::json props = vesk::json::make_array(nullptr, 0);
    for (vesk::property& p : g->get_properties()) props.push_back(p.to_json());
    reply["props"] = std::move(props);
  } catch (...) {
    vesk::json error_prop{{"form", "headline"}, {"lbl", "Error getting properties..."}};
    reply = vesk::json{{"cmd", "node_properties"}};
    reply["node_id"] = request["node_id"];
    reply["props"] = vesk::json::make_array(&error_prop, 1);
  }
  s.send(reply);
  return true;
}

bool build(session& s, vesk::json&) {
  s.controller.start_build();
  return true;
}

bool get_log_history(session& s, vesk::json&) {
  // A copy: sending may log (and so add to the history).
  const std::deque<log_entry> history = s.controller.log_history.entries();
  for (const log_entry& e : history) {
    // Assigned, not listed: a list copies each value twice on its way into the object.
    vesk::json m{{"cmd", "log"}, {"type", e.type}};
    m["msg"] = e.msg;
    s.send(m);
  }
  return true;
}

bool get_blk_list(session& s, vesk::json&) {
  s.controller.send_block_list();
  return true;
}

/// Names of a subscription list shown in its line about names the model does not define;
/// the rest are counted, so that a list of many cannot make a line of them all.
constexpr size_t shown_undefined_names = 3;

/// Takes the names of a subscription list: an array of texts within max_subscribed_names,
/// checked before a name is copied. Otherwise an error line, false, and the old list stays:
/// a misspelt or mistyped list must not stop every value in silence. Names that the
/// online model's `defined` lacks are named in one warning.
bool fill_names(std::vector<std::string>& names, vesk::json& request, const definition_list& defined) {
  const char* const unchanged = "the list was not changed.";
  if (!session_commands::array_arg(request, "list", unchanged)) return false;
  const std::string cmd = replace_invalid_utf8(command_of(request));
  vesk::json& list = request["list"];
  if (list.size() > session::max_subscribed_names) {
    log_err << cmd << ": " << list.size() << " names, more than the " << session::max_subscribed_names
            << " that may be subscribed; " << unchanged << std::endl;
    return false;
  }
  size_t position = 1;
  for (auto it = list.begin(); it != list.end(); ++it, ++position) {
    const vesk::json& name = *(*it).value;
    if (name.is_string()) continue;
    log_err << cmd << ": \"list\" must be a JSON array of texts: element " << position << " is "
            << json_type_name(name.type()) << " " << written(name) << "; " << unchanged << std::endl;
    return false;
  }
  names.clear();
  names.reserve(list.size());
  for (auto it = list.begin(); it != list.end(); ++it) names.push_back((*it).value->take_string());
  const std::vector<std::string> undefined = undefined_names(defined, names);
  if (undefined.empty()) return true;
  std::string shown;
  for (size_t i = 0; i < undefined.size() && i < shown_undefined_names; ++i)
    shown += (i == 0 ? "" : ", ") + written(vesk::json(undefined[i]));
  if (undefined.size() > shown_undefined_names)
    shown += " and " + std::to_string(undefined.size() - shown_undefined_names) + " more";
  log_warn << cmd << ": " << undefined.size() << (undefined.size() == 1 ? " name" : " names")
           << " the online model does not define get no values: " << shown << "." << std::endl;
  return true;
}

bool set_daq_list(session& s, vesk::json& request) {
  if (fill_names(s.daq_list, request, s.controller.state.signal_def)) s.controller.gateway.update_daq();
  return true;
}

bool set_paq_list(session& s, vesk::json& request) {
  if (fill_names(s.paq_list, request, s.controller.state.parameter_def)) s.controller.gateway.update_paq();
  return true;
}

bool kill_build(session& s, vesk::json&) {
  if (s.controller.build_task) s.controller.kill_build();
  return true;
}

bool get_backend_state(session& s, vesk::json&) {
  s.send_text(s.controller.state.message_text(), "backend_state");
  return true;
}

/// The checked reading of write_prj_config's "cfg", as of the file it is written to: a
/// value of the wrong type (a number is never read as its digits) refuses the whole
/// request; a key nothing reads, or a runtime's configuration that is no object, is
/// warned about, and the rest applies. The editor sends back the whole "prj_cfg" it was
/// shown, so "model_hosts" as `current` has it passes in silence; another value is not
/// applied (who may take the model link is set in the file alone) and is warned about.
bool prj_cfg_checked(vesk::json& request, const project_config_file& current) {
  const vesk::json& cfg = request["cfg"];
  json_reader reader(cfg, "\"cfg\"");
  for (const char* key : {"model", "runtime"}) reader.take(key, {vesk::json::string_t, vesk::json::null_t});
  if (const vesk::json* hosts = reader.take("model_hosts")) {
    vesk::json shown = current.to_json()["model_hosts"];
    const bool none = hosts->is_null() || (hosts->is_array() && hosts->array_elements().empty());
    if (shown.is_null() ? !none : hosts->dump() != shown.dump())
      reader.warn_value("model_hosts", *hosts,
                        "is ignored: the hosts whose models the model port serves are set in " +
                            current.file.path.lexically_normal().string() + " alone");
  }
  const vesk::json* configs = reader.take("runtime_configs", {vesk::json::object_t, vesk::json::null_t});
  reader.take("runtime_config", {vesk::json::object_t, vesk::json::null_t});
  reader.finish([] { return "write_prj_config reads model, runtime, runtime_configs, runtime_config"; });
  if (configs != nullptr && configs->is_object()) {
    json_reader entries(*configs, "\"runtime_configs\"");
    entries.take_all_lenient({vesk::json::object_t, vesk::json::null_t}, "the runtime gets its defaults alone");
    reader.findings.insert(reader.findings.end(), entries.findings.begin(), entries.findings.end());
  }
  return session_commands::report_findings(request, std::move(reader.findings));
}

bool write_prj_config(session& s, vesk::json& request) {
  // Anything but an object would rewrite the file with nothing taken from the request.
  if (!session_commands::object_arg(request, "cfg")) return true;
  project_config_file& cfg = s.controller.prj_cfg;
  if (!prj_cfg_checked(request, cfg)) return true;
  // Applied, then measured as the state carries it: a change that could not be saved
  // or sent is put back whole, before the file is written.
  const vesk::json before = cfg.to_json();
  try {
    cfg.read(request["cfg"]);
  } catch (...) {
    cfg.read(before);
    throw;
  }
  if (!s.controller.state.take_prj_cfg(cfg, "write_prj_config")) return true;
  s.controller.save_project_config();
  if (cfg.on_update) cfg.on_update();
  return true;
}

bool write_vesk_config(session& s, vesk::json& request) {
  if (!session_commands::object_arg(request, "cfg")) return true;
  vesk_config& cfg = s.controller.state.vesk_config;
  // As for the project configuration: a text too long to save or send is put back.
  vesk::json before = cfg.to_json();
  vesk::json copy = request["cfg"];
  try {
    // Read as the file is: a key of the wrong type or one the configuration does not read
    // gets its line, and the others apply.
    log_place place("write_vesk_config:", log_place::source_line);
    cfg.take(copy, "\"cfg\"");
  } catch (...) {
    cfg.from_json(before);
    throw;
  }
  if (!fits_in_state(cfg.to_json(), 2, "write_vesk_config")) {
    cfg.from_json(before);
    return true;
  }
  cfg.save();
  if (cfg.on_update) cfg.on_update();
  return true;
}

bool get_perspective(session& s, vesk::json& request) {
  vesk::json reply{{"cmd", "get_perspective"}};
  vesk::json& doc = s.controller.perspectives.document;
  std::string model;
  if (!session_commands::text_arg(request, "mdl", model, true)) return true;
  if (doc.is_object() && doc.contains(model)) {
    reply["perspective"] = doc[model];
  } else {
    reply["perspective"] = vesk::json{{"scale", -1.0}};
  }
  s.send(reply);
  return true;
}

bool set_perspective(session& s, vesk::json& request) {
  // The perspective itself is the editor's own, of any kind; only the model's name is checked.
  std::string model;
  if (!session_commands::text_arg(request, "mdl", model, true)) return true;
  s.controller.perspectives.set(model, std::move(request["perspective"]));
  return true;
}

bool complete(session&, vesk::json&) {
  log_err << "completion disabled" << std::endl;
  return true;
}

/// The command words in the order they are tested.
const struct {
  const char* word;
  handler run;
} commands[] = {
    {"get_view_config", get_view_config},
    {"open_vcs_gui", open_vcs_gui},
    {"get_properties", get_properties},
    {"create_h_cpp", session_commands::create_h_cpp},
    {"open_file", session_commands::open_file},
    {"close_file", session_commands::close_file},
    {"add_save_point", session_commands::add_save_point},
    {"undo", session_commands::undo},
    {"redo", session_commands::redo},
    {"build", build},
    {"get_log_history", get_log_history},
    {"get_blk_list", get_blk_list},
    {"set_daq_list", set_daq_list},
    {"set_paq_list", set_paq_list},
    {"get_data_file", session_commands::get_data_file},
    {"save_dump_file", session_commands::save_dump_file},
    {"kill_build", kill_build},
    {"get_backend_state", get_backend_state},
    {"delete", session_commands::delete_file},
    {"write_prj_config", write_prj_config},
    {"write_vesk_config", write_vesk_config},
    {"get_perspective", get_perspective},
    {"set_perspective", set_perspective},
    {"clean_build_dir", session_commands::clean_build_dir},
    {"complete", complete},
};

/// Writes an exception that a message's handling raised to the error log.
template <class F>
void guarded(F f) {
  try {
    f();
  } catch (const std::exception& e) {
    log_err << "An exception occured: " << e.what() << std::endl;
  } catch (const char* text) {
    log_err << "An exception occured: " << text << std::endl;
  } catch (...) {
    log_err << "An unknown exception occured... " << std::endl;
  }
}

}  // namespace

session::session(std::shared_ptr<vesk::io::websocket_connection> conn, vesk::main_controller& owner)
    : controller(owner), connection(std::move(conn)) {
  connection->on_text = [this](std::string text) { on_text(std::move(text)); };
  connection->on_binary = [this](std::string data) { on_binary(std::move(data)); };
  connection->on_close = [this] { on_close(); };
  connection->queue_limit = queue_limit;
  connection->on_overflow = [this](size_t waiting) {
    // Set first: the warning is pushed to every editor, this one excepted.
    cut_off = true;
    log_warn << "The editor does not read what the back end sends: its connection was closed (" << waiting
             << " bytes waited to be sent)." << std::endl;
  };
}

session::~session() {
  // The connection may outlive this session for a moment in the glue's hands.
  connection->on_text = [](std::string) {};
  connection->on_binary = [](std::string) {};
  connection->on_close = [] {};
  connection->on_overflow = [](size_t) {};
}

// Input from the editor must never end the back end, and an exception that escaped into
// the WebSocket library would leave the connection deaf: every message is handled under
// its own guard, and the session stays alive until its handling returns.
void session::on_text(std::string text) {
  std::shared_ptr<session> keep = weak_from_this().lock();
  guarded([&] {
    vesk::json request;
    try {
      request = vesk::json::parse(text);
    } catch (const std::logic_error&) {  // the parser's number conversion: out of range, or no digits
      bad_number found;
      if (!find_bad_number(text, found)) throw;
      log_err << bad_number_line(found) << std::endl;
      return;
    }
    std::string().swap(text);  // parsed: a large message is not held twice while handled
    handle_command(std::move(request));
  });
}

void session::on_binary(std::string data) {
  std::shared_ptr<session> keep = weak_from_this().lock();
  guarded([&] {
    if (data.size() < 2) throw_bt_exception("Unable to convert memview. Size error");
    const uint16_t tag = static_cast<uint16_t>(static_cast<uint8_t>(data[0]) | static_cast<uint8_t>(data[1]) << 8);
    if (tag == 2) {
      controller.gateway.send_parameter_values(data.data() + 2, data.size() - 2);
    }
  });
}

void session::on_close() {
  std::shared_ptr<session> keep = weak_from_this().lock();
  guarded([&] {
    auto& list = controller.sessions;
    for (size_t i = list.size(); i-- > 0;) {
      if (!list[i]->connection->is_connected()) list.erase(list.begin() + static_cast<long>(i));
    }
    // Subscribers name sessions by position: both tables follow the new list.
    controller.gateway.update_daq();
    controller.gateway.update_paq();
  });
}

void session::handle_command(vesk::json request) {
  // A copy: handlers add members to the request, which may move the original.
  const vesk::json cmd = request["cmd"];
  for (const auto& c : commands) {
    if (cmd == c.word && c.run(*this, request)) return;
  }
  // The log entry keeps the first 64 KiB; a request whose text the indent would make
  // many times that (a deep nesting) is not written out only to be cut.
  constexpr size_t shown = size_t{1} << 20;
  if (indented_text_size(request, 0, shown) > shown) {
    log_err << "received unkonwn command: a request of more than " << shown << " bytes, not shown." << std::endl;
    return;
  }
  log_err << "received unkonwn command: " << request.dump("  ") << std::endl;
}

void session::send_read_file(const std::shared_ptr<managed_file>& file) {
  if (!file || in_save_point) return;
  // The text is copied once, straight into the reply (a list would copy it twice).
  // The content is never altered to fit: an editor that saved a repaired text would
  // overwrite the file's own bytes.
  if (!is_valid_utf8(file->content()) || !is_valid_utf8(file->path.string())) {
    const std::string note = "the file '" + escaped_text(file->path.string()) +
                             "' is not valid UTF-8 and cannot be sent to the editor as text.";
    if (peer_lines::admit()) io::write_error_line("vesk: ", note);
    return;
  }
  vesk::json reply{{"cmd", "read_file"}, {"file_name", file->path.string()}};
  reply["file"] = file->content();
  send(reply);
}

void session::send(const vesk::json& message) {
  if (!has_room()) return;
  // Measured first: a reply echoing a deeply nested value would be written at a size
  // that could never be sent.
  const std::string cmd = command_of(message);
  if (!fits_queue(indented_text_size(message, 0, connection->queue_limit), cmd)) return;
  send_text(message.dump("  "), cmd);
}

bool session::fits_queue(size_t size, const std::string& cmd) {
  // The frame's header takes up to 10 bytes more.
  const size_t limit = connection->queue_limit;
  if (limit == 0 || size + 10 < limit) return true;
  log_err << "The message \"" << replace_invalid_utf8(cmd) << "\" of " << size
          << " bytes was not sent to the editor: it is larger than the " << limit
          << " bytes that may wait to be sent on its connection." << std::endl;
  return false;
}

std::string command_of(const vesk::json& message) {
  if (!message.is_object()) return "";
  for (const vesk::json::member& m : message.object_members()) {
    if (m.first == "cmd" && m.second.is_string()) return m.second.get_string_ref();
  }
  return "";
}

void session::send_text(const std::string& text, const std::string& cmd) {
  if (!has_room() || !fits_queue(text.size(), cmd)) return;
  // The WebSocket library refuses a text message that is not UTF-8: one text of it (a
  // name from the file system) would lose the whole. It goes repaired, with a line (a file's
  // content never comes here so: send_read_file refuses it unaltered).
  if (!is_valid_utf8(text)) {
    const std::string note = "the message \"" + replace_invalid_utf8(cmd) +
                             "\" to the editor is not valid UTF-8: it is sent with each such byte replaced by U+FFFD.";
    // The editor may ask for such texts at any rate: the line counts against it.
    if (peer_lines::admit()) io::write_error_line("vesk: ", note);
    const std::string repaired = replace_invalid_utf8(text);
    if (!fits_queue(repaired.size(), cmd)) return;
    std::shared_ptr<vesk::io::websocket_connection> c = connection;
    c->send_text(repaired.data(), repaired.size());
    return;
  }
  std::shared_ptr<vesk::io::websocket_connection> c = connection;
  c->send_text(text.data(), text.size());
}

void session::send_binary(const std::string& message) {
  if (!has_room()) return;
  std::shared_ptr<vesk::io::websocket_connection> c = connection;
  c->send_binary(message.data(), message.size());
}

bool session::has_room() { return !cut_off; }

}  // namespace vesk
