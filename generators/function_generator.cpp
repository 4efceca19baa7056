#include "generators/function_generator.h"

#include <unordered_set>

#include "foundation/keyed_hash.h"
#include "generators/config_check.h"
#include "generators/template_filler.h"

namespace vesk {

namespace {

vesk::json raster_options() {
  static const std::pair<const char*, const char*> entries[] = {
      {"default", ""},
      {"r1ms", ""},
      {"r10ms", ""},
      {"r100ms", ""},
      {"first_connected_pin (default)", "first_con"},
      {"frame", ""},
  };
  vesk::json values;
  for (const auto& e : entries) values.push_back(vesk::form_select_entry(e.first, e.second).to_json());
  vesk::json opts = vesk::json::make_object();
  opts["values"] = std::move(values);
  return opts;
}

}  // namespace

std::vector<vesk::property> function_generator::get_properties() {
  return {
      {"function", "text", ""},          {"raster", "select", "first_con", raster_options()},
      {"inputs", "text", ""},            {"output_name", "text", "out"},
      {"output_type", "text", "double"}, {"header_file", "text", ""},
      {"include_dir", "text", ""},       {"source_file", "text", ""},
      {"source_dir", "text", ""},
  };
}

std::vector<vesk::config_warning> function_generator::check_config() {
  std::vector<vesk::config_warning> found = read_block_config(cfg, get_properties(), {}, "function");
  add_empty_function(cfg, found);
  // A name given twice is one pin, which the call would get once: "x, x" would call f(x),
  // another function than written (or one of a default argument).
  const vesk::json* inputs = nullptr;
  if (cfg.is_object())
    for (const auto& [key, value] : cfg.object_members())
      if (key == "inputs" && inputs == nullptr) inputs = &value;  // the first one is read
  if (inputs != nullptr && inputs->is_string()) {
    std::unordered_set<std::string> seen;
    for (const std::string& entry : split(inputs->get_string_ref(), ",")) {
      if (entry.empty() || seen.insert(entry).second) continue;
      found.push_back({"Value " + written(*inputs) + " of key \"inputs\"",
                       "names the input \"" + entry + "\" more than once: each name is one pin and one argument "
                       "of the call; name each input once",
                       true});
      break;
    }
  }
  return found;
}

std::vector<std::string> function_generator::input_names() {
  std::vector<std::string> names;
  std::unordered_set<std::string, name_hasher> seen;
  for (auto& entry : split(cfg["inputs"].get_string(), ",")) {
    if (entry.empty() || !seen.insert(entry).second) continue;
    names.push_back(entry);
  }
  return names;
}

vesk::view_config function_generator::get_view_config() {
  vesk::view_config v("no name", "auto");
  v.default_name = cfg["function"].get_string();
  vesk::json out = cfg["output_name"];
  if (out.is_string() && out != "void" && out != "") {
    std::string out_name = out.get_string();
    v.outputs[out_name] = vesk::output_pin(cfg["output_type"].get_string(), "block");
  }
  // input_names() holds each name once, so appending equals the keyed insert.
  for (const auto& in : input_names()) v.inputs.push_back({in, vesk::input_pin("double")});
  return v;
}

std::vector<std::string> function_generator::trimmed_entry(const char* key) {
  vesk::json& value = cfg[key];
  if (value.is_null()) value = vesk::json(std::string());
  if (value.is_string()) {
    value.trim();
    if (value != "") return {value.get_string()};
  }
  return {};
}

std::vector<std::string> function_generator::get_headers() { return trimmed_entry("header_file"); }

std::vector<std::string> function_generator::get_include_dirs() {
  return trimmed_entry("include_dir");
}

void function_generator::write_tick(std::ostream& os) {
  // Read before the output variable is looked up: reading may add members to cfg.
  std::vector<std::string> args = input_names();
  if (!outputs.empty()) os << outputs[cfg["output_name"].get_string()] << " = ";
  os << cfg["function"] << "(";
  for (size_t i = 0; i < args.size(); ++i) os << (i ? ", " : "") << inputs[args[i]];
  os << ");" << std::endl;
}

}  // namespace vesk
