#include "io/event_list.h"

#include <unistd.h>

#include "foundation/bt_exception.h"

namespace vesk::io {

event_list::event_list() { epoll_fd = ::epoll_create1(0); }

event_list::~event_list() {
  if (epoll_fd > 0) ::close(epoll_fd);
}

void event_list::wait_and_dispatch() {
  constexpr int max_events = 5;
  epoll_event ready[max_events];
  int count = ::epoll_wait(epoll_fd, ready, max_events, 1000);
  for (int i = 0; i < count; ++i) {
    if (changed) {
      changed = false;
      return;
    }
    event* e = static_cast<event*>(ready[i].data.ptr);
    uint32_t what = ready[i].events;
    // Handlers run from a copy: a handler that destroys its own object would otherwise
    // destroy the function that is running. After it, only `changed` is read.
    if (what & EPOLLHUP) {
      e->close_fd();
      std::function<void()> handler = e->on_event_hup;
      handler();
      changed = false;
      return;
    }
    if (what & EPOLLIN) {
      std::function<void()> handler = e->on_event_in;
      handler();
      if (changed) {
        changed = false;
        return;
      }
    }
    if (what & EPOLLOUT) {
      std::function<void()> handler = e->on_event_out;
      handler();
    }
  }
}

event::event(event_list& l) : list(l) {
  registration.events = EPOLLIN;
  registration.data.ptr = this;
  on_event_in = [] { throw_bt_exception("event: event.on_event_in not overwriten..."); };
  on_event_out = [] { throw_bt_exception("event: event.on_event_out not overwriten..."); };
  on_event_hup = [] { throw_bt_exception("event: event.on_event_hup not overwriten..."); };
}

event::~event() {
  close_fd();
  list.changed = true;
}

void event::register_fd() {
  if (fd > 0) ::epoll_ctl(list.epoll_fd, EPOLL_CTL_ADD, fd, &registration);
}

void event::modify_mask(uint32_t mask) {
  // Level-triggered: telling epoll the mask it has changes nothing but costs a system call
  // on every send.
  if (mask == registration.events) return;
  registration.events = mask;
  if (fd > 0) ::epoll_ctl(list.epoll_fd, EPOLL_CTL_MOD, fd, &registration);
}

void event::close_fd() {
  if (fd > 0) {
    ::epoll_ctl(list.epoll_fd, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    fd = 0;
  }
  list.changed = true;
}

}  // namespace vesk::io
