#pragma once
// A small JSON reader for the runtime's own files ("config.json", "compile_info.json").
// The runtime is built inside the build directory from its own sources and the shared
// headers only, so it carries this reader instead of linking the tool's JSON library.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace linux_runtime {

/// One JSON value; objects keep their members in file order.
struct json_value {
  enum kind_t { null_t, bool_t, number_t, string_t, array_t, object_t };

  kind_t kind = null_t;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<json_value> items;                               ///< array elements
  std::vector<std::pair<std::string, json_value>> members;     ///< object members

  /// The member `key` of an object; nullptr when absent or when this is no object.
  const json_value* find(const std::string& key) const;
};

/// Parses a whole JSON text. Throws std::runtime_error naming the line and the fault.
json_value parse_json(const std::string& text);

/// Reads and parses a file. Throws std::runtime_error naming the file on any fault.
json_value read_json_file(const std::string& path);

}  // namespace linux_runtime
