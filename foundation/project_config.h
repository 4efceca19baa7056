#pragma once
// The project configuration file (".vcfg"): which model of the project is built, for which
// runtime, and one configuration object per runtime. Watched on disk; the owner hears about
// every reload through on_update.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "foundation/fs_observer.h"
#include "foundation/json.h"

namespace vesk {

/// The loaded project configuration file, reloaded when it changes on disk.
class project_config_file {
 public:
  /// Checks the file name and loads the file (a missing file leaves everything empty).
  /// Throws std::runtime_error when the name without extension is not an identifier.
  /// `strict`: a text that does not parse throws, naming the file (the build tool stops);
  /// otherwise that message is logged and what the parser gave is applied. A member of
  /// the wrong type throws as on_file_changed does.
  explicit project_config_file(std::filesystem::path path, bool strict = false);
  project_config_file(const project_config_file&) = delete;
  project_config_file& operator=(const project_config_file&) = delete;

  /// Throws the constructor's std::runtime_error when the name of `path` without its
  /// extension is not an identifier: checked before a missing file is created.
  static void check_name(const std::filesystem::path& path);

  /// Takes "model", "runtime", "runtime_configs" and the older "runtime_config" (stored
  /// under the selected runtime) from `cfg`; absent keys leave their member as it is.
  void read(json cfg);
  /// Reload: parse, then the checked reading of the keys, then on_update. A key nothing
  /// reads, a key given twice and a number where a text belongs are warnings naming the
  /// file; a member of the wrong type is left out and, once the others are applied,
  /// throws "Error reading <file>: " + what was wrong, before on_update.
  void on_file_changed();
  /// {"model", "runtime", "runtime_configs"}, and "model_hosts" when it lists any: the
  /// form the file is written in.
  json to_json() const;

  /// File name without extension; an identifier.
  std::string name;
  /// Name of the model to build.
  std::string model;
  /// Name of the selected runtime.
  std::string runtime;
  /// Runtime name -> that runtime's configuration object.
  json runtime_configs;
  /// The hosts other than this machine whose models the model port serves ("model_hosts"):
  /// IPv4 address texts, as written; an entry that is no such address is left out with a
  /// warning.
  std::vector<std::string> model_hosts;
  /// The file on disk; its on_change reloads as on_file_changed does, but logs the error
  /// instead of throwing it, so that a poll reports a bad edit once and goes on.
  single_observed_file file;
  /// Called after every reload, changed values or not.
  std::function<void()> on_update;

 private:
  /// Parses the file and applies what it reads; returns the error text, "" for none.
  std::string load();
  bool strict_;
};

}  // namespace vesk
