#include "compiler/compiler_node.h"

#include "compiler/compiler.h"
#include "generators/base_element_generator.h"

namespace vesk {

namespace {

// "inputs" and "default_values" are maps keyed by pin: written sorted, read with the
// first of duplicate keys winning.
json_link_element connections_link(std::map<std::string, node_connection>& m) {
  return json_link_element(
      "inputs",
      [&m] {
        vesk::json out = vesk::json::make_object();
        for (auto& [pin, c] : m) out[pin] = c.to_json();
        return out;
      },
      [&m](vesk::json v) {
        m.clear();
        for (auto it = v.begin(); it != v.end(); ++it) {
          vesk::json::item e = *it;
          if (m.count(e.key) != 0) continue;
          node_connection c;
          vesk::json copy(*e.value);
          c.from_json(copy);
          m.emplace(e.key, std::move(c));
        }
      });
}

json_link_element defaults_link(std::map<std::string, std::string>& m) {
  return json_link_element(
      "default_values",
      [&m] {
        vesk::json out = vesk::json::make_object();
        for (auto& [pin, text] : m) out[pin] = text;
        return out;
      },
      [&m](vesk::json v) {
        m.clear();
        for (auto it = v.begin(); it != v.end(); ++it) {
          vesk::json::item e = *it;
          if (m.count(e.key) == 0) m.emplace(e.key, e.value->get_string());
        }
      });
}

}  // namespace

void node_pos::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("x", x);
  links.emplace_back("y", y);
}

void node::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("name", name);
  links.emplace_back("type", type);
  links.emplace_back("cfg", cfg);
  links.emplace_back("pos", pos);
  links.emplace_back("raster", raster);
  links.emplace_back("rotate", rotate);
  links.emplace_back("comment_out", comment_out);
  links.push_back(connections_link(inputs));
  links.push_back(defaults_link(default_values));
}

compiler_node::compiler_node(vesk::json node_object, vesk::compiler* owner) : compiler(owner) {
  from_json(node_object);
  std::shared_ptr<vesk::generator> gen = compiler->find_generator(type);
  gen->set_name(name);
  // The generator is shared by all blocks of its type: give it this block's cfg before
  // asking for the form, or the defaults would be those of the block configured last.
  gen->set_config(cfg);
  for (const vesk::property& p : gen->get_properties()) {
    if (!p.key.empty() && !cfg.contains(p.key)) cfg[p.key] = p.def;
  }
  gen->set_config(cfg);
  config_warnings = gen->check_config();
  vesk::view_config view = gen->get_view_config();
  if (view.raster != "auto")
    raster = view.raster;
  else if (raster.empty())
    raster = "auto";
  input_pins = view.inputs;
  output_pins = view.outputs;
  members = view.members;
  has_error = view.error;
  error_text = view.error_string;
}

vesk::generator_mappings compiler_node::get_mappings() const {
  vesk::generator_mappings m;
  for (const auto& e : input_pins) m.inputs[e.key] = e.value.mapped_name;
  for (const auto& e : output_pins) m.outputs[e.key] = e.value.mapped_name;
  for (const auto& e : members) m.members[e.key] = e.value.mapped_name;
  return m;
}

std::string compiler_node::base_kind() const {
  if (type != "base" || !cfg.is_object()) return std::string();
  for (const auto& m : cfg.object_members())
    if (m.first == "node") return m.second.is_string() ? m.second.get_string_ref() : std::string();
  return std::string();
}

output_pin* compiler_node::reader_output(const std::string& pin) {
  // An "output" block has no "out" in its view: the pin is whatever reads it. An expanded
  // subsystem's read ports are checked against its port blocks when its border is rewired.
  if (is_base("output") || is_base("subsystem_ready_to_delete")) return &output_pins[pin];
  return output_pins.find(pin);
}

bool is_rate_transition(const compiler_node& n) { return n.is_base("rt") || n.is_base("fifo"); }

std::string rt_behavior(const compiler_node& n) {
  if (!n.cfg.is_object()) return rt_behaviors[0];
  for (const auto& m : n.cfg.object_members()) {
    if (m.first != "behavior") continue;
    for (const char* b : rt_behaviors)
      if (m.second == b) return b;
    break;  // the first of duplicate keys is the one read
  }
  return rt_behaviors[0];
}

}  // namespace vesk
