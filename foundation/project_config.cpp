#include "foundation/project_config.h"

#include <stdexcept>
#include <utility>

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/json_file.h"

namespace vesk {

project_config_file::project_config_file(std::filesystem::path path, bool strict) : file(path), strict_(strict) {
  name = path.stem().string();
  if (!is_identifier(name)) {
    throw std::runtime_error("Error opening '" + path.string() +
                             "'. A project configurations must have a c-compatible name ('[a-zA-Z][a-zA-Z0-9_]*').");
  }
  on_update = [] {};
  runtime_configs = json::make_object();
  file.on_change = [this] { on_file_changed(); };
  on_file_changed();
}

void project_config_file::read(json cfg) {
  if (cfg.contains("model")) model = cfg["model"].get_string();
  if (cfg.contains("runtime")) runtime = cfg["runtime"].get_string();
  if (cfg.contains("runtime_configs")) runtime_configs = cfg["runtime_configs"];
  if (cfg.contains("runtime_config")) runtime_configs[runtime] = cfg["runtime_config"];
}

void project_config_file::on_file_changed() {
  json cfg;
  if (strict_) {
    std::string error;
    cfg = parse_json_file(file.path, file.content, error);
    if (!error.empty()) throw_bt_exception(error);
  } else {
    cfg = parse_json_file(file.path, file.content);
  }
  try {
    read(std::move(cfg));
  } catch (const std::exception& e) {
    throw_bt_exception("Error reading " + file.path.lexically_normal().string() + ": " + e.what());
  }
  if (on_update) on_update();
}

json project_config_file::to_json() const {
  json j;
  j["model"] = model;
  j["runtime"] = runtime;
  j["runtime_configs"] = runtime_configs;
  return j;
}

}  // namespace vesk
