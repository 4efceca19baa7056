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
  // The room for the bindings is kept between calls: a view writes two records a pin, and
  // making it anew was an allocation each. A getter may write records itself, so each
  // depth of that takes a list of its own.
  static thread_local std::vector<std::vector<json_link_element>> spare;
  std::vector<json_link_element> links;
  if (!spare.empty()) {
    links = std::move(spare.back());
    spare.pop_back();
  }
  get_links(links);
  vesk::json result;
  if (!links.empty()) {
    result = vesk::json::make_object();
    result.object_members().reserve(links.size());
    for (json_link_element& e : links) result[e.name] = e.get();
  }
  links.clear();
  spare.push_back(std::move(links));
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
    const std::vector<vesk::json::type_t>& types = e.taken_types();
    const vesk::json* v = types.empty() ? reader.take(e.name) : reader.take(e.name, types);
    if (v != nullptr)
      e.set(*v);
    else
      e.on_missing();
  }
  if (source.is_null()) source = vesk::json::make_object();
}

using type_list = std::vector<vesk::json::type_t>;
const type_list json_link_element::any_types;
const type_list json_link_element::number_types = {vesk::json::number_t};
const type_list json_link_element::bool_types = {vesk::json::bool_t, vesk::json::number_t};
const type_list json_link_element::string_types = {vesk::json::string_t};
const type_list json_link_element::object_types = {vesk::json::object_t};
const type_list json_link_element::array_types = {vesk::json::array_t};
const type_list json_link_element::map_types = {vesk::json::object_t, vesk::json::array_t};

const type_list& json_link_element::taken_types() const { return types.empty() ? *member_types_ : types; }

void json_link_element::bind(int& m) {
  member_types_ = &number_types;
  get = [&m] { return vesk::json(static_cast<double>(m)); };
  set = [&m](vesk::json v) { m = json_to_int(v.get_double()); };
}

void json_link_element::bind(double& m) {
  member_types_ = &number_types;
  get = [&m] { return vesk::json(m); };
  set = [&m](vesk::json v) { m = v.get_double(); };
}

void json_link_element::bind(bool& m) {
  member_types_ = &bool_types;
  get = [&m] { return vesk::json(m); };
  set = [&m](vesk::json v) { m = v.get_double() != 0; };  // NaN counts as true
}

void json_link_element::bind(std::string& m) {
  member_types_ = &string_types;
  get = [&m] { return vesk::json(m); };
  set = [&m](vesk::json v) { m = v.get_string(); };
}

void json_link_element::bind(vesk::json& m) {
  get = [&m] { return m; };
  set = [&m](vesk::json v) { m = std::move(v); };
}

void json_link_element::bind(json_link& m) {
  member_types_ = &object_types;
  get = [&m] { return m.to_json(); };
  set = [&m](vesk::json v) { m.from_json(v); };
}

void json_link_element::bind(std::vector<std::string>& m) {
  member_types_ = &array_types;
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
