#include "cli/json_input.h"

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/json_file.h"

namespace vesk {

namespace fs = std::filesystem;

std::unique_ptr<project_config_file> read_project_config(const fs::path& path) {
  return std::make_unique<project_config_file>(path, true);
}

json read_model_file(const fs::path& path) {
  std::string error;
  json model = parse_json_file(path, read_file(path.string()), error);
  if (!error.empty()) throw_bt_exception(error);
  return model;
}

}  // namespace vesk
