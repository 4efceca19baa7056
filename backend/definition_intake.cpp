#include "backend/definition_intake.h"

#include "backend/type_def.h"
#include "io/s2p.h"

namespace vesk {

definition_intake::definition_intake() { stop(); }

void definition_intake::start(uint64_t read) {
  stop();
  phase_ = phase::signals;
  asked_in_ = read;
  signals.open(max_text);
}

void definition_intake::stop() {
  phase_ = phase::idle;
  signals.clear();
  parameters.clear();
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
  definition_list& list = kind == list_kind::signals ? signals : parameters;
  definition_list& other = kind == list_kind::signals ? parameters : signals;
  verdict over = bytes_ > max_bytes ? verdict::over_limit : verdict::more;
  if (over == verdict::more && length > 0) {
    // The room left for this list's text: the bound less the other list's text and the
    // closing of both arrays, which follows.
    const size_t closings = 2 * (2 * definition_list::element_depth);
    const size_t used = other.text().size() + closings;
    definition_room room{max_entries - entries_, max_text > used ? max_text - used : 0};
    try {
      why_cut = list.append_batch(bytes, length, room);
    } catch (const definition_room_exhausted&) {
      over = room.entries == 0 ? verdict::over_limit : verdict::over_text;
    }
    entries_ = max_entries - room.entries;
  }
  if (over != verdict::more) {
    stop();
    return over;
  }
  if (length > 0) return verdict::more;
  list.close();
  if (kind == list_kind::signals) {
    phase_ = phase::parameters;
    parameters.open(max_text - signals.text().size());
  } else {
    phase_ = phase::idle;
  }
  return verdict::end;
}

}  // namespace vesk
