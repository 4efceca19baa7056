#include "generators/anno_func_generator.h"

#include <utility>

#include "generators/anno_class_generator.h"
#include "generators/code_text.h"
#include "generators/config_check.h"

namespace vesk {

anno_func_generator::anno_func_generator(const vesk::annotations::block_lists* lists)
    : blocks(lists) {}

vesk::annotations::block_function anno_func_generator::lookup() {
  return vesk::annotations::find_block_function(lists_or_empty(blocks), cfg);
}

std::vector<vesk::property> anno_func_generator::get_properties() {
  return parameter_properties(lookup());
}

vesk::view_config anno_func_generator::get_view_config() {
  vesk::annotations::block_function node = lookup();
  vesk::view_config view("no name", "auto");
  view.default_name = node.function.method_name;
  view.search_str = node.function.method_name;
  view.raster = node.raster;
  view.file_name = node.file_name;
  view.line_nr = node.line_nr;
  view.raster_line = node.raster_line;
  // Fillers: a node may have thousands of pins, and the maps' own lookup is linear.
  hash_vector_filler<vesk::input_pin> in_pins(view.inputs, node.inputs.size());
  hash_vector_filler<vesk::output_pin> out_pins(view.outputs, node.outputs.size());
  for (const auto& in : node.inputs) {
    vesk::input_pin pin("auto");
    pin.type = in.type;
    pin.default_value = in.default_val;
    in_pins[in.name] = std::move(pin);
  }
  for (const auto& out : node.outputs) out_pins[out.name] = vesk::output_pin(out.type, "block");
  if (node.not_found) {
    view.error = true;
    view.error_string = "Node not found. Function_name: '" + cfg["func"].get_string() +
                        "' prj: '" + cfg["prj"].get_string() + "'";
  }
  return view;
}

std::vector<vesk::config_warning> anno_func_generator::check_config() {
  vesk::annotations::block_function node = lookup();
  return check_node_config(cfg, node, "func", "function " + written(vesk::json(node.function.method_name)));
}

std::vector<std::string> anno_func_generator::get_sources() { return node_sources(lookup()); }

std::vector<std::string> anno_func_generator::get_headers() { return node_headers(lookup()); }

std::vector<std::string> anno_func_generator::get_libs() { return lookup().libs; }

void anno_func_generator::write_tick(std::ostream& os) {
  vesk::annotations::block_function node = lookup();
  const vesk::annotations::call& fn = node.function;
  if (!fn.return_to.empty()) os << find_mapping(fn.return_to) << " = ";
  os << node.nspace << fn.method_name << "(";
  for (size_t i = 0; i < fn.args.size(); ++i) {
    if (i > 0) os << ", ";
    const std::string& arg = fn.args[i].name;
    argument_ref ref = find_argument(node, arg);
    if (ref.constant != nullptr) {
      os << ref.constant->value;
    } else if (ref.parameter != nullptr) {
      // The value lives in the configuration under the parameter's name.
      vesk::annotations::parameter p = *ref.parameter;
      os << parameter_value_text(p, cfg[p.name], os);
    } else {
      os << find_mapping(arg);
    }
  }
  os << ");" << std::endl;
}

}  // namespace vesk
