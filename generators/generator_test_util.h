#pragma once
// Small helpers shared by the generator tests: pin names and JSON of a view, the
// text a writer produces, configurations built member by member and thrown
// messages. The generator helpers take temporaries too.

#include <gtest/gtest.h>

#include <exception>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "foundation/bt_exception.h"
#include "foundation/json.h"
#include "foundation/json_link.h"
#include "foundation/log_capture.h"
#include "generators/generator.h"

namespace gen_test {

using names = std::vector<std::string>;

/// The keys of a keyed list (pins, data members), in their order.
template <typename T>
names keys(const hash_vector<T>& list) {
  names out;
  for (const auto& e : list) out.push_back(e.key);
  return out;
}

/// The view as the editor receives it, as compact JSON text, less the members that
/// hold their empty value ("", 0, false, null): any other value still shows.
template <typename G>
std::string view_json(G&& g) {
  vesk::json full = g.get_view_config().to_json();
  vesk::json shown = vesk::json::make_object();
  for (const auto& m : full.object_members()) {
    const vesk::json& v = m.second;
    bool empty = v.is_null() || v == "" || (v.is_bool() && !v.get_bool()) ||
                 (v.is_number() && v.get_double() == 0);
    if (!empty) shown[m.first] = v;
  }
  return shown.dump();
}

/// The property form as the editor receives it: one JSON object per field.
template <typename G>
std::string properties_json(G&& g) {
  std::string out;
  for (auto& p : g.get_properties()) out += p.to_json().dump() + "\n";
  return out;
}

/// What `g.write_init` writes, as one text.
template <typename G>
std::string init_text(G&& g) {
  std::ostringstream os;
  g.write_init(os);
  return os.str();
}

/// What `g.write_tick` writes, as one text.
template <typename G>
std::string tick_text(G&& g) {
  std::ostringstream os;
  g.write_tick(os);
  return os.str();
}

/// What `g.write_final` writes, as one text.
template <typename G>
std::string final_text(G&& g) {
  std::ostringstream os;
  g.write_final(os);
  return os.str();
}

/// A JSON object with the given members, in the given order.
inline vesk::json object(std::initializer_list<std::pair<const char*, vesk::json>> members) {
  vesk::json c = vesk::json::make_object();
  for (const auto& m : members) c[m.first] = m.second;
  return c;
}

/// The message of the exception `f` throws, or "no exception".
template <typename F>
std::string thrown(F f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no exception";
}

}  // namespace gen_test
