#pragma once
// One thread per raster of the model. A periodic raster ticks at fixed points in time
// (start time + k * interval, slept to as absolute times, so it does not drift); an
// asynchronous raster ticks whenever its poll() returns. The first run of either is
// init_tick(), every further one tick(); final() runs once, in the raster's own thread,
// when it stops.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <vesk/rt/model.h>

#include "signal_printer.h"

namespace linux_runtime {

/// Orders the runs of periodic rasters that fall on the same time: a raster runs its
/// tick due at time t only after every faster raster (shorter interval; on equal
/// intervals the one registered first) has finished its run due at or before t. This is
/// what fixed priorities by rate give on a real-time system, and it makes values passed
/// from a fast to a slow raster the same from run to run.
class tick_order {
 public:
  /// Registers a periodic raster; returns its slot.
  size_t add(int64_t interval_ns);
  /// Blocks until the faster rasters have done their runs due at or before
  /// `due_offset_ns` (time since the common start); returns early after cancel().
  void wait_turn(size_t slot, int64_t due_offset_ns);
  /// Records that the run of `slot` due at `due_offset_ns` is finished.
  void done(size_t slot, int64_t due_offset_ns);
  /// Records that `slot` will run no more, so nobody waits for it.
  void ended(size_t slot);
  /// Releases every waiting raster for good (the run is being stopped).
  void cancel();

 private:
  struct entry {
    int64_t interval_ns;
    int64_t done_upto = -1;
    bool ended = false;
  };
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<entry> entries_;
  bool cancelled_ = false;
};

class raster_runner {
 public:
  /// `signals` are the indices (into the model's signals) of this raster's signals that
  /// are printed; they are sampled after every tick.
  raster_runner(vesk::rt::raster& raster, const vesk::rt::array_view<vesk::rt::signal_exporter>& all,
                std::vector<size_t> signals);
  ~raster_runner();
  raster_runner(const raster_runner&) = delete;
  raster_runner& operator=(const raster_runner&) = delete;

  /// Registers a periodic raster with `order`; call before any start().
  void join_order(tick_order& order);
  /// Starts the thread. Periodic rasters tick first at `start`; with `run_ns` > 0 they
  /// run exactly as many times as their tick times fall into [start, start + run_ns).
  /// `on_end` is called from the thread after final(). `order` (periodic rasters only,
  /// may be null) lines up runs that fall on the same time.
  void start(vesk::time start, int64_t run_ns, tick_order* order, std::function<void()> on_end);
  /// Called in the raster's thread after every run with the time the run was due (periodic)
  /// or fired (asynchronous); set before start(). It must not wait for long.
  std::function<void(vesk::time)> after_tick;
  /// Asks the raster to stop after its current run; safe from any thread.
  void request_stop();
  /// Whether the thread has called final() and ended its work.
  bool ended() const;
  /// Waits for the thread (only call after ended(), or when willing to block).
  void join();
  /// Lets the thread go; for a raster that does not return from poll().
  void detach();

  /// The latest samples of this raster's printed signals, keyed like `signal_indices()`.
  std::vector<sample> samples() const;
  const std::vector<size_t>& signal_indices() const { return signals_; }

  const std::string& name() const { return raster_.name; }
  bool is_periodic() const { return raster_.is_sync; }
  /// Runs done so far (init_tick included) and those that began more than one
  /// interval after their time.
  uint64_t runs() const;
  uint64_t late_runs() const;
  /// The text of an exception that ended the raster, empty when none did.
  std::string failure() const;

 private:
  void run_periodic(vesk::time start, int64_t run_ns, tick_order* order);
  void run_async();
  void run_once(bool first, vesk::time when);
  void take_samples();
  bool stop_requested();

  vesk::rt::raster& raster_;
  const vesk::rt::array_view<vesk::rt::signal_exporter>& all_;
  std::vector<size_t> signals_;

  mutable std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool ended_ = false;
  uint64_t runs_ = 0;
  uint64_t late_ = 0;
  std::string failure_;
  std::vector<sample> samples_;
  std::thread thread_;
  size_t order_slot_ = 0;
};

/// Number of tick times start + k * interval (k >= 0) that fall before start + run_ns:
/// the runs of a periodic raster in a limited run.
uint64_t runs_within(int64_t run_ns, int64_t interval_ns);

}  // namespace linux_runtime
