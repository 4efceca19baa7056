#pragma once
// Reading the JSON files a build is made from (the project configuration, the model and
// the models it references) so that a syntax error stops the build. The parser reports
// such errors on log_err and goes on with what it could read; building that partial
// model would hide the error behind a "successful" build.

#include <filesystem>
#include <memory>

#include "foundation/json.h"
#include "foundation/project_config.h"

namespace vesk {

/// Loads the project configuration file. Throws vesk::util::bt_exception naming the file
/// when its text does not parse (parse_json_file's messages; the parser's own report still
/// comes first) or when the path is a folder, and the errors of project_config_file.
std::unique_ptr<project_config_file> read_project_config(const std::filesystem::path& path);

/// Reads and parses a model file; throws as read_project_config on a syntax error or a
/// text of blanks only ("<file>: holds no JSON value"), and read_file's exception when it
/// cannot be read.
json read_model_file(const std::filesystem::path& path);

}  // namespace vesk
