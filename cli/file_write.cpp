#include "cli/file_write.h"

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"

namespace vesk {

namespace fs = std::filesystem;

void write_text_file(const fs::path& path, const std::string& text) {
  if (!write_file(path.string(), text)) throw_bt_exception("Unable to write file: " + path.string());
}

bool write_if_changed(const fs::path& path, const std::string& text) {
  if (path_exists(path) && read_file(path.string()) == text) return false;
  write_text_file(path, text);
  return true;
}

}  // namespace vesk
