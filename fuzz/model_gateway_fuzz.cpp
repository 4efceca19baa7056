// libFuzzer target over the gateway's packet handlers: definition batches, signal and
// parameter values, and acknowledgements, with arbitrary payloads. The first byte picks
// the handler, the rest is the payload. Every record delivered must lie inside the
// payload; the sanitizers catch reads past it, crashes and unbounded recursion.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "backend/data_fanout.h"
#include "backend/type_def.h"
#include "foundation/log_stream.h"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
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
  switch (op % 4) {
    case 0: {
      vesk::json list = vesk::json::make_array(nullptr, 0);
      vesk::parse_definition_batch(p, n, list);
      for (const vesk::json& def : list.array_elements()) check(def.is_object(), "a definition that is no object");
      list.dump();
      break;
    }
    case 1:
    case 2: {
      vesk::subscription_table table(3);
      table[0].subscribers = {{0, 0}, {1, 2}};
      table[1].subscribers = {{1, 0}, {5, 1}};
      table[2].subscribers = {{0, 7}};
      const bool signals = op % 4 == 1;
      std::vector<std::string> messages;
      vesk::fan_out(table, signals ? vesk::data_kind::signals : vesk::data_kind::parameters, p, n, 2, messages);
      check(messages.size() == 2, "one message per session");
      size_t total = 0;
      for (const std::string& m : messages) total += m.size();
      // Each record reaches at most two positions; tags add two bytes per message.
      check(total <= 2 * n + 4, "more bytes delivered than the payload holds");
      break;
    }
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
