#include "backend/user_config.h"

#include <exception>

#include "foundation/json.h"
#include "foundation/json_file.h"
#include "foundation/log_stream.h"
#include "foundation/startup_paths.h"

namespace vesk {

namespace {

// Applies the text of "vesk.cfg" to the configuration. A key of the wrong type (a text
// where a number belongs, an object where a text belongs) is reported with the file and
// the keys before it stay applied; it must not end the back end over a hand edit.
void apply_text(vesk_config& cfg, const std::string& text) {
  vesk::json j = parse_json_file(cfg.file.path, text);
  try {
    cfg.from_json(j);
  } catch (const std::exception& e) {
    log_err << "Error reading " << cfg.file.path.string() << ": " << e.what() << std::endl;
  }
}

}  // namespace

vesk_config::vesk_config() : file(config_dir / "vesk.cfg") {
  apply_text(*this, file.content);
  file.on_change = [this] { on_file_changed(); };
}

void vesk_config::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("num_console_lines", num_console_lines);
  links.emplace_back("hg_tool", hg_tool);
  links.emplace_back("git_tool", git_tool);
  links.emplace_back("last_open_prj", last_open_prj);
  links.emplace_back("history_size_sec", history_size_sec);
}

void vesk_config::save() {
  file.content = to_json().dump("  ");
  file.save();
}

void vesk_config::on_file_changed() {
  apply_text(*this, file.content);
  on_update();
}

vesk_model_perspectives::vesk_model_perspectives() : file(config_dir / "model_perspectives.json") {
  if (file.content.empty()) {
    document = vesk::json::make_object();
    save();
  } else {
    document = parse_json_file(file.path, file.content);
  }
  file.on_change = [this] { on_file_changed(); };
}

void vesk_model_perspectives::save() {
  // Each model the editor names adds to the document: it may not outgrow what is read back.
  // Measured before it is written, since the indent makes a deep nesting many times larger.
  const size_t size = indented_text_size(document, 0, file.max_bytes);
  if (size > file.max_bytes) {
    log_err << "Unable to save file: " << file.path.string() << " (more than the limit of " << file.max_bytes
            << "); the last change is dropped." << std::endl;
    document = file.content.empty() ? vesk::json::make_object() : parse_json_file(file.path, file.content);
    return;
  }
  file.content = document.dump("  ");
  file.save();
}

void vesk_model_perspectives::on_file_changed() { document = parse_json_file(file.path, file.content); }

}  // namespace vesk
