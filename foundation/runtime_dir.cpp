#include "foundation/runtime_dir.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/json_file.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace fs = std::filesystem;

namespace {

/// The bytes of the forms of all runtimes held now.
size_t forms_bytes = 0;

bool allowed_in_name(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

}  // namespace

std::string runtime_dir::name_of(const fs::path& folder) {
  // "rt_x/" names the folder rt_x, not an empty component.
  fs::path last = folder.filename();
  if (last.empty()) last = folder.parent_path().filename();
  std::string name = last.string();
  if (starts_with(name, "rt_")) name.erase(0, 3);
  return name;
}

runtime_dir::runtime_dir(const fs::path& p, bool quiet) : path(p) {
  name = name_of(path);
  for (char c : name) {
    if (!allowed_in_name(c)) {
      throw_bt_exception("Runtimes can only have names characters a-z, A-Z, '-' or '_'. Error occured for runtime " + name);
    }
  }

  const fs::path def_file = path / "config_def.json";
  if (!path_exists(def_file)) {
    config_def = json::make_array(nullptr, 0);
    return;
  }
  std::vector<std::string> faults;
  json parsed;
  try {
    // Copies count too, so what is held may already be past the bound: nothing is left then.
    const size_t room = forms_bytes < max_forms_bytes ? max_forms_bytes - forms_bytes : 0;
    const std::string text = read_file(def_file.string(), room);
    std::string error;
    {
      // Quiet, the parser's own lines are left out too: the summary names file and place.
      std::optional<log_silencer> silent;
      if (quiet) silent.emplace(log_err);
      parsed = parse_json_file(def_file, text, error);
    }
    if (!error.empty()) faults.push_back(error);
    // The back end publishes the form under "state", "rt_properties" and the runtime's name.
    const bool deep = nesting_depth(parsed, max_form_depth) > max_form_depth;
    const size_t carried = deep ? 0 : std::max(text.size(), indented_text_size(parsed, 3, room));
    if (deep) {
      faults.push_back(def_file.string() + ": the form nests deeper than " + std::to_string(max_form_depth) +
                       " levels.");
      parsed = json();
    } else if (carried > room) {
      faults.push_back(def_file.string() + ": the form takes more than " + std::to_string(room) +
                       " bytes as the back end's state carries it, what is left of " +
                       std::to_string(max_forms_bytes) + " for the forms of all runtimes.");
      parsed = json();
    } else {
      form_bytes_ = carried;
      forms_bytes += form_bytes_;
    }
  } catch (const std::exception& e) {
    // An unreadable file must not make the runtime unusable; say why and go on without a form.
    faults.push_back(def_file.string() + ": " + e.what());
  }
  if (parsed.is_array()) {
    config_def = std::move(parsed);
  } else {
    faults.push_back("Error parsing " + def_file.string() + ". It must be an array.");
    config_def = json::make_array(nullptr, 0);
  }
  if (faults.empty()) return;
  form_fault = faults.front();
  if (!quiet)
    for (const std::string& f : faults) log_err << f << std::endl;
}

runtime_dir::runtime_dir(const runtime_dir& o)
    : name(o.name), path(o.path), config_def(o.config_def), form_fault(o.form_fault), form_bytes_(o.form_bytes_) {
  forms_bytes += form_bytes_;
}

runtime_dir::runtime_dir(runtime_dir&& o) noexcept
    : name(std::move(o.name)), path(std::move(o.path)), config_def(std::move(o.config_def)),
      form_fault(std::move(o.form_fault)), form_bytes_(o.form_bytes_) {
  o.form_bytes_ = 0;
}

runtime_dir& runtime_dir::operator=(runtime_dir o) noexcept {
  std::swap(name, o.name);
  std::swap(path, o.path);
  std::swap(config_def, o.config_def);
  std::swap(form_fault, o.form_fault);
  std::swap(form_bytes_, o.form_bytes_);
  return *this;
}

runtime_dir::~runtime_dir() { forms_bytes -= form_bytes_; }

}  // namespace vesk
