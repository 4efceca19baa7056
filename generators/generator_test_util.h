#pragma once
// Small helpers shared by the generator tests: pin names of a view, the text a
// writer produces, and configurations built member by member.

#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "foundation/json.h"
#include "foundation/json_link.h"
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

/// What `g.write_init` writes, as one text.
inline std::string init_text(vesk::generator& g) {
  std::ostringstream os;
  g.write_init(os);
  return os.str();
}

/// What `g.write_tick` writes, as one text.
inline std::string tick_text(vesk::generator& g) {
  std::ostringstream os;
  g.write_tick(os);
  return os.str();
}

/// What `g.write_final` writes, as one text.
inline std::string final_text(vesk::generator& g) {
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

}  // namespace gen_test
