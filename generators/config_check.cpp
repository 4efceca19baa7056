#include "generators/config_check.h"

#include <algorithm>

#include "foundation/log_stream.h"
#include "generators/code_text.h"

namespace vesk {

std::string name_list(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
  return text;
}

std::vector<std::string> property_keys(const std::vector<vesk::property>& props) {
  std::vector<std::string> keys;
  for (const vesk::property& p : props) keys.push_back(p.key);
  return keys;
}

void add_unknown_keys(const vesk::json& object, const std::vector<std::string>& known, const std::string& of,
                      const std::function<std::string()>& reads, std::vector<vesk::config_warning>& out) {
  if (!object.is_object()) return;
  std::string read;
  for (const auto& [key, value] : object.object_members()) {
    if (std::find(known.begin(), known.end(), key) != known.end()) continue;
    if (read.empty()) read = "is ignored: " + reads();
    out.push_back({"Key " + written(vesk::json(key)) + (of.empty() ? "" : " of " + of), read});
  }
}

std::vector<vesk::config_warning> unknown_block_keys(const vesk::json& cfg, const std::vector<std::string>& known,
                                                     const std::string& type) {
  std::vector<vesk::config_warning> found;
  add_unknown_keys(
      cfg, known, "", [&] { return "a " + written(vesk::json(type)) + " block reads " + name_list(known); }, found);
  return found;
}

void add_checkbox_value(const vesk::json& cfg, const std::string& key, std::vector<vesk::config_warning>& out) {
  if (!cfg.is_object()) return;
  for (const auto& [k, value] : cfg.object_members()) {
    if (k != key) continue;
    if (!checkbox_means_what_written(value))
      out.push_back({"Value " + written(value) + " of key " + written(vesk::json(key)),
                     "is read as false: a checkbox is true, false or a number"});
    return;  // the first member of a key is the one read
  }
}

void write_config_warnings(const std::vector<vesk::config_warning>& warnings, const std::string& block) {
  for (size_t i = 0; i < warnings.size() && i < max_config_warnings; ++i)
    log_warn << warnings[i].subject << " in " << block << " " << warnings[i].outcome << std::endl;
  if (warnings.size() > max_config_warnings)
    log_warn << warnings.size() - max_config_warnings << " more names in " << block
             << " are not read as written; they are not listed" << std::endl;
}

}  // namespace vesk
