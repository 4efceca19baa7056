#include "foundation/runtime_dir.h"

#include <algorithm>
#include <exception>

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

runtime_dir::runtime_dir(const fs::path& p) : path(p) {
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
  json parsed;
  try {
    // Copies count too, so what is held may already be past the bound: nothing is left then.
    const size_t room = forms_bytes < max_forms_bytes ? max_forms_bytes - forms_bytes : 0;
    const std::string text = read_file(def_file.string(), room);
    parsed = parse_json_file(def_file, text);
    // The back end publishes the form under "state", "rt_properties" and the runtime's name.
    const bool deep = nesting_depth(parsed, max_form_depth) > max_form_depth;
    const size_t carried = deep ? 0 : std::max(text.size(), indented_text_size(parsed, 3, room));
    if (deep) {
      log_err << def_file.string() << ": the form nests deeper than " << max_form_depth << " levels." << std::endl;
      parsed = json();
    } else if (carried > room) {
      log_err << def_file.string() << ": the form takes more than " << room << " bytes as the back end's state "
              << "carries it, what is left of " << max_forms_bytes << " for the forms of all runtimes." << std::endl;
      parsed = json();
    } else {
      form_bytes_ = carried;
      forms_bytes += form_bytes_;
    }
  } catch (const std::exception& e) {
    // An unreadable file must not make the runtime unusable; say why and go on without a form.
    log_err << def_file.string() << ": " << e.what() << std::endl;
  }
  if (parsed.is_array()) {
    config_def = std::move(parsed);
    return;
  }
  log_err << "Error parsing " << def_file.string() << ". It must be an array." << std::endl;
  config_def = json::make_array(nullptr, 0);
}

runtime_dir::runtime_dir(const runtime_dir& o)
    : name(o.name), path(o.path), config_def(o.config_def), form_bytes_(o.form_bytes_) {
  forms_bytes += form_bytes_;
}

runtime_dir::runtime_dir(runtime_dir&& o) noexcept
    : name(std::move(o.name)), path(std::move(o.path)), config_def(std::move(o.config_def)),
      form_bytes_(o.form_bytes_) {
  o.form_bytes_ = 0;
}

runtime_dir& runtime_dir::operator=(runtime_dir o) noexcept {
  std::swap(name, o.name);
  std::swap(path, o.path);
  std::swap(config_def, o.config_def);
  std::swap(form_bytes_, o.form_bytes_);
  return *this;
}

runtime_dir::~runtime_dir() { forms_bytes -= form_bytes_; }

}  // namespace vesk
