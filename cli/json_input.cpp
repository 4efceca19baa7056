#include "cli/json_input.h"

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/json_file.h"

namespace vesk {

namespace fs = std::filesystem;

std::unique_ptr<project_config_file> read_project_config(const fs::path& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    throw_bt_exception("'" + path.string() + "' is a folder; give the project's .vcfg file instead");
  }
  return std::make_unique<project_config_file>(path, true);
}

json read_model_file(const fs::path& path) {
  const std::string text = read_file(path.string());
  // An empty file would compile to an empty program and replace the last good one.
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    throw_bt_exception(path.string() + ": holds no JSON value");
  }
  std::string error;
  json model = parse_json_file(path, text, error);
  if (!error.empty()) throw_bt_exception(error);
  return model;
}

}  // namespace vesk
