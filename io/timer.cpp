#include "io/timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

namespace vesk::io {

timer::timer(event_list& l, unsigned long ms, std::function<void()> cb) : event(l), callback(std::move(cb)) {
  on_event_in = [this] {
    uint64_t expiries = 0;
    if (fd > 0) {
      ssize_t n = ::read(fd, &expiries, sizeof expiries);
      (void)n;  // the count does not matter: one call for any number of expiries
    }
    // From a copy: the callback may destroy this timer.
    std::function<void()> run = callback;
    run();
  };
  fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  set_interval(ms);
  register_fd();
}

timer::~timer() { callback = nullptr; }

void timer::set_interval(unsigned long ms) {
  period = static_cast<uint64_t>(ms) * 1000000u;
  itimerspec spec{};
  spec.it_value.tv_sec = static_cast<time_t>(period / 1000000000u);
  spec.it_value.tv_nsec = static_cast<long>(period % 1000000000u);
  spec.it_interval = spec.it_value;
  if (fd > 0) ::timerfd_settime(fd, 0, &spec, nullptr);
}

}  // namespace vesk::io
