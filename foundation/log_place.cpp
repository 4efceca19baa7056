#include "foundation/log_place.h"

#include <utility>

namespace vesk {

namespace {
// The programs are single-threaded; a place belongs to the scope that made it.
log_place* innermost = nullptr;
}  // namespace

log_place::log_place(std::string place, kind_t kind) : place_(std::move(place)), kind_(kind), outer_(innermost) {
  innermost = this;
}

log_place::~log_place() {
  // Places end in the reverse order of their making, as scopes do.
  innermost = outer_;
}

void log_place::set(std::string place) { place_ = std::move(place); }

std::string log_place::placed(const std::string& text) {
  const log_place* p = innermost;
  if (p == nullptr || p->place_.empty()) return text;
  if (p->kind_ == prefix) {
    // A line that names its file already ("a.h:7: ...") keeps its own line number.
    const size_t colon = p->place_.rfind(':');
    const size_t head = colon == std::string::npos ? p->place_.size() : colon + 1;
    return text.compare(0, head, p->place_, 0, head) == 0 ? text : p->place_ + ": " + text;
  }
  return text.find(p->place_) != std::string::npos ? text : text + " in " + p->place_;
}

std::string log_place::suffix_place() {
  return innermost != nullptr && innermost->kind_ == suffix ? innermost->place_ : std::string();
}

}  // namespace vesk
