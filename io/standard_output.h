#pragma once
// The back end's standard output and error, written without ever waiting for their
// reader: a pager that is not scrolled, a terminal stopped with Ctrl-S or a `tee` that has
// ended must cost log lines there, never the loop, the editor or the pending writes.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace vesk::io {

class event_list;

/// One standard descriptor written without blocking. What the reader does not take at
/// once waits, within pending_limit, and is written when the descriptor has room (the
/// event loop watches it) or with the next line; a line that finds the bound full is
/// dropped whole and counted, and once everything waiting has left one line says how many
/// were dropped. A reader that is gone drops every line. Pipes, FIFOs and terminals get a
/// description of their own to be non-blocking, so the one shared with the shell and the
/// other programs of a pipeline keeps its flags; where none can be had (another user's
/// terminal, a FIFO without a reader), a thread of its own writes to the shared one, which
/// may block it but never the caller, and what waits for it is bounded and counted alike.
class standard_output {
 public:
  /// Bytes of lines that may wait for a slow or paused reader; a line begun within it is
  /// kept whole.
  static constexpr size_t pending_limit = 1u << 20;
  /// How long finish waits for the reader to take what waits.
  static constexpr std::chrono::milliseconds finish_wait{1000};

  /// Writes to descriptor `fd` from now on (1 or 2). `reopen` false acts as if no
  /// description of its own could be had (for tests).
  explicit standard_output(int fd, bool reopen = true);
  /// finish, then the own description is closed.
  ~standard_output();
  standard_output(const standard_output&) = delete;
  standard_output& operator=(const standard_output&) = delete;

  /// Writes `line` (one or more whole lines, each ended by '\n') as far as the reader takes
  /// it now; the rest waits or is dropped, as described above.
  void write(std::string_view line);
  /// Writes what waits whenever `events` sees room on the descriptor; null stops that, as
  /// must happen before the event list goes.
  void watch(event_list* events);
  /// Waits up to finish_wait for the reader to take what waits; what is left is dropped.
  void finish();

 private:
  struct watcher;
  struct writer;
  /// Bytes that wait for the reader.
  size_t waiting() const { return pending_.size() - sent_; }
  /// Writes `bytes` now; returns how many the reader took (all of them when it is gone).
  size_t write_now(const char* bytes, size_t size);
  /// Writes what waits as far as the reader takes it; then the note of dropped lines.
  void send_pending();
  /// Asks the event loop to tell when there is room.
  void arm();

  int fd_;                  ///< the descriptor written: fd itself or a description of our own
  int shared_fd_;           ///< the standard descriptor given
  bool own_ = false;        ///< fd_ is a description of our own, closed at the end
  bool socket_ = false;     ///< written with send(MSG_DONTWAIT), which leaves the flags alone
  bool gone_ = false;       ///< the reader is gone for good (EPIPE, EIO)
  std::string pending_;     ///< lines the reader has not taken, from sent_ on
  size_t sent_ = 0;         ///< the beginning of pending_ that has left
  size_t dropped_ = 0;      ///< lines dropped since the last note
  std::unique_ptr<watcher> watcher_;  ///< while an event loop watches for room
  std::shared_ptr<writer> writer_;    ///< the thread that writes a shared blocking description
};

/// The program's standard output, made on first use.
standard_output& standard_out();
/// The program's standard error, made on first use.
standard_output& standard_err();

/// Writes `prefix` and `text` as one line on standard error, escaped as log lines are.
void write_error_line(std::string_view prefix, std::string_view text);

}  // namespace vesk::io
