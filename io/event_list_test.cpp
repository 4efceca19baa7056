#include "io/event_list.h"

#include <sys/timerfd.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/bt_exception.h"
#include "foundation/test_util.h"
#include "io/io_test_util.h"
#include "io/timer.h"
#include "io/ws_test_client.h"

namespace vesk::io {
namespace {

using test_util::open_fd_count;
using test_util::pipe_event;

/// Six ready pipes: how many handlers each of the following waits runs.
TEST(EventList, BatchesHoldFiveAndStopWhenAnObjectGoes) {
  long fds = open_fd_count();
  {
    event_list loop;
    std::vector<std::unique_ptr<pipe_event>> pipes;
    int runs = 0;
    for (int i = 0; i < 6; ++i) {
      pipes.push_back(std::make_unique<pipe_event>(loop));
      pipes.back()->on_read = [&] { ++runs; };
      pipes.back()->poke();
    }
    loop.wait_and_dispatch();
    EXPECT_EQ(runs, 5);
    loop.wait_and_dispatch();
    EXPECT_EQ(runs, 6);

    // Each handler destroys every other pipe: the entries still pending in its batch
    // must not be run (the sanitizer build turns a run into a use-after-free report).
    for (auto& p : pipes) {
      p->on_read = [&, self = p.get()] {
        ++runs;
        for (auto& other : pipes)
          if (other.get() != self) other.reset();
      };
      p->poke();
    }
    runs = 0;
    loop.wait_and_dispatch();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(loop.changed);  // the batch ended and took the mark with it
  }
  EXPECT_EQ(open_fd_count(), fds);
}

TEST(EventList, HangUpEndsTheBatchAfterItsOwnHandler) {
  event_list loop;
  pipe_event gone(loop), other(loop);
  int hups = 0, reads = 0, gone_reads = 0;
  gone.on_event_hup = [&] { ++hups; };
  gone.on_read = [&] { ++gone_reads; };
  other.on_read = [&] { ++reads; };
  gone.hang_up();  // ready first, so it leads the batch
  other.poke();
  loop.wait_and_dispatch();
  EXPECT_EQ(hups, 1);
  EXPECT_EQ(gone_reads, 0);  // input of a hung-up entry is not run
  EXPECT_EQ(reads, 0);
  EXPECT_EQ(gone.fd, 0);
  loop.wait_and_dispatch();
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(hups, 1);
}

TEST(EventList, HandlersNeverSetThrowTheirTexts) {
  event_list loop;
  pipe_event p(loop);
  event bare(loop);
  // The default handlers, as installed by the base, for an object that set none.
  struct row {
    std::function<void()> handler;
    std::string text;
  };
  for (const row& r : std::vector<row>{{bare.on_event_in, "event: event.on_event_in not overwriten..."},
                                       {bare.on_event_out, "event: event.on_event_out not overwriten..."},
                                       {bare.on_event_hup, "event: event.on_event_hup not overwriten..."}})
    expect_throw_what<util::bt_exception>(r.handler, r.text);

  // Through the loop: the first readable event of an object without an input handler.
  p.on_event_in = bare.on_event_in;
  p.poke();
  expect_throw_what<util::bt_exception>([&] { loop.wait_and_dispatch(); }, "event: event.on_event_in not overwriten...");
}

TEST(EventList, AnExceptionLeavesTheRestOfTheBatch) {
  event_list loop;
  pipe_event a(loop), b(loop);
  int runs = 0;
  a.on_read = b.on_read = [&] {
    ++runs;
    throw std::runtime_error("stop");
  };
  a.poke();
  b.poke();
  EXPECT_THROW(loop.wait_and_dispatch(), std::runtime_error);
  EXPECT_EQ(runs, 1);
}

/// The timer's own settings as the kernel holds them, in milliseconds.
struct armed {
  long value_ms, interval_ms;
};
armed settings(const timer& t) {
  itimerspec s{};
  ::timerfd_gettime(t.fd, &s);
  return {s.it_value.tv_sec * 1000 + s.it_value.tv_nsec / 1000000,
          s.it_interval.tv_sec * 1000 + s.it_interval.tv_nsec / 1000000};
}

TEST(Timer, ArmingDisarmingAndPeriods) {
  long fds = open_fd_count();
  {
    event_list loop;
    int fired = 0;
    timer idle(loop, 0, [&] { ++fired; });
    EXPECT_EQ(idle.period, 0u);
    EXPECT_EQ(settings(idle).value_ms, 0);  // disarmed: never fires
    EXPECT_FALSE(test_client::run_ready(loop, 30));

    idle.set_interval(2500);
    EXPECT_EQ(idle.period, 2500000000u);
    armed a = settings(idle);
    EXPECT_EQ(a.interval_ms, 2500);
    EXPECT_GT(a.value_ms, 2400);  // first expiry a whole period from now
    EXPECT_LE(a.value_ms, 2500);
    idle.set_interval(0);
    EXPECT_EQ(settings(idle).value_ms, 0);
    EXPECT_EQ(settings(idle).interval_ms, 0);

    // Several missed expiries make one call.
    timer quick(loop, 5, [&] { ++fired; });
    ::usleep(40000);
    EXPECT_TRUE(test_client::run_ready(loop, 100));
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(test_client::run_ready(loop, 100));  // and it goes on periodically
    EXPECT_EQ(fired, 2);
  }
  EXPECT_EQ(open_fd_count(), fds);
}

TEST(Timer, MayDestroyItselfOrBeEmpty) {
  event_list loop;
  std::unique_ptr<timer> once;
  int fired = 0;
  once = std::make_unique<timer>(loop, 1, [&] {
    ++fired;
    once.reset();  // destroys the timer whose callback is running
  });
  EXPECT_TRUE(test_client::run_ready(loop, 200));
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(once, nullptr);

  timer empty(loop, 1, nullptr);
  EXPECT_THROW(while (!test_client::run_ready(loop, 200)) {}, std::bad_function_call);
}

}  // namespace
}  // namespace vesk::io
