// Node descriptions: construction from JSON, the key lists of the JSON form, and the
// small queries the parser and the generators ask of a node.

#include "annotations/block.h"

#include <functional>
#include <utility>

namespace vesk::annotations {

namespace {

/// A binding with its own conversions; a missing key leaves the field as it is.
json_link_element make_element(const std::string& key, std::function<vesk::json()> get,
                               std::function<void(vesk::json)> set) {
  return json_link_element(key, std::move(get), std::move(set));
}

/// Calls `visit` for each element of an array, or each member value of an object (keys
/// ignored); any other kind of value has nothing to visit.
template <class Visit>
void for_each_value(vesk::json& value, Visit visit) {
  if (value.is_array()) {
    for (vesk::json& v : value.array_elements()) visit(v);
  } else if (value.is_object()) {
    for (auto& m : value.object_members()) visit(m.second);
  }
}

/// A list of descriptions: an array of objects, null when empty.
template <class T>
json_link_element link_list(const std::string& key, std::vector<T>& list) {
  std::vector<T>* target = &list;
  return make_element(
      key,
      [target] {
        vesk::json result;
        for (T& element : *target) result.push_back(element.to_json());
        return result;
      },
      [target](vesk::json value) {
        target->clear();
        for_each_value(value, [target](vesk::json& v) {
          T element;
          vesk::json copy = v;
          element.from_json(copy);
          target->push_back(std::move(element));
        });
      });
}

/// A list of texts: an array of strings, [] when empty.
json_link_element link_texts(const std::string& key, std::vector<std::string>& list) {
  std::vector<std::string>* target = &list;
  return make_element(
      key,
      [target] {
        vesk::json result = vesk::json::make_array(nullptr, 0);
        for (const std::string& text : *target) result.push_back(vesk::json(text));
        return result;
      },
      [target](vesk::json value) {
        target->clear();
        for_each_value(value, [target](vesk::json& v) { target->push_back(v.get_string()); });
      });
}

/// One embedded call: its object form; reading applies the keys to the existing call.
json_link_element link_call(const std::string& key, call& c) {
  call* target = &c;
  return make_element(
      key, [target] { return target->to_json(); },
      [target](vesk::json value) { target->from_json(value); });
}

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
  links.push_back(link_list("args", args));
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

void block_base::link_base_field(std::vector<json_link_element>& links,
                                 const std::string& key) {
  if (key == "name") links.emplace_back(key, name);
  else if (key == "project") links.emplace_back(key, project);
  else if (key == "header") links.emplace_back(key, header);
  else if (key == "nspace") links.emplace_back(key, nspace);
  else if (key == "info") links.emplace_back(key, info);
  else if (key == "raster") links.emplace_back(key, raster);
  else if (key == "file_name") links.emplace_back(key, file_name);
  else if (key == "line_nr") links.emplace_back(key, line_nr);
  else if (key == "inputs") links.push_back(link_list(key, inputs));
  else if (key == "outputs") links.push_back(link_list(key, outputs));
  else if (key == "parameters") links.push_back(link_list(key, parameters));
  else if (key == "constants") links.push_back(link_list(key, constants));
  else if (key == "libs") links.push_back(link_texts(key, libs));
  else if (key == "additional_files") links.push_back(link_texts(key, additional_files));
}

std::string block_base::get_var_type(const std::string&) { return ""; }

block_class::block_class(const vesk::json& j) { read_json(*this, j); }

void block_class::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("class", class_name);
  links.emplace_back("has_raster_interval_var", has_raster_interval_var);
  links.emplace_back("has_node_name_var", has_node_name_var);
  for (const char* key : {"project", "name", "header", "nspace", "info", "raster",
                          "file_name", "line_nr", "inputs", "outputs", "parameters",
                          "constants", "libs", "additional_files"})
    link_base_field(links, key);
  links.push_back(link_call("construct", construct));
  links.push_back(link_list("init_calls", init_calls));
  links.push_back(link_list("tick_calls", tick_calls));
  links.push_back(link_list("final_calls", final_calls));
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
  for (const char* key : {"name", "project", "header", "nspace", "info", "raster",
                          "file_name", "line_nr", "inputs", "outputs", "parameters",
                          "constants", "libs", "additional_files"})
    link_base_field(links, key);
  links.push_back(link_call("function", function));
}

std::string block_function::get_var_type(const std::string& var_name) {
  return function.var_type(var_name);
}

}  // namespace vesk::annotations
