#include "generators/base_element_generator.h"

#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

#include "foundation/file_stamp.h"
#include "foundation/helpers.h"
#include "foundation/json_file.h"
#include "foundation/log_stream.h"
#include "generators/code_text.h"
#include "generators/config_check.h"

namespace vesk {

const char* const rt_behaviors[3] = {"last", "fifo", "add"};

namespace {

vesk::json behavior_options() {
  return vesk::json{"options",
                    {{rt_behaviors[0], "keep last value"},
                     {rt_behaviors[1], "fifo: push_back() / clear()"},
                     {rt_behaviors[2], "add: += / start_value"}}};
}

model_read_budget* innermost_budget = nullptr;

// Every kind with the keys it reads beside "node" and the header keys; the model
// compiler reads some of them ("behavior", "default", "nodes", "prj", "mdl").
struct kind_keys {
  const char* kind;
  std::vector<std::string> keys;
};

const std::vector<kind_keys>& known_kinds() {
  static const std::vector<kind_keys> kinds = {
      {"delay", {"data_type", "start_value"}},
      {"rt", {"data_type", "start_value", "behavior"}},
      {"parameter", {"data_type", "default"}},
      {"input", {}},
      {"output", {}},
      {"subsystem", {"nodes"}},
      {"reference", {"prj", "mdl"}},
  };
  return kinds;
}

}  // namespace

model_read_budget::model_read_budget(size_t b) : bound(b), outer_(innermost_budget) { innermost_budget = this; }
model_read_budget::~model_read_budget() { innermost_budget = outer_; }
model_read_budget* model_read_budget::current() { return innermost_budget; }

base_element_generator::base_element_generator(std::string workspace)
    : workspace_dir(std::move(workspace)) {}

std::vector<vesk::property> base_element_generator::get_properties() {
  const vesk::json& node = cfg["node"];
  if (node == "delay") {
    return {{"data_type", "text", "double"}, {"start_value", "text", "0"}};
  }
  if (node == "rt") {
    return {{"data_type", "text", "double"},
            {"start_value", "text", "0"},
            {"type_header", "text", ""},
            {"behavior", "select", "last", behavior_options(), "behavior"}};
  }
  if (node == "parameter") {
    return {{"data_type", "text", "double"}, {"default", "text", "0"}, {"type_header", "text", ""}};
  }
  return {};
}

void add_port_pins(vesk::json& nodes, vesk::view_config& v) {
  // The port nodes are found first, so that each pin list is made once at its size.
  std::vector<const vesk::json*> in_names, out_names;
  for (auto it = nodes.begin(); it != nodes.end(); ++it) {
    vesk::json& item = *(*it).value;
    // Only objects can hold the members read below; other items are skipped
    // rather than turned into objects or failing on the member access.
    if (!item.is_object() || item["type"] != "base") continue;
    vesk::json& cfg = item["cfg"];
    if (!cfg.is_object() && !cfg.is_null()) continue;
    const vesk::json& kind = cfg["node"];
    if (kind == "input") {
      in_names.push_back(&item["name"]);
    } else if (kind == "output") {
      out_names.push_back(&item["name"]);
    }
  }
  hash_vector_filler<vesk::input_pin> inputs(v.inputs, in_names.size());
  for (const vesk::json* name : in_names) inputs[name->get_string()] = vesk::input_pin("auto");
  hash_vector_filler<vesk::output_pin> outputs(v.outputs, out_names.size());
  for (const vesk::json* name : out_names) outputs[name->get_string()] = vesk::output_pin("auto", "block");
}

vesk::view_config base_element_generator::get_view_config() {
  vesk::view_config v("no name", "auto");
  std::string kind = cfg["node"].is_string() ? cfg["node"].get_string() : std::string();
  if (kind == "delay") {
    v.default_name = "delay";
    std::string type = cfg["data_type"].get_string();
    std::string start = cfg["start_value"].get_string();
    v.inputs["in"] = vesk::input_pin("auto");
    v.outputs["out"] = vesk::output_pin(type, "block");
    v.members["mem"] = vesk::data_member{type, "mem", start, ""};
  } else if (kind == "subsystem") {
    v.default_name = "subsystem";
    v.raster = "";
    add_port_pins(cfg["nodes"], v);
  } else if (kind == "reference") {
    v.default_name = cfg["mdl"].get_string();
    v.raster = "";
    std::string path =
        workspace_dir + "/" + cfg["prj"].get_string() + "/models/" + cfg["mdl"].get_string() + ".vmdl";
    if (!path_exists(path)) {
      log_err << "Unable to open referenced model: " << path << std::endl;
      return v;
    }
    // One request may name the same models (or links to them) many times, in any order:
    // a file is read and parsed again only when it is not among the last ones read or has
    // changed. The ports of a model are few, so the cache costs little.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return v;
    struct read_model {
      file_stamp stamp;  ///< of the file when it was read
      vesk::view_config pins;
    };
    const file_stamp now = file_stamp::of(st);
    constexpr size_t cached_models = 256;
    static std::deque<read_model> cache;
    for (const read_model& m : cache) {
      if (m.stamp == now) {
        v.inputs = m.pins.inputs;
        v.outputs = m.pins.outputs;
        return v;
      }
    }
    model_read_budget* budget = model_read_budget::current();
    const size_t size = static_cast<size_t>(st.st_size);
    // A model past its own bound is not read at all: read_file below says so, as without a budget.
    if (budget != nullptr && size <= max_project_file_bytes &&
        (budget->passed || size > budget->bound || budget->read > budget->bound - size)) {
      budget->read += size;
      budget->passed = true;
      return v;
    }
    std::string text;
    try {
      text = read_file(path, max_project_file_bytes);
    } catch (const std::exception& e) {
      log_err << e.what() << std::endl;
      return v;
    }
    if (budget != nullptr) budget->read += text.size();
    vesk::json model = parse_json_file(path, text);
    // A model file that is not an object has no ports to offer.
    if (model.is_object()) add_port_pins(model["nodes"], v);
    cache.erase(std::remove_if(cache.begin(), cache.end(),
                               [&](const read_model& m) {
                                 return m.stamp.device == now.device && m.stamp.inode == now.inode;
                               }),
                cache.end());
    if (cache.size() >= cached_models) cache.pop_front();
    cache.push_back(read_model{now, vesk::view_config("", "")});
    cache.back().pins.inputs = v.inputs;
    cache.back().pins.outputs = v.outputs;
  } else if (kind == "input") {
    v.default_name = "in";
    v.outputs["out"] = vesk::output_pin("auto", "block");
  } else if (kind == "output") {
    v.default_name = "out";
    v.inputs["in"] = vesk::input_pin("auto");
  } else if (kind == "parameter") {
    v.default_name = "parameter";
    v.outputs["value"] = vesk::output_pin(cfg["data_type"].get_string(), "block");
  } else if (kind == "rt") {
    v.default_name = "rt";
    v.raster = "";
    v.inputs["in"] = vesk::input_pin("auto");
    v.outputs["out"] = vesk::output_pin(cfg["data_type"].get_string(), "block");
    v.members["rt"] = vesk::data_member{"not needed", "rt", "not needed", ""};
  }
  return v;
}

std::vector<vesk::config_warning> base_element_generator::check_config() {
  const vesk::json kind = cfg.is_object() ? cfg["node"] : vesk::json();
  std::vector<std::string> kinds;
  for (const kind_keys& k : known_kinds()) {
    if (!(kind == k.kind)) {
      kinds.push_back(k.kind);
      continue;
    }
    std::vector<std::string> known = {"node", "type_header", "container_header"};
    known.insert(known.end(), k.keys.begin(), k.keys.end());
    vesk::json_reader r(cfg);
    r.take("node");
    // Texts that become code; the rest is read by the compiler, which says how.
    for (const std::string& key : known)
      if (key == "behavior" || key == "nodes")
        r.take(key);
      else
        take_text(r, key);
    return block_findings(r, known, k.kind);
  }
  return {{"Kind " + written(kind), "is unknown, so the block has no pins and computes nothing: the kinds are " +
                                        name_list(kinds)}};
}

std::vector<std::string> base_element_generator::get_headers() { return configured_header(cfg); }

void base_element_generator::write_init(std::ostream& os) {
  if (!(cfg["node"] == "delay")) return;
  if (!cfg.contains("start_value")) return;
  vesk::json& start = cfg["start_value"];
  start.trim();
  if (start.is_string() && start != "") os << members["mem"] << " = " << start << ";" << std::endl;
}

void base_element_generator::write_tick(std::ostream& os) {
  if (!(cfg["node"] == "delay")) return;
  os << outputs["out"] << " = " << members["mem"] << ";" << std::endl;
}

}  // namespace vesk
