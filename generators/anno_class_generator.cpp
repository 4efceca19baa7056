#include "generators/anno_class_generator.h"

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "foundation/helpers.h"
#include "generators/code_text.h"
#include "generators/config_check.h"

namespace vesk {

const vesk::annotations::block_lists& lists_or_empty(const vesk::annotations::block_lists* lists) {
  static const vesk::annotations::block_lists empty;
  return lists != nullptr ? *lists : empty;
}

std::vector<vesk::property> parameter_properties(const vesk::annotations::block_base& node) {
  std::vector<vesk::property> props;
  for (const auto& p : node.parameters)
    props.emplace_back(p.name, p.form, vesk::json(p.default_val), vesk::json::parse(p.opts));
  return props;
}

std::vector<vesk::config_warning> check_node_config(const vesk::json& cfg, const vesk::annotations::block_base& node,
                                                    const char* name_key, const std::string& what) {
  // A node that is not found is a block error of its own; its keys cannot be told.
  if (node.not_found) return {};
  std::vector<std::string> params;
  for (const auto& p : node.parameters) params.push_back(p.name);
  vesk::json_reader r(cfg);
  take_text(r, name_key);
  take_text(r, "prj");
  for (const auto& p : node.parameters)
    if (p.form == "checkbox")
      take_checkbox(r, p.name);
    else
      take_text(r, p.name);
  r.finish([&] {
    return params.empty() ? what + " has no parameters" : "the parameters of " + what + " are " + name_list(params);
  });
  return std::move(r.findings);
}

std::vector<std::string> node_headers(const vesk::annotations::block_base& node) {
  if (node.header.empty()) return {};
  return {node.header};
}

std::vector<std::string> node_sources(const vesk::annotations::block_base& node) {
  std::vector<std::string> sources = node.additional_files;
  if (node.header.empty()) return sources;
  std::filesystem::path header(node.header);
  if (!path_exists(header)) return sources;
  std::filesystem::path source = header;
  source.replace_extension("cpp");
  if (path_exists(source)) sources.push_back(source.string());
  return sources;
}

anno_class_generator::anno_class_generator(const vesk::annotations::block_lists* lists)
    : blocks(lists) {}

vesk::annotations::block_class anno_class_generator::lookup() {
  return vesk::annotations::find_block_class(lists_or_empty(blocks), cfg);
}

std::vector<vesk::property> anno_class_generator::get_properties() {
  return parameter_properties(lookup());
}

vesk::view_config anno_class_generator::get_view_config() {
  vesk::annotations::block_class node = lookup();
  vesk::view_config view("no name", "auto");
  view.default_name = node.class_name;
  view.raster = node.raster;
  view.file_name = node.file_name;
  view.line_nr = node.line_nr;
  view.raster_line = node.raster_line;
  view.search_str = node.class_name + "::";
  if (!node.tick_calls.empty()) view.search_str += node.tick_calls.front().method_name;

  // Fillers: a node may have thousands of pins, and the maps' own lookup is linear.
  hash_vector_filler<vesk::input_pin> in_pins(view.inputs, node.inputs.size());
  hash_vector_filler<vesk::output_pin> out_pins(view.outputs, node.outputs.size());
  for (const auto& in : node.inputs) {
    vesk::input_pin pin(in.type);
    pin.default_value = in.default_val;
    pin.is_member = in.is_member ? 1 : 0;
    pin.var_name = in.var_name;
    in_pins[in.name] = std::move(pin);
  }
  for (const auto& out : node.outputs) {
    vesk::output_pin pin(out.type, "block");
    pin.is_member = out.is_member;
    pin.var_name = out.var_name;
    out_pins[out.name] = std::move(pin);
  }

  // Constructor arguments name parameters or constants by their variable;
  // a parameter's value is kept in the configuration under its form name.
  std::string args;
  for (size_t i = 0; i < node.construct.args.size(); ++i) {
    const std::string& arg = node.construct.args[i].name;
    if (i > 0) args += ", ";
    if (const auto* p = find_item(node.parameters, &vesk::annotations::parameter::var_name, arg))
      args += stream_text(cfg[p->name], std::ostringstream());
    else if (const auto* c = find_item(node.constants, &vesk::annotations::constant::var_name, arg))
      args += c->value;
    else
      throw std::runtime_error("Unable to get fetch constant: " + arg);
  }
  // The instance is declared with the C++ class, which may differ from the
  // node's display name. A class that was not found has no type.
  std::string type = node.not_found ? std::string() : node.nspace + node.class_name;
  view.members["obj"] = vesk::data_member{type, "obj", args, ""};

  if (node.not_found) {
    view.error = true;
    view.error_string = "Node not found. Class name: '" + cfg["class"].get_string() + "' prj: '" +
                        cfg["prj"].get_string() + "'";
  }
  return view;
}

std::vector<vesk::config_warning> anno_class_generator::check_config() {
  vesk::annotations::block_class node = lookup();
  return check_node_config(cfg, node, "class", "class " + written(vesk::json(node.class_name)));
}

std::vector<std::string> anno_class_generator::get_sources() { return node_sources(lookup()); }

std::vector<std::string> anno_class_generator::get_headers() { return node_headers(lookup()); }

std::vector<std::string> anno_class_generator::get_libs() { return lookup().libs; }

bool anno_class_generator::has_raster_interval() { return lookup().has_raster_interval_var; }

bool anno_class_generator::has_poll() {
  const vesk::annotations::block_class node = lookup();
  return !node.not_found && !node.poll_calls.empty();
}

void anno_class_generator::write_call(const vesk::annotations::call& c,
                                      const vesk::annotations::block_class& node, std::ostream& os) {
  if (!c.return_to.empty()) os << find_mapping(c.return_to) << " = ";
  os << members["obj"] << "." << c.method_name << "(";
  for (size_t i = 0; i < c.args.size(); ++i) {
    if (i > 0) os << ", ";
    const std::string& arg = c.args[i].name;
    argument_ref ref = find_argument(node, arg);
    if (ref.constant != nullptr)
      os << ref.constant->value;
    else if (ref.parameter != nullptr)
      os << cfg[ref.parameter->name];
    else
      os << find_mapping(arg);
  }
  os << ");" << std::endl;
}

void anno_class_generator::write_init(std::ostream& os) {
  vesk::annotations::block_class node = lookup();
  const std::string& obj = members["obj"];
  if (node.has_raster_interval_var) os << obj << ".raster_interval = this->interval;" << std::endl;
  if (node.has_node_name_var)
    os << obj << ".node_name = \"" << escape_cpp_string(name) << "\";" << std::endl;
  for (auto& p : node.parameters)
    os << obj << "." << p.var_name << " = " << parameter_value_text(p, cfg[p.name], os) << ";"
       << std::endl;
  for (const auto& c : node.init_calls) write_call(c, node, os);
}

void anno_class_generator::write_tick(std::ostream& os) {
  vesk::annotations::block_class node = lookup();
  for (const auto& in : node.inputs)
    if (!in.is_member)
      os << members["obj"] << "." << in.var_name << " = " << inputs[in.name] << ";" << std::endl;
  for (const auto& c : node.tick_calls) write_call(c, node, os);
  for (const auto& out : node.outputs)
    if (!out.is_member)
      os << outputs[out.name] << " = " << members["obj"] << "." << out.var_name << ";" << std::endl;
}

void anno_class_generator::write_final(std::ostream& os) {
  vesk::annotations::block_class node = lookup();
  for (const auto& c : node.final_calls) write_call(c, node, os);
}

}  // namespace vesk
