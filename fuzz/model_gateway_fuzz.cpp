// libFuzzer target over the gateway's packet handlers: definition batches, signal and
// parameter values, acknowledgements, and the handshake's intake of definition batches,
// with arbitrary payloads. The first byte picks the handler, the rest is the payload (for
// the intake, a sequence of events). Every record delivered must lie inside the payload,
// and no batch may be taken that no request of a running handshake waits for; the
// sanitizers catch reads past the payload, crashes and unbounded recursion.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "backend/data_fanout.h"
#include "backend/definition_intake.h"
#include "backend/type_def.h"
#include "foundation/json.h"
#include "foundation/log_stream.h"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
  }
}

/// Runs the events {u8 what; u8 length; length payload bytes} through an intake: what % 5
/// is 0 start a handshake, 1 stop it, 2 a new read, 3 a signal batch, 4 a parameter batch.
void run_intake(const uint8_t* p, size_t n) {
  using intake = vesk::definition_intake;
  intake in;
  uint64_t read = 1;
  uint64_t asked_in = 0;  // the read in which the awaited batch was asked for
  bool ended = true;      // the parameter list ended since the last start
  for (size_t at = 0; at + 2 <= n;) {
    const uint8_t what = p[at] % 5;
    const size_t length = std::min<size_t>(p[at + 1], n - at - 2);
    const std::vector<uint8_t> payload(p + at + 2, p + at + 2 + length);
    at += 2 + length;
    if (what == 0) {
      in.start(read);
      asked_in = read;
      ended = false;
      continue;
    }
    if (what == 1) in.stop();
    if (what == 2) ++read;
    if (what < 3) continue;
    const intake::list_kind kind = what == 3 ? intake::list_kind::signals : intake::list_kind::parameters;
    const bool awaited = in.awaits(kind) && read > asked_in;
    const size_t before = in.signals.size() + in.parameters.size();
    std::string cut;
    const intake::verdict v = in.take(kind, payload.data(), payload.size(), read, cut);
    const size_t after = in.signals.size() + in.parameters.size();
    check((v != intake::verdict::unasked) == awaited, "a batch taken that nothing waited for, or one refused");
    if (v == intake::verdict::unasked) check(after == before, "an unasked batch changed the lists");
    if (v == intake::verdict::over_limit) check(after == 0, "definitions kept past their bound");
    if (v == intake::verdict::end && kind == intake::list_kind::parameters) {
      check(!ended, "a handshake ended twice");
      ended = true;
    }
    check(after <= intake::max_entries, "more entries than the bound");
    check(in.signals.text().size() + in.parameters.text().size() <= intake::max_text, "more text than the bound");
    if (v != intake::verdict::unasked) asked_in = read;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (log_debug.enabled = false, true);
  (void)quiet;
  if (size == 0) return 0;
  const uint8_t op = data[0];
  // A copy of exactly the payload, so that a read past it is a heap overflow.
  std::vector<uint8_t> payload(data + 1, data + size);
  const uint8_t* p = payload.data();
  const size_t n = payload.size();
  static vesk::ack_counter acks;
  switch (op % 5) {
    case 0: {
      vesk::definition_list list;
      list.open();
      vesk::definition_room room;
      room.text_end = 4096;  // bounded here too: the room is checked as each entry is taken
      try {
        list.append_batch(p, n, room);
      } catch (const vesk::definition_room_exhausted&) {
        break;
      }
      check(list.text().size() <= room.text_end, "more text than the room");
      list.close();
      const vesk::json defs = vesk::json::parse(list.text());
      check(defs.is_array() && defs.size() == list.size(), "the text is not the list of its records");
      for (const vesk::json& def : defs.array_elements()) check(def.is_object(), "a definition that is no object");
      break;
    }
    case 1:
    case 2: {
      vesk::subscription_table table(3);
      table[0].subscribers = {{0, 0}, {1, 2}};
      table[1].subscribers = {{1, 0}, {5, 1}};
      table[2].subscribers = {{0, 7}};
      const bool signals = op % 5 == 1;
      std::vector<std::string> messages;
      vesk::fan_out(table, signals ? vesk::data_kind::signals : vesk::data_kind::parameters, p, n, 2, messages);
      check(messages.size() == 2, "one message per session");
      size_t total = 0;
      for (const std::string& m : messages) total += m.size();
      // Each record reaches at most two positions; tags add two bytes per message.
      check(total <= 2 * n + 4, "more bytes delivered than the payload holds");
      break;
    }
    case 4:
      run_intake(p, n);
      break;
    default:
      for (size_t i = 0; i < n; ++i) {
        if (p[i] & 1) {
          acks.sent();
        } else {
          acks.acknowledged();
        }
      }
      check(acks.pending() <= (uint64_t(1) << 40), "the pending count wrapped");
      break;
  }
  return 0;
}
