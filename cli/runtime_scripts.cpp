#include "cli/runtime_scripts.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "cli/file_write.h"
#include "cli/json_input.h"
#include "cli/script_process.h"
#include "foundation/json_reader.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"
#include "foundation/runtime_dir.h"
#include "generators/config_check.h"

namespace vesk {

namespace fs = std::filesystem;

bool is_plain_runtime_name(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  out += '\'';
  return out;
}

std::string script_command(const fs::path& build_dir, const std::string& script) {
  // The shell gives way to the script, so the process vesk-cli started is the script's
  // (and, once it execs it, the model's): a stop from the kernel reaches it directly.
  return "cd " + shell_quote(build_dir.string()) + " && exec ./" + script;
}

fs::path build_dir_of(const fs::path& project_folder, const std::string& project_name,
                      const std::string& runtime_name) {
  return project_folder / ("build-" + project_name + "-" + runtime_name);
}

fs::path project_folder_of(const fs::path& config_path) {
  return fs::absolute(config_path).lexically_normal().parent_path();
}

namespace {

/// Writes a "w: " line for each member of `settings` (the project's configuration for a
/// runtime, read from `config_path`) whose key the runtime's form lacks; nothing when
/// the runtime has no form, since it then says nothing about what it reads. The member
/// stays in config.json: a runtime may read more than its form shows.
void warn_unknown_settings(const json& settings, const std::vector<std::string>& form_keys,
                           const std::string& runtime_name, const fs::path& config_path) {
  if (form_keys.empty() || !settings.is_object()) return;
  for (const auto& [key, value] : settings.object_members()) {
    if (std::find(form_keys.begin(), form_keys.end(), key) != form_keys.end()) continue;
    log_warn << "Runtime setting \"" << key << "\" in " << config_path.string() << " is unknown to runtime '"
             << runtime_name << "', which does not read it (it is written to config.json all the same): its settings are "
             << name_list(form_keys) << std::endl;
  }
}

}  // namespace

namespace {

/// Puts the default of each entry of `form` (a runtime's "config_def.json", at
/// `form_file`) into `cfg` where it has no value; returns the keys the form names. An
/// entry not read as written is a "w: " line naming the file: the editor reads the other
/// members of an entry, a number key names the setting of its JSON text, any other key
/// that is no text names none.
std::vector<std::string> apply_form(json& form, json& cfg, const fs::path& form_file) {
  std::vector<std::string> keys;
  std::vector<read_finding> faults;
  size_t position = 0;
  for (auto item : form) {
    json& e = *item.value;
    const json* given = e.is_object() && e.contains("key") ? &e["key"] : nullptr;
    const bool number = given != nullptr && given->is_number();
    json_reader entry(e, "entry " + std::to_string(++position));
    const std::string read_as =
        number ? "it is read as \"" + given->get_string() + "\"" : std::string("the entry supplies no default");
    const json* key = entry.take_lenient("key", {json::string_t}, read_as);
    const json* value = entry.take("default");
    entry.take_all();
    for (read_finding& f : entry.findings) {
      if (f.error) f.outcome += ": it supplies no default";  // an entry that is no object
      f.error = false;
      faults.push_back(std::move(f));
    }
    if (key == nullptr || !(key->is_string() || key->is_number())) continue;
    keys.push_back(key->get_string());
    if (value != nullptr && !cfg.contains(keys.back())) cfg[keys.back()] = *value;
  }
  log_place place(form_file.string());
  write_findings(faults);
  return keys;
}

}  // namespace

void write_runtime_config(const fs::path& build_dir, const project_config_file& config,
                          const std::string& runtime_name) {
  runtime_dir rt(build_dir);
  json cfg;
  json configs = config.runtime_configs;
  if (configs.is_object() && configs.contains(runtime_name)) cfg = configs[runtime_name];
  if (!cfg.is_object()) cfg = json::make_object();
  const std::vector<std::string> form_keys = apply_form(rt.config_def, cfg, build_dir / "config_def.json");
  warn_unknown_settings(cfg, form_keys, runtime_name, config.file.path);
  write_text_file(build_dir / "config.json", cfg.dump("  "));
}

namespace {

int run_script(const fs::path& build_dir, const std::string& script, const line_filter& filter = nullptr) {
  // The children write to the same stdout; what we printed must come first.
  std::cout.flush();
  return run_script_command(script_command(build_dir, script), filter);
}

}  // namespace

const char* const failed_build_marker = "last-build-failed";
const char* const built_marker = "build-succeeded";

void note_build_result(const fs::path& build_dir, bool succeeded) {
  const fs::path marker = build_dir / failed_build_marker;
  std::error_code ec;
  if (succeeded) {
    fs::remove(marker, ec);
    write_if_changed(build_dir / built_marker, "A build of this directory succeeded; ./start has a program to run.\n");
  } else {
    write_text_file(marker, "The latest build of this directory failed (or was stopped).\n");
  }
}

int run_build_script(const fs::path& build_dir, const line_filter& filter) {
  log_info << "Build runtime..." << std::endl;
  const int status = run_script(build_dir, "build", filter);
  if (status != 0) log_err << "Error compiling model..." << std::endl;
  return status;
}

int start_runtime(const fs::path& config_path, bool built, bool checked) {
  std::unique_ptr<project_config_file> loaded;
  {
    std::optional<log_silencer> told;
    if (built) told.emplace(log_warn);
    loaded = read_project_config(config_path);
  }
  const project_config_file& config = *loaded;
  if (!is_plain_runtime_name(config.runtime)) {
    log_err << "Selected runtime '" << config.runtime << "' does not exists. in " << config.file.path.string()
            << std::endl;
    return -1;
  }
  const fs::path build_dir = build_dir_of(project_folder_of(config_path), config.name, config.runtime);
  // The shell would only report that it cannot enter the folder, and a wait status.
  std::error_code ec;
  if (!fs::is_directory(build_dir, ec)) {
    log_err << "The build directory '" << build_dir.string()
            << "' does not exist. Build the project first (vesk-cli -b)." << std::endl;
    return -1;
  }
  const bool failed = fs::exists(build_dir / failed_build_marker, ec);
  if (failed && !fs::exists(build_dir / built_marker, ec)) {
    // A first build that failed or was stopped: the start script would find nothing.
    const std::string text = "No build of '" + build_dir.string() + "' has succeeded yet: there is no program to start";
    if (checked) {
      log_err << text << ". Build the project first (vesk-cli -b)." << std::endl;
      return -1;
    }
    log_warn << text << "; ./start runs all the same (-nt)." << std::endl;
  } else if (failed) {
    log_warn << "The latest build of '" << build_dir.string()
             << "' failed: the program of the last successful build runs." << std::endl;
  }
  log_info << "Start runtime..." << std::endl;
  const int status = run_script(build_dir, "start");
  if (status != 0) log_err << "Error running model... Return code: " << status << std::endl;
  return status;
}

}  // namespace vesk
