#pragma once
// The settings of one run, read from "config.json" in the build directory (the project's
// runtime configuration completed with the defaults of "config_def.json").
#include <cstdint>
#include <string>

#include "json_reader.h"

namespace linux_runtime {

/// What "config.json" asks of a run.
struct run_config {
  /// Length of the run in nanoseconds; 0 runs until a stop signal ("run_time_s").
  int64_t run_ns = 0;
  /// Display names of the signals to print: "*" all, "" none, else names separated by
  /// commas or blanks ("print_signals").
  std::string print_signals = "*";
  /// Period of the printed lines in nanoseconds; 0 prints only the final line
  /// ("print_interval_ms").
  int64_t print_interval_ns = 1000000000;
};

/// Settings from a parsed "config.json"; `file` names it in messages. Unknown keys are
/// ignored, missing keys keep their defaults. Throws std::runtime_error on a bad value.
run_config config_from_json(const json_value& cfg, const std::string& file);

/// Settings from the file at `path`; defaults when it does not exist. Throws
/// std::runtime_error naming the file when it cannot be read or holds a bad value.
run_config load_run_config(const std::string& path);

}  // namespace linux_runtime
