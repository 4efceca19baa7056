#include "foundation/project_config.h"

#include <arpa/inet.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/json_file.h"
#include "foundation/json_reader.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace {

const json* first_member(const json& object, const std::string& key) {
  if (!object.is_object()) return nullptr;
  for (const auto& m : object.object_members())
    if (m.first == key) return &m.second;
  return nullptr;
}

// "model" and "runtime" are texts: null reads as the empty text, and a number as its JSON
// text, as the value's own conversion gives, with a warning.
const json* take_text(json_reader& reader, const json& cfg, const std::string& key) {
  const json* v = first_member(cfg, key);
  if (v != nullptr && v->is_number())
    return reader.take_lenient(key, {json::string_t}, "it is read as \"" + v->get_string() + "\"");
  return reader.take(key, {json::string_t, json::null_t});
}

// A runtime's configuration that is no object gives that runtime its defaults alone: read
// so, with a warning.
const char* const defaults_alone = "the runtime gets its defaults alone";

/// Checks the entries of "model_hosts" into `hosts`: one that is no text is an error
/// (false: the list is not applied), a text that is no IPv4 address a warning, left out.
bool take_hosts(const json& list, std::vector<std::string>& hosts, std::vector<read_finding>& findings) {
  bool applied = true;
  for (const json& entry : list.array_elements()) {
    const std::string subject = "Value " + written(entry) + " of key \"model_hosts\"";
    in_addr address{};
    if (!entry.is_string()) {
      findings.push_back({subject, std::string("is ") + (entry.is_array() || entry.is_object() ? "an " : "a ") +
                                       json_type_name(entry.type()) + ", expected a text", true});
      applied = false;
    } else if (::inet_pton(AF_INET, entry.get_string().c_str(), &address) != 1) {
      findings.push_back({subject, "is no IPv4 address (such as \"192.168.1.20\"): it is ignored"});
    } else {
      hosts.push_back(entry.get_string());
    }
  }
  return applied;
}

}  // namespace

void project_config_file::check_name(const std::filesystem::path& path) {
  if (!is_identifier(path.stem().string())) {
    throw std::runtime_error("Error opening '" + path.string() +
                             "'. A project configurations must have a c-compatible name ('[a-zA-Z][a-zA-Z0-9_]*').");
  }
}

project_config_file::project_config_file(std::filesystem::path path, bool strict) : file(path), strict_(strict) {
  name = path.stem().string();
  check_name(path);
  on_update = [] {};
  runtime_configs = json::make_object();
  file.on_change = [this] {
    const std::string error = load();
    if (!error.empty()) log_err << error << std::endl;
    if (on_update) on_update();
  };
  on_file_changed();
}

void project_config_file::read(json cfg) {
  if (cfg.contains("model")) model = cfg["model"].get_string();
  if (cfg.contains("runtime")) runtime = cfg["runtime"].get_string();
  if (cfg.contains("runtime_configs")) runtime_configs = cfg["runtime_configs"];
  if (cfg.contains("runtime_config")) runtime_configs[runtime] = cfg["runtime_config"];
}

std::string project_config_file::load() {
  json cfg;
  if (strict_) {
    std::string error;
    cfg = parse_json_file(file.path, file.content, error);
    if (!error.empty()) throw_bt_exception(error);
  } else {
    cfg = parse_json_file(file.path, file.content);
  }
  // Null (an empty file) has no keys to read; any other value that is no object is an error.
  json_reader reader(cfg);
  const json* new_model = take_text(reader, cfg, "model");
  const json* new_runtime = take_text(reader, cfg, "runtime");
  const json* configs = reader.take("runtime_configs", {json::object_t, json::null_t});
  const json* single = reader.take_lenient("runtime_config", {json::object_t, json::null_t}, defaults_alone);
  const json* hosts = reader.take("model_hosts", {json::array_t, json::null_t});
  reader.finish([] {
    return "a project configuration file reads model, runtime, runtime_configs, runtime_config, model_hosts";
  });
  std::vector<std::string> new_hosts;
  if (hosts != nullptr && hosts->is_array() && !take_hosts(*hosts, new_hosts, reader.findings)) hosts = nullptr;
  if (configs != nullptr && configs->is_object()) {
    json_reader entries(*configs, "\"runtime_configs\"");
    entries.take_all_lenient({json::object_t, json::null_t}, defaults_alone);
    reader.findings.insert(reader.findings.end(), entries.findings.begin(), entries.findings.end());
  }

  if (new_model != nullptr) model = new_model->get_string();
  if (new_runtime != nullptr) runtime = new_runtime->get_string();
  if (configs != nullptr) runtime_configs = *configs;
  if (single != nullptr) runtime_configs[runtime] = *single;
  if (hosts != nullptr) model_hosts = std::move(new_hosts);

  std::vector<read_finding> warnings;
  std::string errors;
  for (const read_finding& f : reader.findings) {
    if (!f.error)
      warnings.push_back(f);
    else
      errors += (errors.empty() ? "" : "; ") + f.subject + " " + f.outcome;
  }
  const std::string where = file.path.lexically_normal().string();
  {
    log_place place(where);
    write_findings(warnings);
  }
  return errors.empty() ? errors : "Error reading " + where + ": " + errors;
}

void project_config_file::on_file_changed() {
  const std::string error = load();
  if (!error.empty()) throw_bt_exception(error);
  if (on_update) on_update();
}

json project_config_file::to_json() const {
  json j;
  j["model"] = model;
  j["runtime"] = runtime;
  j["runtime_configs"] = runtime_configs;
  if (!model_hosts.empty()) {
    json& hosts = j["model_hosts"];
    for (const std::string& h : model_hosts) hosts.push_back(json(h));
  }
  return j;
}

}  // namespace vesk
