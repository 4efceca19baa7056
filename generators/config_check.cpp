#include "generators/config_check.h"

#include "foundation/helpers.h"
#include "foundation/log_place.h"
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

const std::vector<vesk::json::type_t>& text_types() {
  static const std::vector<vesk::json::type_t> types = {vesk::json::string_t, vesk::json::number_t,
                                                       vesk::json::null_t};
  return types;
}

const vesk::json* take_text(vesk::json_reader& r, const std::string& key) { return r.take(key, text_types()); }

void take_checkbox(vesk::json_reader& r, const std::string& key) {
  const vesk::json* value = r.take(key);
  if (value != nullptr && !checkbox_means_what_written(*value))
    r.warn_value(key, *value, "is read as false: a checkbox is true, false or a number");
}

void take_form(vesk::json_reader& r, const std::vector<vesk::property>& props) {
  for (const vesk::property& p : props) {
    if (p.key.empty()) continue;
    if (p.form == "checkbox")
      take_checkbox(r, p.key);
    else if (p.form == "array_text")
      r.take(p.key, {vesk::json::array_t, vesk::json::null_t});
    else if (p.form == "select")
      r.take(p.key);
    else
      take_text(r, p.key);
  }
}

std::vector<vesk::config_warning> block_findings(vesk::json_reader& r, const std::vector<std::string>& known,
                                                 const std::string& type) {
  r.finish([&] { return "a " + written(vesk::json(type)) + " block reads " + name_list(known); });
  return std::move(r.findings);
}

std::vector<vesk::config_warning> read_block_config(const vesk::json& cfg, const std::vector<vesk::property>& props,
                                                    const std::vector<std::string>& more, const std::string& type) {
  vesk::json_reader r(cfg);
  take_form(r, props);
  for (const std::string& key : more) r.take(key);
  std::vector<std::string> known = property_keys(props);
  known.insert(known.end(), more.begin(), more.end());
  return block_findings(r, known, type);
}

void add_empty_function(const vesk::json& cfg, std::vector<vesk::config_warning>& out) {
  if (!cfg.is_object()) return;
  for (const auto& [key, value] : cfg.object_members()) {
    if (key != "function") continue;
    if (value.is_null() || (value.is_string() && trim(value.get_string_ref()).empty()))
      out.push_back({"Value " + written(value) + " of key \"function\"",
                     "is empty: the generated code would call or compute nothing", true});
    return;  // the first member of a key is the one read
  }
}

void write_config_warnings(const std::vector<vesk::config_warning>& warnings, const std::string& block) {
  vesk::log_place at(block);
  write_findings(warnings);
}

}  // namespace vesk
