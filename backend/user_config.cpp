#include "backend/user_config.h"

#include <map>
#include <utility>

#include "backend/deferred_writes.h"
#include "foundation/file_lock.h"
#include "foundation/json.h"
#include "foundation/json_file.h"
#include "foundation/json_reader.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"
#include "foundation/startup_paths.h"

namespace vesk {

namespace {

// Writes what `compose` makes of `file` as it is now, holding the file's lock: the check
// first reads a file changed since (its owner keeps its own changes then, and sets
// `reloaded`). `compose` sets the file's content, or returns false when nothing is to be
// written. A program that takes no lock and writes the file between the check and the
// write makes another try: a change taken in is no change lost, so the line about it is
// for the last try only. Whether the file was written.
template <class Compose>
bool write_shared(single_observed_file& file, bool& reloaded, Compose compose) {
  file_lock lock(lock_file_of(file.path));
  constexpr int tries = 3;
  for (int i = 0;; ++i) {
    reloaded = false;
    file.check();
    // A try that failed for another cause than a newer file: its line is written.
    if (i > 0 && !reloaded) return false;
    if (i == tries) {
      log_warn << file.path.string() << " was changed by another program at each of " << tries
               << " tries to write it: it is read as it is now, and this back end's change waits for its next one."
               << std::endl;
      return false;
    }
    std::string kept = file.content;
    if (!compose()) return false;
    bool saved = false;
    {
      log_silencer quiet(log_warn);
      saved = file.save(file.stamp());
    }
    if (saved) return true;
    file.content = std::move(kept);
  }
}

// Whether two values of the configuration's keys are the same: numbers by their value, not
// by their text, which keeps six decimals.
bool same_value(const vesk::json& a, const vesk::json& b) {
  if (a.type() != b.type()) return false;
  if (a.is_number()) return a.get_double() == b.get_double();
  if (a.is_string()) return a.get_string_ref() == b.get_string_ref();
  return a.dump() == b.dump();
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
  take_file();
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

void vesk_config::take(vesk::json& source, const std::string& of) {
  json_reader reader(source, of);
  from_json(source, reader);
  reader.finish([] {
    return "the user configuration reads num_console_lines, hg_tool, git_tool, last_open_prj, history_size_sec";
  });
  write_findings(reader.findings);
}

void vesk_config::take_file() {
  // A hand edit must not end the back end: what is wrong with it is logged with the file.
  on_disk_ = parse_json_file(file.path, file.content);
  {
    log_place place(file.path.string());
    take(on_disk_);
  }
  read_ = to_json();
}

vesk::json vesk_config::changes() {
  vesk::json now = to_json(), changed = vesk::json::make_object();
  for (auto& [key, value] : now.object_members()) {
    if (!read_.contains(key) || !same_value(read_[key], value)) changed[key] = std::move(value);
  }
  return changed;
}

void vesk_config::save() {
  // The changes are those at the write: a burst of them is one write.
  if (writes)
    writes->mark(this, file.path, [this] { write_now(); });
  else
    write_now();
}

void vesk_config::write_now() {
  vesk::json doc, now;
  const bool written = write_shared(file, reloaded_, [&] {
    // The file as it is, its keys in their places; a key changed here, or one it lacks, is
    // set (a value the file holds of the wrong type stays until the user changes that key).
    doc = on_disk_.is_object() ? on_disk_ : vesk::json::make_object();
    vesk::json changed = changes();
    now = to_json();
    for (auto& [key, value] : now.object_members())
      if (!doc.contains(key) || changed.contains(key)) doc[key] = value;
    std::string text = doc.dump("  ");
    if (file.stamp().present && text == file.content) {
      read_ = now;
      return false;
    }
    file.content = std::move(text);
    return true;
  });
  if (written) {
    on_disk_ = std::move(doc);
    read_ = std::move(now);
  }
}

void vesk_config::on_file_changed() {
  vesk::json mine = changes();
  take_file();
  from_json(mine);
  reloaded_ = true;
  on_update();
}

vesk_model_perspectives::vesk_model_perspectives() : file(config_dir / "model_perspectives.json") {
  // Set first: the save below reads a file another back end made in the meantime.
  file.on_change = [this] { on_file_changed(); };
  if (file.content.empty()) {
    document = vesk::json::make_object();
    save();
  } else {
    document = parse_json_file(file.path, file.content);
  }
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
  pending_.insert(model);
  save();
}

void vesk_model_perspectives::save() {
  if (writes)
    writes->mark(this, file.path, [this] { write_now(); });
  else
    write_now();
}

void vesk_model_perspectives::write_now() {
  const bool written = write_shared(file, reloaded_, [&] {
    // Read again with nothing of its own to add: the file holds it all.
    if (reloaded_ && pending_.empty()) return false;
    // Each model the editor names adds to the document: it may not outgrow what is read
    // back. Measured before it is written, since the indent makes a deep nesting many
    // times larger.
    const size_t size = indented_text_size(document, 0, file.max_bytes);
    if (size > file.max_bytes) {
      log_err << "Unable to save file: " << file.path.string() << " (more than the limit of " << file.max_bytes
              << "); the last change is dropped." << std::endl;
      document = file.content.empty() ? vesk::json::make_object() : parse_json_file(file.path, file.content);
      pending_.clear();
      measured_ = false;
      return false;
    }
    file.content = document.dump("  ");
    return true;
  });
  if (written) {
    pending_.clear();
    text_bytes_ = file.content.size();
    measured_ = true;
  }
}

void vesk_model_perspectives::on_file_changed() {
  vesk::json fresh = parse_json_file(file.path, file.content);
  if (!pending_.empty()) {
    // The perspectives set here and not yet written replace the file's, or join them;
    // found by one walk of each document, however many there are.
    if (!fresh.is_object()) fresh = vesk::json::make_object();
    std::map<std::string, vesk::json*> mine;
    if (document.is_object()) {
      for (auto& [name, value] : document.object_members())
        if (pending_.count(name)) mine.emplace(name, &value);
    }
    vesk::json::members& theirs = fresh.object_members();
    for (auto& [name, value] : theirs) {
      auto it = mine.find(name);
      if (it == mine.end()) continue;
      value = std::move(*it->second);
      mine.erase(it);
    }
    for (auto& [name, value] : mine) theirs.emplace_back(name, std::move(*value));
  }
  document = std::move(fresh);
  measured_ = false;
  reloaded_ = true;
}

}  // namespace vesk
