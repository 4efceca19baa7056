#include "run_config.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <sys/stat.h>

namespace linux_runtime {

namespace {

// The editor's text fields store numbers as texts, so a text that is wholly a number
// counts as that number.
bool number_of(const json_value& v, double& out) {
  if (v.kind == json_value::number_t) {
    out = v.number;
    return true;
  }
  if (v.kind != json_value::string_t || v.text.empty()) return false;
  const char* begin = v.text.c_str();
  char* end = nullptr;
  size_t first = v.text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  out = std::strtod(begin + first, &end);
  while (*end == ' ' || *end == '\t') ++end;
  return end == begin + v.text.size() && end != begin + first;
}

// Reads a non-negative duration given in `unit_ns` nanoseconds per unit.
void read_duration(const json_value& cfg, const std::string& file, const char* key, double unit_ns,
                   int64_t& out) {
  const json_value* v = cfg.find(key);
  if (v == nullptr || v->kind == json_value::null_t) return;
  double d = 0;
  // The upper bound keeps the nanosecond count inside 64 bits (about 292 years).
  if (!number_of(*v, d) || !std::isfinite(d) || d < 0 || d * unit_ns > 9.2e18)
    throw std::runtime_error(file + ": \"" + key + "\" must be a number >= 0");
  out = static_cast<int64_t>(std::llround(d * unit_ns));
}

}  // namespace

run_config config_from_json(const json_value& cfg, const std::string& file) {
  if (cfg.kind != json_value::object_t) throw std::runtime_error(file + ": must hold a JSON object");
  run_config rc;
  read_duration(cfg, file, "run_time_s", 1e9, rc.run_ns);
  read_duration(cfg, file, "print_interval_ms", 1e6, rc.print_interval_ns);
  if (const json_value* v = cfg.find("print_signals")) {
    if (v->kind == json_value::string_t) {
      rc.print_signals = v->text;
    } else if (v->kind == json_value::array_t) {
      // A list of names is accepted as well as the text form.
      rc.print_signals.clear();
      for (const auto& item : v->items) {
        if (item.kind != json_value::string_t)
          throw std::runtime_error(file + ": \"print_signals\" must hold names as texts");
        rc.print_signals += item.text + ",";
      }
    } else if (v->kind != json_value::null_t) {
      throw std::runtime_error(file + ": \"print_signals\" must be a text of signal names");
    }
  }
  return rc;
}

run_config load_run_config(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return run_config();
  return config_from_json(read_json_file(path), path);
}

}  // namespace linux_runtime
