#pragma once
// The single-threaded epoll loop and the base of every object it watches.

#include <sys/epoll.h>

#include <cstdint>
#include <functional>

namespace vesk::io {

/// Owns the epoll instance and runs one wait with its dispatch at a time; the
/// program's main loop calls wait_and_dispatch while it runs.
class event_list {
 public:
  event_list();
  virtual ~event_list();
  event_list(const event_list&) = delete;
  event_list& operator=(const event_list&) = delete;

  /// One epoll_wait (at most 5 events, 1000 ms) and the handlers of its events. A batch
  /// ends early when a registered object was removed or destroyed by a handler; the
  /// events not run are reported again by the next wait (all registrations are
  /// level-triggered). Exceptions of handlers pass through.
  void wait_and_dispatch();

  int epoll_fd = -1;     ///< the epoll descriptor
  bool changed = false;  ///< set when a registered object is removed or destroyed
};

/// Base of every object whose descriptor the loop watches. Never copied or moved:
/// epoll holds its address.
class event {
 public:
  explicit event(event_list& list);
  virtual ~event();
  event(const event&) = delete;
  event& operator=(const event&) = delete;

  /// Adds `fd` to epoll with the current mask (derived classes, once the descriptor exists).
  void register_fd();
  /// Sets the mask and tells epoll (EPOLL_CTL_MOD) when it differs from the current one.
  void modify_mask(uint32_t mask);
  /// Removes the descriptor from epoll, closes it (only values above 0, so a standard
  /// descriptor is never touched), sets `fd` to 0 and marks the list changed.
  void close_fd();

  int fd = -1;                 ///< -1 before opening, 0 after closing
  epoll_event registration{};  ///< mask and the address of this object
  event_list& list;            ///< the owning loop

  std::function<void()> on_event_in;   ///< readable
  std::function<void()> on_event_out;  ///< writable
  std::function<void()> on_event_hup;  ///< hang-up (the descriptor is already closed)
};

}  // namespace vesk::io
