#pragma once
// Periodic timers on the event loop, one timerfd each.

#include <cstdint>
#include <functional>

#include "io/event_list.h"

namespace vesk::io {

/// Runs `callback` every period; several expiries missed while the loop was busy give
/// one call. A period of 0 ms leaves the timer disarmed.
class timer : public event {
 public:
  /// Creates the timerfd (monotonic, non-blocking), arms it with `ms` and registers it.
  timer(event_list& list, unsigned long ms, std::function<void()> callback);
  ~timer() override;

  /// Re-arms with a new period (first expiry one full period from now) or, with 0, disarms.
  void set_interval(unsigned long ms);

  std::function<void()> callback;  ///< run at each expiry
  uint64_t period = 0;             ///< nanoseconds; 0 = disarmed
};

}  // namespace vesk::io
