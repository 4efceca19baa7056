#include "foundation/project_config.h"

#include <stdexcept>
#include <utility>

#include "foundation/helpers.h"

namespace vesk {

project_config_file::project_config_file(std::filesystem::path path) : file(path) {
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
  read(json::parse(file.content));
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
