#pragma once
// The model's definitions as one handshake collects them: the signal list, then the
// parameter list, each as batches (packets 17 and 18) that answer one request each.
#include <cstddef>
#include <cstdint>
#include <string>

#include "backend/type_def.h"

namespace vesk {

/// Collects the definitions of one handshake within bounds. A batch is taken only while
/// a request of the handshake waits for it, and only from a read after the one during
/// which that request went out (bytes of the same read were sent before it): a model
/// cannot make the back end work, publish or answer out of step with the handshake, nor
/// more than one batch of a list per read. Every batch taken, empty ones included,
/// counts against the bounds. Reads are numbered by the link's connection.
class definition_intake {
 public:
  /// Which list a batch belongs to.
  enum class list_kind { signals, parameters };
  /// What a batch did.
  enum class verdict {
    unasked,     ///< no request waited for it, or it came before the request: dropped, nothing changed
    more,        ///< taken; the next batch of the same list is awaited (ask for it)
    end,         ///< the list is complete; after the signals, the first parameter batch is awaited
    over_limit,  ///< past max_entries or max_bytes: everything collected is dropped, nothing awaited
    over_text,   ///< past max_text: likewise
  };

  /// Both lists together make at most this many entries (records and their members) ...
  static constexpr size_t max_entries = 1000000;
  /// ... from at most this many bytes of batch frames (payload and framing), since every
  /// entry costs far more memory than its bytes on the link.
  static constexpr size_t max_bytes = 64u << 20;
  /// Both lists' JSON text, as the back-end state message carries it, is at most this
  /// long. It is what the definitions cost: the text is kept and sent to the editor, so
  /// the state fits the editor's connection and a handshake's memory stays within a few
  /// times this, whatever the model sends.
  static constexpr size_t max_text = 16u << 20;

  definition_intake();

  /// Starts a handshake whose first request goes out during or after read `read`: empty
  /// lists, the first signal batch awaited.
  void start(uint64_t read);
  /// Ends it without a result (time-out, lost link): nothing awaited, the lists dropped.
  void stop();
  /// Whether a request waits for a batch of `kind`.
  bool awaits(list_kind kind) const;
  /// Takes one batch of `kind` that came in read `read`; the next request goes out during
  /// that read. `why_cut` gets why the rest of a batch taken was dropped ("" when it was
  /// decoded whole).
  verdict take(list_kind kind, const uint8_t* bytes, size_t length, uint64_t read, std::string& why_cut);

  definition_list signals;     ///< the signal definitions collected (null until their list is asked for)
  definition_list parameters;  ///< likewise the parameter definitions

 private:
  /// The list whose next batch is awaited.
  enum class phase { idle, signals, parameters } phase_ = phase::idle;
  uint64_t asked_in_ = 0;  ///< the read during or after which the awaited batch was asked for
  size_t entries_ = 0;  ///< made since start
  size_t bytes_ = 0;    ///< of the batch frames taken since start
};

}  // namespace vesk
