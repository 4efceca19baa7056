#include "backend/managed_file.h"

#include <algorithm>
#include <exception>
#include <system_error>

#include "annotations/scanner.h"
#include "backend/main_controller.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace fs = std::filesystem;

namespace vesk {

namespace {

// The one place managed files reach the disk. write_file replaces the file whole or not at
// all; a failure is the user's to know about, while the history goes on as they meant it.
// Nothing is written when `seen` (the file's stamp when last read or written) is no longer
// the file's right before the rename: another program wrote it, and its text is the newer.
// `written` gets the stamp of the file written, its own and not the path's.
bool store_file(const fs::path& path, const std::string& text, const file_stamp& seen, file_stamp& written) {
  bool outside = false;
  if (write_file(
          path.string(), text,
          [&] {
            const file_stamp now = file_stamp::of(path);
            outside = now.present && seen.present && now != seen;
            return !outside;
          },
          &written))
    return true;
  if (outside)
    log_warn << path.string() << " was changed by another program: the editor's change was not written, and "
             << "stays one undo step before the file as it is now." << std::endl;
  else
    log_err << "Unable to write file: " << path.string() << std::endl;
  return false;
}

// The file's content, refused past max_file_bytes before more than that is read.
std::string read_held(const fs::path& path) {
  std::string text;
  size_t size = 0;
  const bounded_read r = read_file_within(path.string(), managed_file::max_file_bytes, text, size);
  if (r == bounded_read::failed) throw_bt_exception("Unable to read file: " + path.string());
  if (r == bounded_read::too_large)
    throw_bt_exception("File too large: " + path.string() + " (more than " +
                       std::to_string(managed_file::max_file_bytes) + " bytes)");
  return text;
}

size_t cost(const std::string& text) { return text.size() + history_budget::entry_overhead; }

}  // namespace

pending_settles::pending_settles(vesk::io::event_list& events) : timer_(events, 0, [this] { run(); }) {}

void pending_settles::mark(managed_file* file) {
  if (std::find(files_.begin(), files_.end(), file) != files_.end()) return;
  // The next turn: what the loop has read already comes first, and joins this settle.
  if (files_.empty()) timer_.set_interval(1);
  files_.push_back(file);
}

void pending_settles::drop(const managed_file* file) {
  files_.erase(std::remove(files_.begin(), files_.end(), file), files_.end());
  if (files_.empty()) timer_.set_interval(0);
}

void pending_settles::run() {
  timer_.set_interval(0);
  // Taken one at a time from the list itself: a push may end a session, and a file with it.
  while (!files_.empty()) {
    managed_file* file = files_.front();
    files_.erase(files_.begin());
    try {
      file->settle();
    } catch (const std::exception& e) {
      log_err << "An exception occured: " << e.what() << std::endl;
    }
  }
}

history_budget& history_budget::shared() {
  static history_budget budget;
  return budget;
}

void history_budget::trim() {
  while (held_ > total) {
    // The oldest undo step of all files; where no file has one, a redo step goes.
    managed_file* oldest = nullptr;
    managed_file* with_redo = nullptr;
    for (managed_file* f : files_) {
      if (f->index > 0 && (!oldest || f->ages_.front() < oldest->ages_.front())) oldest = f;
      if (f->index + 1 < f->history.size()) with_redo = f;
    }
    if (oldest)
      oldest->drop_front();
    else if (with_redo)
      with_redo->drop_back();
    else
      return;  // only current contents are left, and they are always kept
  }
}

managed_file::managed_file(const fs::path& p, vesk::main_controller& owner) : controller(owner) {
  budget_.files_.push_back(this);
  try {
    managed_file::load(p);
  } catch (...) {
    // No destructor runs for an object whose construction failed.
    budget_.held_ -= held_;
    budget_.files_.pop_back();
    throw;
  }
}

managed_file::~managed_file() {
  // What the editor changed reaches the file also when the file is let go at once.
  controller.writes.flush(this);
  controller.settles.drop(this);
  budget_.held_ -= held_;
  budget_.files_.erase(std::find(budget_.files_.begin(), budget_.files_.end(), this));
}

void managed_file::append(std::string text) {
  held_ += cost(text);
  budget_.held_ += cost(text);
  history.push_back(std::move(text));
  ages_.push_back(++budget_.clock_);
}

void managed_file::drop_front() {
  held_ -= cost(history.front());
  budget_.held_ -= cost(history.front());
  history.pop_front();
  ages_.pop_front();
  --index;  // the same entry stays current
}

void managed_file::drop_back() {
  held_ -= cost(history.back());
  budget_.held_ -= cost(history.back());
  history.pop_back();
  ages_.pop_back();
}

bool managed_file::drop_one() {
  if (index > 0)
    drop_front();
  else if (index + 1 < history.size())
    drop_back();
  else
    return false;
  return true;
}

void managed_file::load(const fs::path& file) {
  const file_stamp before = file_stamp::of(file);  // an edit while reading moves it again
  std::string text = read_held(file);
  path = file;
  index = 0;
  while (!history.empty()) drop_back();
  append(std::move(text));
  seen_ = before;
  budget_.trim();
}

void managed_file::write() {
  controller.writes.mark(this, path, [this] { store(); });
}

void managed_file::store() {
  // An outside edit is left for the next poll, which takes it as the next entry; this
  // change stays one undo step before it.
  // What another program renamed over it meanwhile is another inode, seen by the next poll.
  file_stamp written;
  if (store_file(path, content(), seen_, written)) seen_ = written;
}

const std::string& managed_file::content() {
  static const std::string none;
  return history.empty() ? none : history[index];
}

void managed_file::undo() {
  if (index == 0) return;
  --index;
  write();
  controller.settles.mark(this);
}

void managed_file::redo() {
  if (index + 1 >= history.size()) return;
  ++index;
  write();
  controller.settles.mark(this);
}

void managed_file::settle() { controller.notify_file_changed(*this); }

void managed_file::add_save_point(std::string text, bool write_to_disk) {
  // Its own push and parse below stand for those of the steps before it.
  controller.settles.drop(this);
  while (index + 1 < history.size()) drop_back();
  append(std::move(text));
  index = history.size() - 1;
  while (held_ > budget_.per_file && drop_one()) {
  }
  budget_.trim();
  if (write_to_disk) write();
  controller.notify_file_changed(*this);
}

bool managed_file::reload_if_changed() {
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (st.type() == fs::file_type::not_found || st.type() == fs::file_type::none) return true;
  // Unmoved since we last read or wrote it: nothing to read (loose files are asked at every
  // poll), and our own change still waits for its timer.
  const file_stamp before = file_stamp::of(path);
  if (before.present && before == seen_) return false;
  // Moved: our change waiting for its write is not written over the edit, with a warning.
  controller.writes.flush(this);
  std::string text;
  try {
    text = read_held(path);
  } catch (const std::exception& e) {
    const file_stamp now = file_stamp::of(path);
    if (!warned_unreadable_ || now != unreadable_)
      log_warn << e.what() << "; its last content read is kept." << std::endl;
    unreadable_ = now;
    warned_unreadable_ = true;
    return false;
  }
  warned_unreadable_ = false;
  seen_ = before;
  if (text == content()) return false;
  add_save_point(std::move(text), false);  // the file already holds it
  return true;
}
managed_header::managed_header(const fs::path& p, vesk::main_controller& owner, std::string project_name)
    : managed_file(p, owner), project(std::move(project_name)) {
  parse();
}

managed_header::~managed_header() { node_budget().give_back(charged_); }

vesk::annotations::node_total& managed_header::node_budget() {
  static vesk::annotations::node_total total;
  return total;
}

void managed_header::parse() {
  node_budget().give_back(charged_);
  charged_ = {};
  // The current entry, not the disk: after a failed write the descriptions still follow
  // the history the user sees.
  vesk::annotations::parse_budget cost;
  blocks = vesk::annotations::parse_text(content(), path.string(), project, &cost);
  const std::string passed = node_budget().take(cost);
  if (passed.empty()) {
    charged_ = cost;
    return;
  }
  // Parsed once per change, so this line comes once per change, never per poll.
  blocks.clear();
  log_err << path.string() << ": The node descriptions of all node sources exceed the limit of " << passed
          << "; the nodes of this file are left out." << std::endl;
}

void managed_header::settle() {
  managed_file::settle();
  parse();
  controller.send_block_list();
}

void managed_header::add_save_point(std::string text, bool write_to_disk) {
  managed_file::add_save_point(std::move(text), write_to_disk);
  parse();
  // An outside edit reaches the block list through the project's flag and the next poll.
  if (write_to_disk) controller.send_block_list();
}

}  // namespace vesk
