#include "backend/user_config.h"

#include <utility>

#include "backend/deferred_writes.h"
#include "foundation/json.h"
#include "foundation/json_file.h"
#include "foundation/json_reader.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"
#include "foundation/startup_paths.h"

namespace vesk {

namespace {

// Applies the text of "vesk.cfg" to the configuration. A key of the wrong type (a text
// where a number belongs, an object where a text belongs) keeps its value and is reported
// with the file, a key the back end does not read is warned about; the other keys apply.
// A hand edit must not end the back end.
void apply_text(vesk_config& cfg, const std::string& text) {
  vesk::json j = parse_json_file(cfg.file.path, text);
  json_reader reader(j);
  cfg.from_json(j, reader);
  reader.finish([] {
    return "the user configuration reads num_console_lines, hg_tool, git_tool, last_open_prj, history_size_sec";
  });
  log_place place(cfg.file.path.string());
  write_findings(reader.findings);
}

// What the member `key` with `value` adds to a document's text, without the separator
// before it: its indent, the key with ": " and the value one level in. Measured as a
// one-member object, less its "{\n" and "\n}"; `value` is lent to it, not copied.
size_t member_text_size(const std::string& key, vesk::json& value, size_t limit) {
  vesk::json one = vesk::json::make_object();
  vesk::json& slot = one[key];
  slot = std::move(value);
  const size_t size = indented_text_size(one, 0, limit + 4) - 4;
  value = std::move(slot);
  return size;
}

}  // namespace

vesk_config::vesk_config() : file(config_dir / "vesk.cfg") {
  apply_text(*this, file.content);
  file.on_change = [this] { on_file_changed(); };
}

vesk_config::~vesk_config() {
  if (writes) writes->flush(this);
}

void vesk_config::get_links(std::vector<json_link_element>& links) {
  links.emplace_back("num_console_lines", num_console_lines);
  links.emplace_back("hg_tool", hg_tool);
  links.emplace_back("git_tool", git_tool);
  links.emplace_back("last_open_prj", last_open_prj);
  links.emplace_back("history_size_sec", history_size_sec);
}

void vesk_config::save() {
  // The stamp now, not at the write: an outside edit read in between wins over this change.
  if (writes)
    writes->mark(this, file.path, [this, read = file.stamp()] { write_now(read); });
  else
    write_now(file.stamp());
}

void vesk_config::write_now(const file_stamp& read) {
  file.content = to_json().dump("  ");
  file.save(read);
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

vesk_model_perspectives::~vesk_model_perspectives() {
  if (writes) writes->flush(this);
}

void vesk_model_perspectives::set(const std::string& model, vesk::json perspective) {
  const size_t limit = file.max_bytes;
  if (!document.is_object()) {
    // A broken file read as null (or as anything but an object) holds no perspective.
    document = vesk::json::make_object();
    measured_ = false;
  }
  if (!measured_) {
    text_bytes_ = indented_text_size(document, 0, limit);
    measured_ = true;
  }
  // The document's text changes by what the member's text changes; the separator before
  // a new member is one byte for the first member, two (",\n") after it.
  // A document already past the bound (a compact file grows when indented) takes no change.
  const bool known = text_bytes_ <= limit && document.contains(model);
  const size_t before = known ? member_text_size(model, document[model], limit) : 0;
  const size_t added = known ? 0 : (document.size() == 0 ? 1 : 2);
  const size_t after = text_bytes_ - before + added + member_text_size(model, perspective, limit);
  if (text_bytes_ > limit || after > limit) {
    log_err << "Unable to save file: " << file.path.string() << " (more than the limit of " << limit
            << "); the last change is dropped." << std::endl;
    return;
  }
  document[model] = std::move(perspective);
  text_bytes_ = after;
  save();
}

void vesk_model_perspectives::save() {
  if (writes)
    writes->mark(this, file.path, [this, read = file.stamp()] { write_now(read); });
  else
    write_now(file.stamp());
}

void vesk_model_perspectives::write_now(const file_stamp& read) {
  // Each model the editor names adds to the document: it may not outgrow what is read back.
  // Measured before it is written, since the indent makes a deep nesting many times larger.
  const size_t size = indented_text_size(document, 0, file.max_bytes);
  if (size > file.max_bytes) {
    log_err << "Unable to save file: " << file.path.string() << " (more than the limit of " << file.max_bytes
            << "); the last change is dropped." << std::endl;
    document = file.content.empty() ? vesk::json::make_object() : parse_json_file(file.path, file.content);
    measured_ = false;
    return;
  }
  file.content = document.dump("  ");
  text_bytes_ = file.content.size();
  measured_ = true;
  // No poll reads this file: an outside edit that kept the change from being written is
  // read here, so that the next change is made to it.
  if (!file.save(read)) file.check();
}

void vesk_model_perspectives::on_file_changed() {
  document = parse_json_file(file.path, file.content);
  measured_ = false;
}

}  // namespace vesk
