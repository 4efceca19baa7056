#include "cli/file_write.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"

namespace vesk {

namespace fs = std::filesystem;

void write_text_file(const fs::path& path, const std::string& text) {
  const fs::path tmp = path.string() + ".tmp" + std::to_string(::getpid());
  bool ok;
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    ok = static_cast<bool>(out);
    if (ok) ok = static_cast<bool>(out.write(text.data(), static_cast<std::streamsize>(text.size())));
    if (ok) ok = static_cast<bool>(out.flush());
  }
  // rename() replaces the target in one step; it fails for a folder in the way.
  if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    std::error_code ec;
    fs::remove(tmp, ec);
    throw_bt_exception("Unable to write file: " + path.string());
  }
}

bool write_if_changed(const fs::path& path, const std::string& text) {
  if (path_exists(path) && read_file(path.string()) == text) return false;
  write_text_file(path, text);
  return true;
}

}  // namespace vesk
