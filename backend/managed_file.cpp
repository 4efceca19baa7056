#include "backend/managed_file.h"

#include <system_error>

#include "annotations/scanner.h"
#include "backend/main_controller.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace fs = std::filesystem;

namespace vesk {

namespace {

// The one place managed files reach the disk. write_file replaces the file whole or not at
// all; a failure is the user's to know about, while the history goes on as they meant it.
bool store_file(const fs::path& path, const std::string& text) {
  if (write_file(path.string(), text)) return true;
  log_err << "Unable to write file: " << path.string() << std::endl;
  return false;
}

}  // namespace

managed_file::managed_file(const fs::path& p, vesk::main_controller& owner) : controller(owner) {
  managed_file::load(p);
}

managed_file::~managed_file() = default;

void managed_file::load(const fs::path& file) {
  path = file;
  index = 0;
  history.clear();
  history.push_back(read_file(path.string()));
}

void managed_file::write() { store_file(path, content()); }

std::string managed_file::content() { return history.empty() ? std::string() : history[index]; }

void managed_file::undo() {
  if (index > 0) --index;
  write();
  controller.notify_file_changed(*this);
}

void managed_file::redo() {
  if (index + 1 < history.size()) ++index;
  write();
  controller.notify_file_changed(*this);
}

void managed_file::add_save_point(const std::string& text, bool write_to_disk) {
  while (!history.empty() && index + 1 < history.size()) history.pop_back();
  history.push_back(text);
  index = history.size() - 1;
  if (write_to_disk) write();
  controller.notify_file_changed(*this);
}

bool managed_file::reload_if_changed() {
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (st.type() == fs::file_type::not_found || st.type() == fs::file_type::none) return true;
  std::string text;
  try {
    text = read_file(path.string());
  } catch (const std::exception& e) {
    const file_stamp now = file_stamp::of(path);
    if (!warned_unreadable_ || now != unreadable_)
      log_warn << e.what() << "; its last content read is kept." << std::endl;
    unreadable_ = now;
    warned_unreadable_ = true;
    return false;
  }
  warned_unreadable_ = false;
  if (text == content()) return false;
  add_save_point(text, false);  // the file already holds it
  return true;
}

managed_header::managed_header(const fs::path& p, vesk::main_controller& owner, std::string project_name)
    : managed_file(p, owner), project(std::move(project_name)) {
  parse();
}

managed_header::~managed_header() = default;

void managed_header::parse() {
  // The current entry, not the disk: after a failed write the descriptions still follow
  // the history the user sees.
  blocks = vesk::annotations::parse_text(content(), path.string(), project);
}

void managed_header::undo() {
  managed_file::undo();
  parse();
  controller.send_block_list();
}

void managed_header::redo() {
  managed_file::redo();
  parse();
  controller.send_block_list();
}

void managed_header::add_save_point(const std::string& text, bool write_to_disk) {
  managed_file::add_save_point(text, write_to_disk);
  parse();
  // An outside edit reaches the block list through the project's flag and the next poll.
  if (write_to_disk) controller.send_block_list();
}

}  // namespace vesk
