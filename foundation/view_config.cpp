#include "foundation/view_config.h"

namespace vesk {

void node_connection::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("node", node);
  links.emplace_back("pin", pin);
}

void input_pin::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("type", type);
  links.emplace_back("default_value", default_value);
}

void output_pin::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("type", type);
  links.emplace_back("raster", raster);
}

void form_select_entry::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("value", value);
  links.emplace_back("key", key);
  links.emplace_back("selected", selected);
}

void property::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("key", key);
  links.emplace_back("default", def);
  links.emplace_back("form", form);
  links.emplace_back("form_opts", form_opts);
  links.emplace_back("lbl", lbl);
  links.emplace_back("min", min);
  links.emplace_back("max", max);
}

void view_config::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("default_name", default_name);
  links.emplace_back("raster", raster);
  links.emplace_back("file_name", file_name);
  links.emplace_back("search_str", search_str);
  links.emplace_back("line_nr", line_nr);
  links.emplace_back("inputs", inputs);
  links.emplace_back("outputs", outputs);
  links.emplace_back("error", error);
  links.emplace_back("error_string", error_string);
}

}  // namespace vesk
