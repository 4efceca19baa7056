#include "backend/deferred_writes.h"

#include <algorithm>
#include <exception>
#include <system_error>

#include "foundation/log_stream.h"

namespace vesk {

namespace fs = std::filesystem;

namespace {

/// The file a path leads to, for comparing names of one file; as given when that fails.
fs::path followed(const fs::path& file) {
  std::error_code ec;
  fs::path real = fs::weakly_canonical(file, ec);
  return ec ? file.lexically_normal() : real.lexically_normal();
}

}  // namespace

deferred_writes::deferred_writes(vesk::io::event_list& events) : timer_(events, 0, [this] { flush(); }) {}

// Nothing is run here: the owners are gone by now, each having written its own file (the
// controller's teardown flushes first, and an owner flushes its own as it goes).
deferred_writes::~deferred_writes() = default;

void deferred_writes::mark(const void* owner, const fs::path& file, std::function<void()> write) {
  if (pending(owner)) return;
  // The first change starts the wait; the ones after it within the delay ride along.
  if (pending_.empty()) timer_.set_interval(delay_ms);
  pending_.push_back(entry{owner, followed(file), std::move(write)});
}

void deferred_writes::flush(const void* owner) {
  auto it = std::find_if(pending_.begin(), pending_.end(), [owner](const entry& e) { return e.owner == owner; });
  if (it == pending_.end()) return;
  std::function<void()> write = std::move(it->write);
  pending_.erase(it);
  if (pending_.empty()) timer_.set_interval(0);
  run(write);
}

void deferred_writes::flush_file(const fs::path& file) {
  const fs::path real = followed(file);
  flush_where([&real](const entry& e) { return e.file == real; });
}

void deferred_writes::flush_except(const std::vector<const void*>& kept) {
  flush_where([&kept](const entry& e) { return std::find(kept.begin(), kept.end(), e.owner) == kept.end(); });
}

void deferred_writes::flush_where(const std::function<bool(const entry&)>& now) {
  // Taken first, as in flush: a write may mark again.
  std::vector<entry> taken;
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (now(*it)) {
      taken.push_back(std::move(*it));
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
  // The writes left keep the wait their first mark began.
  if (pending_.empty()) timer_.set_interval(0);
  for (const entry& e : taken) run(e.write);
}

void deferred_writes::flush() {
  timer_.set_interval(0);
  // Taken first: a write may mark again (its owner changes while it is stored).
  std::vector<entry> now;
  now.swap(pending_);
  for (const entry& e : now) run(e.write);
}

bool deferred_writes::pending(const void* owner) const {
  return std::any_of(pending_.begin(), pending_.end(), [owner](const entry& e) { return e.owner == owner; });
}

void deferred_writes::run(const std::function<void()>& write) {
  try {
    write();
  } catch (const std::exception& e) {
    log_err << "A file was not written: " << e.what() << std::endl;
  }
}

}  // namespace vesk
