#pragma once
// The subscription tables of the model link and the fan-out of the model's data packets
// (32 signal values, 33 parameter values) into one binary message per editor session.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "backend/type_def.h"

namespace vesk {

/// One signal (parameter) that at least one session subscribed.
struct subscription {
  std::string name;
  uint64_t index = 0;  ///< position in the published definition list
  /// (position of the session in the session list, position of the name in its list)
  std::vector<std::pair<size_t, size_t>> subscribers;
};

/// Entries in the order the names were first met; the model streams them in this order.
using subscription_table = std::vector<subscription>;

/// Builds a table from the published definitions (none when null) and each session's
/// name list, in session order. Names without a definition are skipped; the first
/// definition of a name wins.
subscription_table build_subscriptions(const definition_list& definitions,
                                       const std::vector<const std::vector<std::string>*>& name_lists);

/// The names of `names` that the published `definitions` do not define, each once, in
/// list order; none when nothing is published (no model online), as nothing is subscribed
/// then.
std::vector<std::string> undefined_names(const definition_list& definitions, const std::vector<std::string>& names);

/// The payload of a DAQ or PAQ list packet: one u32 per entry, its index.
std::string index_payload(const subscription_table& table);

/// What a data packet carries per record, besides the index and size fields.
enum class data_kind {
  signals,    ///< packet 32 to tag 1: 8 bytes passed on (a time stamp) before the value
  parameters  ///< packet 33 to tag 2: the value only
};

/// Cuts one data packet into a message per session: `messages` gets `session_count`
/// entries, each empty (nothing for that session) or the tag followed by the records
/// that concern it, in packet order. Records naming no table entry are skipped, and so
/// are subscribers at or beyond `session_count`. Returns "" when the whole payload was
/// read; otherwise why the rest was dropped (the records before it are delivered).
std::string fan_out(const subscription_table& table, data_kind kind, const uint8_t* payload, size_t length,
                    size_t session_count, std::vector<std::string>& messages);

/// Lists sent to the model and not yet acknowledged. An acknowledgement that nothing
/// asked for leaves the count at 0 instead of wrapping it to a huge number, which would
/// make every later data packet look stale.
class ack_counter {
 public:
  void sent() { ++pending_; }
  void acknowledged() {
    if (pending_ > 0) --pending_;
  }
  void clear() { pending_ = 0; }
  /// Whether data may be taken as matching the current list.
  bool settled() const { return pending_ == 0; }
  uint64_t pending() const { return pending_; }

 private:
  uint64_t pending_ = 0;
};

}  // namespace vesk
