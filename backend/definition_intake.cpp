#include "backend/definition_intake.h"

#include "backend/type_def.h"
#include "io/s2p.h"

namespace vesk {

definition_intake::definition_intake() { stop(); }

void definition_intake::start(uint64_t read) {
  stop();
  phase_ = phase::signals;
  asked_in_ = read;
}

void definition_intake::stop() {
  phase_ = phase::idle;
  signals = vesk::json::make_array(nullptr, 0);
  parameters = vesk::json::make_array(nullptr, 0);
  entries_ = 0;
  bytes_ = 0;
}

bool definition_intake::awaits(list_kind kind) const {
  return phase_ == (kind == list_kind::signals ? phase::signals : phase::parameters);
}

definition_intake::verdict definition_intake::take(list_kind kind, const uint8_t* bytes, size_t length,
                                                   uint64_t read, std::string& why_cut) {
  why_cut.clear();
  if (!awaits(kind) || read <= asked_in_) return verdict::unasked;
  asked_in_ = read;
  bytes_ += length + io::frame::overhead;
  bool over = bytes_ > max_bytes;
  if (!over && length > 0) {
    size_t room = max_entries - entries_;
    try {
      why_cut = parse_definition_batch(bytes, length, kind == list_kind::signals ? signals : parameters, room);
    } catch (const definition_room_exhausted&) {
      over = true;
    }
    entries_ = max_entries - room;
  }
  if (over) {
    stop();
    return verdict::over_limit;
  }
  if (length > 0) return verdict::more;
  phase_ = kind == list_kind::signals ? phase::parameters : phase::idle;
  return verdict::end;
}

}  // namespace vesk
