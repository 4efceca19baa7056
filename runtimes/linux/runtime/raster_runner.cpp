#include "raster_runner.h"

#include <chrono>
#include <exception>
#include <limits>
#include <utility>

namespace linux_runtime {

namespace {

std::chrono::steady_clock::time_point steady(vesk::time t) {
  return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(t.ns()));
}

}  // namespace

size_t tick_order::add(int64_t interval_ns) {
  std::lock_guard<std::mutex> g(lock_);
  entries_.push_back(entry{interval_ns});
  return entries_.size() - 1;
}

void tick_order::wait_turn(size_t slot, int64_t due_offset_ns) {
  std::unique_lock<std::mutex> l(lock_);
  const entry& me = entries_[slot];
  changed_.wait(l, [&] {
    if (cancelled_) return true;
    for (size_t j = 0; j < entries_.size(); ++j) {
      const entry& other = entries_[j];
      bool faster = other.interval_ns < me.interval_ns || (other.interval_ns == me.interval_ns && j < slot);
      if (!faster || other.ended) continue;
      // The other raster's last tick time at or before ours.
      int64_t need = due_offset_ns / other.interval_ns * other.interval_ns;
      if (other.done_upto < need) return false;
    }
    return true;
  });
}

void tick_order::done(size_t slot, int64_t due_offset_ns) {
  {
    std::lock_guard<std::mutex> g(lock_);
    entries_[slot].done_upto = due_offset_ns;
  }
  changed_.notify_all();
}

void tick_order::ended(size_t slot) {
  {
    std::lock_guard<std::mutex> g(lock_);
    entries_[slot].ended = true;
  }
  changed_.notify_all();
}

void tick_order::cancel() {
  {
    std::lock_guard<std::mutex> g(lock_);
    cancelled_ = true;
  }
  changed_.notify_all();
}

uint64_t runs_within(int64_t run_ns, int64_t interval_ns) {
  if (run_ns <= 0 || interval_ns <= 0) return 0;
  uint64_t run = static_cast<uint64_t>(run_ns);
  uint64_t step = static_cast<uint64_t>(interval_ns);
  return run / step + (run % step != 0 ? 1 : 0);
}

raster_runner::raster_runner(vesk::rt::raster& raster,
                             const vesk::rt::array_view<vesk::rt::signal_exporter>& all,
                             std::vector<size_t> signals)
    : raster_(raster), all_(all), signals_(std::move(signals)), samples_(signals_.size()) {}

raster_runner::~raster_runner() {
  if (thread_.joinable()) {
    request_stop();
    thread_.join();
  }
}

void raster_runner::join_order(tick_order& order) { order_slot_ = order.add(raster_.interval.ns()); }

void raster_runner::start(vesk::time start, int64_t run_ns, tick_order* order, std::function<void()> on_end) {
  thread_ = std::thread([this, start, run_ns, order, on_end = std::move(on_end)] {
    try {
      if (raster_.is_sync)
        run_periodic(start, run_ns, order);
      else
        run_async();
    } catch (const std::exception& e) {
      std::lock_guard<std::mutex> g(lock_);
      failure_ = e.what();
    } catch (...) {
      std::lock_guard<std::mutex> g(lock_);
      failure_ = "an unknown exception";
    }
    // final() runs also after a failed tick, so that nodes can release what they hold.
    try {
      raster_.final();
    } catch (const std::exception& e) {
      std::lock_guard<std::mutex> g(lock_);
      if (failure_.empty()) failure_ = std::string("final(): ") + e.what();
    } catch (...) {
      std::lock_guard<std::mutex> g(lock_);
      if (failure_.empty()) failure_ = "final(): an unknown exception";
    }
    if (order != nullptr && raster_.is_sync) order->ended(order_slot_);
    {
      std::lock_guard<std::mutex> g(lock_);
      ended_ = true;
    }
    on_end();
  });
}

void raster_runner::run_periodic(vesk::time start, int64_t run_ns, tick_order* order) {
  const int64_t interval = raster_.interval.ns();
  const uint64_t limit = run_ns > 0 ? runs_within(run_ns, interval) : std::numeric_limits<uint64_t>::max();
  for (uint64_t k = 0; k < limit; ++k) {
    const vesk::time due = start + raster_.interval * static_cast<int64_t>(k);
    {
      std::unique_lock<std::mutex> l(lock_);
      if (wake_.wait_until(l, steady(due), [this] { return stop_; })) return;
    }
    // Late runs are not skipped: every tick time gets its run, so a limited run always
    // makes the same number of ticks.
    if (vesk::time::now() - due > raster_.interval) {
      std::lock_guard<std::mutex> g(lock_);
      ++late_;
    }
    const int64_t offset = (due - start).ns();
    if (order != nullptr) {
      order->wait_turn(order_slot_, offset);
      if (stop_requested()) return;
    }
    run_once(k == 0, due);
    if (order != nullptr) order->done(order_slot_, offset);
  }
}

void raster_runner::run_async() {
  raster_.init();
  bool first = true;
  while (!stop_requested()) {
    const vesk::time fired = raster_.poll();
    if (stop_requested()) return;
    run_once(first, fired);
    first = false;
  }
}

void raster_runner::run_once(bool first, vesk::time when) {
  if (first)
    raster_.init_tick();
  else
    raster_.tick();
  take_samples();
  if (after_tick) after_tick(when);
}

void raster_runner::take_samples() {
  std::lock_guard<std::mutex> g(lock_);
  ++runs_;
  for (size_t i = 0; i < signals_.size(); ++i) samples_[i] = read_signal(all_[signals_[i]]);
}

bool raster_runner::stop_requested() {
  std::lock_guard<std::mutex> g(lock_);
  return stop_;
}

void raster_runner::request_stop() {
  {
    std::lock_guard<std::mutex> g(lock_);
    stop_ = true;
  }
  wake_.notify_all();
}

bool raster_runner::ended() const {
  std::lock_guard<std::mutex> g(lock_);
  return ended_;
}

void raster_runner::join() {
  if (thread_.joinable()) thread_.join();
}

void raster_runner::detach() {
  if (thread_.joinable()) thread_.detach();
}

std::vector<sample> raster_runner::samples() const {
  std::lock_guard<std::mutex> g(lock_);
  return samples_;
}

uint64_t raster_runner::runs() const {
  std::lock_guard<std::mutex> g(lock_);
  return runs_;
}

uint64_t raster_runner::late_runs() const {
  std::lock_guard<std::mutex> g(lock_);
  return late_;
}

std::string raster_runner::failure() const {
  std::lock_guard<std::mutex> g(lock_);
  return failure_;
}

}  // namespace linux_runtime
