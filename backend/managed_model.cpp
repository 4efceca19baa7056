#include <cmath>
#include <exception>
#include <string>
#include <unordered_set>
#include <utility>

#include "backend/main_controller.h"
#include "backend/managed_file.h"
#include "foundation/json_file.h"
#include "foundation/json_reader.h"
#include "foundation/keyed_hash.h"
#include "foundation/log_stream.h"

namespace fs = std::filesystem;

namespace vesk {

namespace {

enum class port_kind { none, input, output };

// Whether `node` of a model's "nodes" is a base input or output node. Anything of another
// shape is no port: a hand-edited model must not take the back end down.
port_kind kind_of(vesk::json& node) {
  if (!node.is_object() || !(node["type"] == "base")) return port_kind::none;
  vesk::json& cfg = node["cfg"];
  if (!cfg.is_object()) return port_kind::none;
  if (cfg["node"] == "input") return port_kind::input;
  if (cfg["node"] == "output") return port_kind::output;
  return port_kind::none;
}

// The port's name; false for a name that is no text or number.
bool name_of(vesk::json& node, std::string& name) {
  vesk::json& n = node["name"];
  if (n.is_object() || n.is_array() || n.is_bool()) return false;
  name = n.get_string();
  return true;
}

// Whether the model declares itself a node: "model_is_node" read as a number is not 0
// (NaN included). A value that cannot be read as a number is logged and means no node.
bool declares_node(vesk::json& j, const fs::path& path) {
  if (!j.is_object() || !j.contains("model_is_node")) return false;
  try {
    double d = j["model_is_node"].get_double();
    return d != 0 || std::isnan(d);
  } catch (const std::exception&) {
    // The reader's own text ("stod") names neither key nor value.
    log_err << "Value " << written(j["model_is_node"]) << " of key \"model_is_node\" in model file " << path.string()
            << " is no number: the model is no block of other models (1 makes it one, 0 not)" << std::endl;
    return false;
  }
}

/// A set of the names a model file chooses.
using name_set = std::unordered_set<std::string, vesk::name_hasher>;

// The names of an object's members.
name_set keys_of(const vesk::json& object) {
  name_set keys;
  for (const auto& m : object.object_members()) keys.insert(m.first);
  return keys;
}

// Adds every port of the model's nodes to `ports` (value true, in node order, a repeated
// name once, where it first appears). A set finds the repeats: a lookup in the object
// itself would be linear per port, quadratic over a model of many ports.
void fill_ports(vesk::json& j, vesk::json& ports) {
  if (!j.is_object()) return;
  vesk::json* lists[2] = {&ports["inputs"], &ports["outputs"]};
  name_set seen[2] = {keys_of(*lists[0]), keys_of(*lists[1])};
  for (auto item : j["nodes"]) {
    vesk::json& node = *item.value;
    port_kind k = kind_of(node);
    std::string name;
    if (k == port_kind::none || !name_of(node, name)) continue;
    const int list = k == port_kind::input ? 0 : 1;
    if (seen[list].insert(name).second) lists[list]->object_members().emplace_back(std::move(name), true);
  }
}

}  // namespace

managed_model::managed_model(const fs::path& p, vesk::main_controller& owner, std::string project_name)
    : managed_file(p, owner), project(std::move(project_name)) {
  is_node = false;
  node_ports = vesk::json{{"inputs", vesk::json::make_object()}, {"outputs", vesk::json::make_object()}};
  model_name = path.stem().string();
  vesk::json j = parse_json_file(path, content());
  if (declares_node(j, path)) {
    is_node = true;
    fill_ports(j, node_ports);
  }
}

managed_model::~managed_model() = default;

void managed_model::settle() {
  managed_file::settle();
  compute_node_ports();
}

void managed_model::add_save_point(std::string text, bool write_to_disk) {
  managed_file::add_save_point(std::move(text), write_to_disk);
  compute_node_ports();
}

void managed_model::compute_node_ports() {
  vesk::json j = parse_json_file(path, content());
  if (!declares_node(j, path)) {
    if (!is_node) return;
    is_node = false;
  } else {
    bool changed = !is_node;
    is_node = true;
    model_name = path.stem().string();
    size_t inputs = 0, outputs = 0;
    name_set known_names[2] = {keys_of(node_ports["inputs"]), keys_of(node_ports["outputs"])};
    for (auto item : j["nodes"]) {
      vesk::json& node = *item.value;
      port_kind k = kind_of(node);
      std::string name;
      if (k == port_kind::none || !name_of(node, name)) continue;
      (k == port_kind::input ? inputs : outputs)++;
      if (known_names[k == port_kind::input ? 0 : 1].insert(name).second) changed = true;
    }
    // Same declaration, no new name and the same counts: the ports are as they were.
    if (!changed && node_ports["outputs"].size() == outputs && node_ports["inputs"].size() == inputs) return;
  }
  node_ports["inputs"] = vesk::json::make_object();
  node_ports["outputs"] = vesk::json::make_object();
  fill_ports(j, node_ports);
  controller.send_block_list();
}

}  // namespace vesk
