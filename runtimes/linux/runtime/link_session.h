#pragma once
// The model's side of the link protocol (docs/model-link.md), without the socket: answers
// the back end's packets, holds the DAQ and PAQ lists, and collects the values of the
// subscribed signals that the rasters hand over after each tick.
//
// Everything but tick() and set_wake() runs in the link thread. tick() runs in the raster
// threads; it takes one lock, copies a few values and never waits on the network.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <vesk/rt/model.h>
#include <vesk/time.h>

namespace linux_runtime {
namespace link {

/// Definition batches are cut at about this many payload bytes.
constexpr size_t definition_batch_bytes = 4096;
/// Signal values waiting for the link thread are capped here; a raster finding the
/// buffer full drops its values (the link is not keeping up).
constexpr size_t pending_daq_bytes = 256 * 1024;
/// Parameter values are sent in packets of at most this many payload bytes.
constexpr size_t paq_packet_bytes = 64 * 1024;

class session {
 public:
  /// `start` is time 0 of the time stamps: the rasters' common start.
  session(vesk::rt::model& m, vesk::time start);

  /// A new connection: the lists are forgotten and the definitions start from the top.
  void reset();
  /// Handles one packet from the back end and appends the replies (whole frames) to
  /// `out`. Unknown types and malformed payloads are ignored.
  void handle(uint8_t type, const uint8_t* p, size_t n, std::vector<uint8_t>& out);

  /// Raster thread: raster `raster` finished a run due (or fired) at `when`.
  void tick(size_t raster, vesk::time when);
  /// Called when signal values start waiting (from the thread that stored them).
  void set_wake(std::function<void()> wake) { wake_ = std::move(wake); }
  /// Called once when the back end sends "quit".
  std::function<void()> on_quit = [] {};

  /// Frames the waiting signal values as one packet 32; false when none wait.
  bool take_signal_values(std::vector<uint8_t>& out);
  /// Stores the values of subscribed signals that belong to no raster, stamped `now`.
  void sample_unscheduled(vesk::time now);
  /// Frames the values of the subscribed parameters as packets 33 (none when the PAQ
  /// list is empty).
  void append_parameter_values(std::vector<uint8_t>& out);
  /// Ticks whose values did not fit into the waiting buffer, since the start.
  uint64_t dropped() const;

 private:
  /// One subscribed signal: its position in the DAQ list and its index in the model.
  struct daq_entry {
    uint32_t position;
    size_t signal;
  };

  void send_definitions(bool signals, std::vector<uint8_t>& out);
  void set_daq_list(const uint8_t* p, size_t n);
  void set_paq_list(const uint8_t* p, size_t n);
  bool apply_parameter_values(const uint8_t* p, size_t n);
  void command(const uint8_t* p, size_t n);
  /// Appends the value records of `entries` stamped `when`; false when the buffer is
  /// full. Caller holds lock_.
  bool store_values(const std::vector<daq_entry>& entries, vesk::time when);

  vesk::rt::model& model_;
  const vesk::time start_;
  size_t next_signal_def_ = 0;
  size_t next_parameter_def_ = 0;
  std::vector<uint32_t> paq_;  ///< parameter indices, in PAQ list order
  bool quit_sent_ = false;
  std::vector<uint8_t> spare_;  ///< the other buffer of take_signal_values
  std::function<void()> wake_ = [] {};

  mutable std::mutex lock_;                     ///< guards everything below
  std::vector<std::vector<daq_entry>> daq_by_raster_;
  std::vector<daq_entry> daq_unscheduled_;      ///< signals of no raster
  std::vector<uint8_t> pending_;                ///< value records waiting for the link
  uint64_t dropped_ = 0;
  std::atomic<bool> streaming_{false};          ///< any signal subscribed
};

/// Whether `text` is the command "quit" (trailing NULs and line ends are tolerated).
bool is_quit(const std::string& text);

/// The port in VESK_MODEL_PORT: 0 for none (unset or empty); -1 when `text` is no port
/// number (1 to 65535, decimal digits only).
int parse_port(const char* text);

}  // namespace link
}  // namespace linux_runtime
