#include "foundation/log_place.h"

#include <string>
#include <utility>

namespace vesk {

namespace {
// The programs are single-threaded; a place belongs to the scope that made it.
log_place* innermost = nullptr;
}  // namespace

log_place::log_place(std::string place, kind_t kind) : place_(std::move(place)), kind_(kind), outer_(innermost) {
  innermost = this;
}

log_place::log_place(const std::string& file, const unsigned long& line)
    : kind_(source_line), outer_(innermost), file_(&file), line_(&line) {
  innermost = this;
}

log_place::~log_place() {
  // Places end in the reverse order of their making, as scopes do.
  innermost = outer_;
}

void log_place::set(std::string place) {
  place_ = std::move(place);
  line_ = nullptr;
}

std::string log_place::text() const { return line_ == nullptr ? place_ : *file_ + ":" + std::to_string(*line_); }

std::string log_place::placed(const std::string& text) {
  const log_place* p = innermost;
  if (p == nullptr) return text;
  const std::string place = p->text();
  if (place.empty()) return text;
  if (p->kind_ != suffix) {
    // A line that names its file already ("a.h:7: ...") keeps its own line number.
    const size_t colon = place.rfind(':');
    const size_t head = colon == std::string::npos ? place.size() : colon + 1;
    if (text.compare(0, head, place, 0, head) == 0) return text;
    return place + " " + text;
  }
  return text.find(place) != std::string::npos ? text : text + " in " + place;
}

std::string log_place::suffix_place() {
  return innermost != nullptr && innermost->kind_ == suffix ? innermost->place_ : std::string();
}

}  // namespace vesk
