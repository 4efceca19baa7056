#include "compiler/compiler_node.h"

#include <algorithm>
#include <functional>
#include <set>

#include "compiler/compiler.h"
#include "foundation/key_index.h"
#include "generators/base_element_generator.h"
#include "generators/config_check.h"

namespace vesk {

namespace {

const std::vector<vesk::json::type_t> object_or_null = {vesk::json::object_t, vesk::json::null_t};

// "inputs" and "default_values" are maps keyed by pin: written sorted, read with the
// first of duplicate keys winning. Each value is read checked; what the reading finds
// goes to `found`.
template <typename T>
void read_pin_map(const vesk::json& v, const char* key, const std::vector<vesk::json::type_t>& types,
                  std::map<std::string, T>& m, std::vector<vesk::read_finding>& found,
                  const std::function<bool(const std::string&, const vesk::json&, T&)>& read_one) {
  m.clear();
  vesk::json_reader r(v, written(vesk::json(key)));
  std::set<std::string> seen;
  if (v.is_object())
    for (const auto& member : v.object_members()) {
      if (!seen.insert(member.first).second) continue;
      const vesk::json* value = r.take(member.first, types);
      T one;
      if (value != nullptr && read_one(member.first, *value, one)) m.emplace(member.first, std::move(one));
    }
  found.insert(found.end(), r.findings.begin(), r.findings.end());
}

json_link_element connections_link(std::map<std::string, node_connection>& m, std::vector<vesk::read_finding>& found) {
  json_link_element link(
      "inputs",
      [&m] {
        vesk::json out = vesk::json::make_object();
        for (auto& [pin, c] : m) out[pin] = c.to_json();
        return out;
      },
      [&m, &found](vesk::json v) {
        read_pin_map<node_connection>(
            v, "inputs", {vesk::json::object_t}, m, found,
            [&found](const std::string& pin, const vesk::json& value, node_connection& c) {
              vesk::json copy(value);
              vesk::json_reader r(copy, "input " + written(vesk::json(pin)));
              c.from_json(copy, r);
              r.finish([] { return "a connection reads node, pin"; });
              found.insert(found.end(), r.findings.begin(), r.findings.end());
              return !r.failed();
            });
      });
  link.types = object_or_null;
  return link;
}

json_link_element defaults_link(std::map<std::string, std::string>& m, std::vector<vesk::read_finding>& found) {
  json_link_element link(
      "default_values",
      [&m] {
        vesk::json out = vesk::json::make_object();
        for (auto& [pin, text] : m) out[pin] = text;
        return out;
      },
      [&m, &found](vesk::json v) {
        // C++ text, or a number with the digits written.
        read_pin_map<std::string>(v, "default_values", text_types(), m, found,
                                  [](const std::string&, const vesk::json& value, std::string& text) {
                                    text = value.is_number() ? number_as_written(value.get_double())
                                                             : value.get_string();
                                    return true;
                                  });
      });
  link.types = object_or_null;
  return link;
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
  links.back().types = object_or_null;
  links.emplace_back("pos", pos);
  links.emplace_back("raster", raster);
  links.emplace_back("rotate", rotate);
  links.emplace_back("comment_out", comment_out);
  links.push_back(connections_link(inputs, read_findings));
  links.push_back(defaults_link(default_values, read_findings));
}

compiler_node::compiler_node(vesk::json node_object, vesk::compiler* owner) : compiler(owner) {
  vesk::json_reader reader(node_object);
  from_json(node_object, reader);
  reader.finish([this] {
    std::vector<json_link_element> links;
    get_links(links);
    std::vector<std::string> keys;
    for (const json_link_element& l : links) keys.push_back(l.name);
    return "a block has the keys " + name_list(keys);
  });
  config_warnings = std::move(read_findings);
  read_findings.clear();
  config_warnings.insert(config_warnings.end(), reader.findings.begin(), reader.findings.end());
  // A block read wrong is refused by its maker; its generator is not asked.
  if (reader.failed() || std::any_of(config_warnings.begin(), config_warnings.end(),
                                     [](const vesk::read_finding& f) { return f.error; }))
    return;
  std::shared_ptr<vesk::generator> gen = compiler->find_generator(type);
  gen->set_name(name);
  // The generator is shared by all blocks of its type: give it this block's cfg before
  // asking for the form, or the defaults would be those of the block configured last.
  gen->set_config(cfg);
  for (const vesk::property& p : gen->get_properties()) {
    if (!p.key.empty() && !cfg.contains(p.key)) cfg[p.key] = p.def;
  }
  gen->set_config(cfg);
  // What cannot compile matters only for a block that is compiled.
  bool refused = false;
  for (vesk::read_finding& f : gen->check_config())
    if (!f.error || !comment_out) {
      refused = refused || f.error;
      config_warnings.push_back(std::move(f));
    }
  // A configuration read wrong is refused with its finding, which names key and value;
  // the view would read it as something else or throw a bare type error.
  if (refused) return;
  // A number becomes code with the digits the user wrote, not in the writer's form.
  if (cfg.is_object())
    for (auto& [key, value] : cfg.object_members())
      if (value.is_number()) value = vesk::json(number_as_written(value.get_double()));
  gen->set_config(cfg);
  vesk::view_config view = gen->get_view_config();
  if (view.raster != "auto") {
    raster = view.raster;
    if (!view.file_name.empty())
      raster_origin = view.file_name + ":" + std::to_string(view.raster_line ? view.raster_line : view.line_nr);
  } else if (raster.empty()) {
    raster = "auto";
  }
  input_pins = view.inputs;
  output_pins = view.outputs;
  members = view.members;
  has_error = view.error;
  error_text = view.error_string;
  // The inputs by name, once: a block of many pins and many default values would otherwise
  // scan its inputs for each value.
  vesk::key_index input_at([this](size_t i) { return std::string_view(input_pins[i].key); }, input_pins.size());
  if (!default_values.empty())
    for (size_t i = 0; i < input_pins.size(); ++i) input_at.insert(input_pins[i].key, i);
  std::vector<std::string> pins;
  for (const auto& [pin, text] : default_values) {
    if (input_at.find(pin) != vesk::key_index::none) continue;
    if (pins.empty())
      for (const auto& in : input_pins) pins.push_back(in.key);
    config_warnings.push_back({"Default value " + written(vesk::json(text)) + " of input " + written(vesk::json(pin)),
                               "is ignored: the block has no such input" +
                                   (pins.empty() ? std::string(" and no other") : "; its inputs are " + name_list(pins))});
  }
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

output_pin* compiler_node::reader_output(const std::string& pin, hash_vector_filler<output_pin>& outputs) {
  if (is_base("output") || is_base("subsystem_ready_to_delete")) return &outputs[pin];
  return outputs.find(pin);
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
