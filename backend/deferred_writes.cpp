#include "backend/deferred_writes.h"

#include <algorithm>
#include <exception>

#include "foundation/log_stream.h"

namespace vesk {

deferred_writes::deferred_writes(vesk::io::event_list& events) : timer_(events, 0, [this] { flush(); }) {}

// Nothing is run here: the owners are gone by now, each having written its own file (the
// controller's teardown flushes first, and an owner flushes its own as it goes).
deferred_writes::~deferred_writes() = default;

void deferred_writes::mark(const void* owner, std::function<void()> write) {
  if (pending(owner)) return;
  // The first change starts the wait; the ones after it within the delay ride along.
  if (pending_.empty()) timer_.set_interval(delay_ms);
  pending_.emplace_back(owner, std::move(write));
}

void deferred_writes::flush(const void* owner) {
  auto it = std::find_if(pending_.begin(), pending_.end(), [owner](const auto& p) { return p.first == owner; });
  if (it == pending_.end()) return;
  std::function<void()> write = std::move(it->second);
  pending_.erase(it);
  if (pending_.empty()) timer_.set_interval(0);
  run(write);
}

void deferred_writes::flush() {
  timer_.set_interval(0);
  // Taken first: a write may mark again (its owner changes while it is stored).
  std::vector<std::pair<const void*, std::function<void()>>> now;
  now.swap(pending_);
  for (const auto& p : now) run(p.second);
}

bool deferred_writes::pending(const void* owner) const {
  return std::any_of(pending_.begin(), pending_.end(), [owner](const auto& p) { return p.first == owner; });
}

void deferred_writes::run(const std::function<void()>& write) {
  try {
    write();
  } catch (const std::exception& e) {
    log_err << "A file was not written: " << e.what() << std::endl;
  }
}

}  // namespace vesk
