#include "backend/folder_removals.h"

#include <algorithm>
#include <string>

#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace fs = std::filesystem;

namespace {

/// The beginning of the hidden names that removals of `folder` rename it to.
std::string hidden_prefix(const fs::path& folder) { return "." + folder.filename().string() + ".removed-"; }

/// Removes up to `budget` entries of the deepest folder entered in `stack`, counting them
/// off: a folder found in it is entered instead, a folder emptied to its end is removed and
/// left. False when an entry cannot be removed (`failed` and `ec` then say which and why).
bool remove_some(std::vector<fs::path>& stack, size_t& budget, fs::path& failed, std::error_code& ec) {
  const fs::path dir = stack.back();
  fs::directory_iterator it(dir, ec);
  if (ec == std::errc::no_such_file_or_directory) {
    ec.clear();
    stack.pop_back();
    return true;
  }
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (budget == 0) return true;  // the rest with the next slice
    failed = it->path();
    // Never followed: a link inside goes as a link, whatever it leads to.
    const fs::file_status st = it->symlink_status(ec);
    if (ec) return false;
    if (st.type() == fs::file_type::directory) {
      stack.push_back(failed);
      return true;
    }
    if (!fs::remove(failed, ec) && ec) return false;
    --budget;
  }
  failed = dir;
  if (ec || (!fs::remove(dir, ec) && ec)) return false;
  stack.pop_back();
  if (budget > 0) --budget;
  return true;
}

}  // namespace

folder_removals::folder_removals(vesk::io::event_list& events) : timer_(events, 0, [this] { slice(); }) {}

void folder_removals::take(const fs::path& hidden) {
  for (const auto& f : folders_)
    if (f.front() == hidden) return;
  folders_.push_back({hidden});
  if (timer_.period == 0) timer_.set_interval(slice_gap_ms);
}

std::error_code folder_removals::remove(const fs::path& folder) {
  std::error_code ec;
  const fs::path parent = folder.parent_path();
  const std::string prefix = hidden_prefix(folder);
  for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (starts_with(name, prefix) && it->symlink_status(ec).type() == fs::file_type::directory) take(it->path());
  }
  ec.clear();
  const fs::file_status st = fs::symlink_status(folder, ec);
  if (!fs::exists(st)) return {};
  if (st.type() != fs::file_type::directory) {
    fs::remove(folder, ec);
    return ec;
  }
  fs::path hidden;
  for (unsigned n = 1; hidden.empty() || fs::exists(fs::symlink_status(hidden, ec)); ++n)
    hidden = parent / (prefix + std::to_string(n));
  fs::rename(folder, hidden, ec);
  if (!ec) take(hidden);
  return ec;
}

void folder_removals::slice() {
  size_t budget = slice_entries;
  while (budget > 0 && !folders_.empty()) {
    std::vector<fs::path>& stack = folders_.front();
    fs::path failed;
    std::error_code ec;
    if (!remove_some(stack, budget, failed, ec)) {
      log_err << "clean_build_dir: unable to remove " << failed.string() << ": " << ec.message() << "; "
              << stack.front().string() << " is left as it is." << std::endl;
      stack.clear();
    }
    if (stack.empty()) folders_.erase(folders_.begin());
  }
  if (folders_.empty()) timer_.set_interval(0);
}

}  // namespace vesk
