// Node descriptions: construction from JSON, the key lists of the JSON form, and the
// small queries the parser and the generators ask of a node.

#include "annotations/block.h"

#include <utility>

namespace vesk::annotations {

namespace {

/// Applies `j` to a freshly built description; a null `j` leaves the defaults.
void read_json(json_link& target, const vesk::json& j) {
  if (j.is_null()) return;
  vesk::json copy = j;
  target.from_json(copy);
}

}  // namespace

call_arg::call_arg(std::string name, std::string type, std::string default_val)
    : name(std::move(name)), type(std::move(type)), default_val(std::move(default_val)) {}

void call_arg::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("name", name);
  links.emplace_back("type", type);
  links.emplace_back("default_val", default_val);
}

call::call(const vesk::json& j) { read_json(*this, j); }

void call::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("method_name", method_name);
  links.emplace_back("args", args);
  links.emplace_back("return_to", return_to);
  links.emplace_back("return_type", return_type);
}

std::string call::var_type(const std::string& var_name) const {
  if (return_to == var_name) return return_type;
  for (const call_arg& arg : args)
    if (arg.name == var_name) return arg.type;
  return "";
}

input::input(const vesk::json& j) { read_json(*this, j); }

void input::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("name", name);
  links.emplace_back("var_name", var_name);
  links.emplace_back("type", type);
  links.emplace_back("default", default_val);
  links.emplace_back("is_member", is_member);
}

output::output(const vesk::json& j) { read_json(*this, j); }

void output::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("name", name);
  links.emplace_back("var_name", var_name);
  links.emplace_back("type", type);
  links.emplace_back("is_member", is_member);
}

parameter::parameter(const vesk::json& j) { read_json(*this, j); }

void parameter::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("name", name);
  links.emplace_back("var_name", var_name);
  links.emplace_back("form", form);
  links.emplace_back("type", type);
  links.emplace_back("opts", opts);
  links.emplace_back("default", default_val);
}

bool parameter::is_string() {
  if (!default_val.empty() && default_val[0] == '"') return true;
  if (type.find("std::string") != std::string::npos) return true;
  return type.find("char") != std::string::npos && type.find('*') != std::string::npos;
}

void parameter::update_form() {
  if (is_string()) {
    form = "text";
    if (default_val.size() > 2 && default_val[0] == '"')
      default_val = default_val.substr(1, default_val.size() - 2);
    return;
  }
  if (type == "bool") {
    if (default_val.empty()) default_val = "false";
    form = "checkbox";
    return;
  }
  if (default_val.empty()) default_val = "{}";
  form = "text";
}

constant::constant(const vesk::json& j) { read_json(*this, j); }

void constant::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("name", name);
  links.emplace_back("var_name", var_name);
  links.emplace_back("value", value);
}

void block_base::get_links(std::vector<json_link_element>&) {}

void block_base::link_base_fields(std::vector<json_link_element>& links, bool project_first) {
  if (project_first) links.emplace_back("project", project);
  links.emplace_back("name", name);
  if (!project_first) links.emplace_back("project", project);
  links.emplace_back("header", header);
  links.emplace_back("nspace", nspace);
  links.emplace_back("info", info);
  links.emplace_back("raster", raster);
  links.emplace_back("file_name", file_name);
  links.emplace_back("line_nr", line_nr);
  links.emplace_back("inputs", inputs);
  links.emplace_back("outputs", outputs);
  links.emplace_back("parameters", parameters);
  links.emplace_back("constants", constants);
  links.emplace_back("libs", libs);
  links.emplace_back("additional_files", additional_files);
}

std::string block_base::get_var_type(const std::string&) { return ""; }

block_class::block_class(const vesk::json& j) { read_json(*this, j); }

void block_class::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("class", class_name);
  links.emplace_back("has_raster_interval_var", has_raster_interval_var);
  links.emplace_back("has_node_name_var", has_node_name_var);
  link_base_fields(links, true);
  links.emplace_back("construct", construct);
  links.emplace_back("init_calls", init_calls);
  links.emplace_back("tick_calls", tick_calls);
  links.emplace_back("final_calls", final_calls);
}

std::string block_class::get_var_type(const std::string& var_name) {
  for (const std::vector<call>* calls : {&tick_calls, &init_calls, &final_calls}) {
    for (const call& c : *calls) {
      std::string type = c.var_type(var_name);
      if (!type.empty()) return type;
    }
  }
  return "";
}

block_function::block_function(const vesk::json& j) { read_json(*this, j); }

void block_function::get_links(std::vector<json_link_element>& links) {
  link_base_fields(links, false);
  links.emplace_back("function", function);
}

std::string block_function::get_var_type(const std::string& var_name) {
  return function.var_type(var_name);
}

}  // namespace vesk::annotations
