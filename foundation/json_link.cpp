#include "foundation/json_link.h"

#include <cmath>
#include <limits>

int json_to_int(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 2147483647.0) return std::numeric_limits<int>::max();
  if (d <= -2147483648.0) return std::numeric_limits<int>::min();
  return static_cast<int>(d);
}

vesk::json json_link::to_json() {
  std::vector<json_link_element> links;
  get_links(links);
  vesk::json result;
  for (json_link_element& e : links) result[e.name] = e.get();
  return result;
}

void json_link::from_json(vesk::json& source) {
  std::vector<json_link_element> links;
  get_links(links);
  for (json_link_element& e : links) {
    if (source.is_null()) source = vesk::json::make_object();
    if (source.is_object()) {
      bool found = false;
      for (auto& m : source.object_members()) {
        if (m.first == e.name) {
          e.set(m.second);
          found = true;
          break;
        }
      }
      if (found) continue;
    }
    e.on_missing();
  }
}

void json_link::from_json(vesk::json& source, vesk::json_reader& reader) {
  std::vector<json_link_element> links;
  get_links(links);
  for (json_link_element& e : links) {
    // A member of the wrong type is the reader's finding and counts as missing.
    const vesk::json* v = e.types.empty() ? reader.take(e.name) : reader.take(e.name, e.types);
    if (v != nullptr)
      e.set(*v);
    else
      e.on_missing();
  }
  if (source.is_null()) source = vesk::json::make_object();
}

void json_link_element::bind(int& m) {
  types = {vesk::json::number_t};
  get = [&m] { return vesk::json(static_cast<double>(m)); };
  set = [&m](vesk::json v) { m = json_to_int(v.get_double()); };
}

void json_link_element::bind(double& m) {
  types = {vesk::json::number_t};
  get = [&m] { return vesk::json(m); };
  set = [&m](vesk::json v) { m = v.get_double(); };
}

void json_link_element::bind(bool& m) {
  types = {vesk::json::bool_t, vesk::json::number_t};
  get = [&m] { return vesk::json(m); };
  set = [&m](vesk::json v) { m = v.get_double() != 0; };  // NaN counts as true
}

void json_link_element::bind(std::string& m) {
  types = {vesk::json::string_t};
  get = [&m] { return vesk::json(m); };
  set = [&m](vesk::json v) { m = v.get_string(); };
}

void json_link_element::bind(vesk::json& m) {
  get = [&m] { return m; };
  set = [&m](vesk::json v) { m = std::move(v); };
}

void json_link_element::bind(json_link& m) {
  types = {vesk::json::object_t};
  get = [&m] { return m.to_json(); };
  set = [&m](vesk::json v) { m.from_json(v); };
}

void json_link_element::bind(std::vector<std::string>& m) {
  types = {vesk::json::array_t};
  // A list of texts: an array of strings, [] when empty.
  get = [&m] {
    vesk::json out = vesk::json::make_array(nullptr, 0);
    for (const std::string& s : m) out.push_back(vesk::json(s));
    return out;
  };
  set = [&m](vesk::json v) {
    m.clear();
    for (auto it = v.begin(); it != v.end(); ++it) m.push_back((*it).value->get_string());
  };
}
