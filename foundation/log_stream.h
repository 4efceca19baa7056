#pragma once
// The four global log streams. Code writes to them like std::cout and ends a message
// with std::endl; each program decides where finished messages go by replacing `sink`.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

/// An output stream that hands every finished (flushed) message to a replaceable sink.
class log_stream : public std::ostream {
 public:
  /// Receives the message text (not terminated, valid only during the call) and its length.
  using sink_fn = std::function<void(const char*, size_t)>;

  /// Stream buffer whose sync() passes the collected text to the owning stream's sink.
  class log_buf : public std::stringbuf {
   public:
    explicit log_buf(log_stream* owner);
    log_stream* owner;

   protected:
    int sync() override;
  };

  /// Makes an enabled stream that delivers to `sink`; `placed` as the member below.
  explicit log_stream(sink_fn sink, bool placed = false);

  /// While false, finished messages are dropped (the parsers silence log_debug so).
  bool enabled = true;
  /// Whether messages get the place of the user file they are about (vesk::log_place):
  /// set for warnings and errors.
  bool placed;

 private:
  log_buf buf_;

 public:
  /// Where finished messages go; may be empty (then they are dropped).
  sink_fn sink;
};

extern log_stream log_debug;
extern log_stream log_info;
extern log_stream log_warn;
extern log_stream log_err;

/// Formats like printf into a 256-byte buffer and hands the result (at most 255 bytes)
/// straight to the stream's sink, bypassing its buffer. Throws std::bad_function_call
/// when the stream has no sink.
void log_printf(log_stream& stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

/// Makes the default sink of a stream: prints `prefix`, the text and a line end on stdout
/// (through write_log_line).
log_stream::sink_fn make_stdout_sink(const char* prefix);

/// Writes `prefix`, `text` and a line end to `out`, then flushes. The text may come from a
/// peer, a child or a file, and a terminal acts on control characters: every one of them
/// but the tab is written escaped, C0 controls and DEL as \xHH, C1 controls (U+0080 to
/// U+009F in UTF-8) as \u00HH, so no line can retitle or clear the terminal, move its
/// cursor or start a line of its own (docs/vesk.md, "Output").
void write_log_line(std::ostream& out, std::string_view prefix, std::string_view text);

/// Appends what write_log_line writes, its line end included, to `out`: for an output
/// that must not be written through a stream.
void append_log_line(std::string& out, std::string_view prefix, std::string_view text);

/// Saves a stream's `enabled` flag, clears it and puts it back when leaving the scope,
/// also when an exception passes.
class log_silencer {
 public:
  explicit log_silencer(log_stream& stream) : stream_(stream), saved_(stream.enabled) {
    stream_.enabled = false;
  }
  ~log_silencer() { stream_.enabled = saved_; }
  log_silencer(const log_silencer&) = delete;
  log_silencer& operator=(const log_silencer&) = delete;

 private:
  log_stream& stream_;
  bool saved_;
};

/// Lines a peer may make the back end log within one second: the first `lines` of each
/// second, within `bytes` of their text (a line begun within them is taken whole), are
/// taken and the rest only counted. Whatever a peer's rate, logging then holds the loop a
/// bounded time per second.
class per_second_budget {
 public:
  using clock = std::chrono::steady_clock;
  explicit per_second_budget(size_t lines, size_t bytes = SIZE_MAX) : max_lines_(lines), max_bytes_(bytes) {}
  /// Whether the second that the latest take began has passed at `now`.
  bool over(clock::time_point now) const { return now - start_ >= std::chrono::seconds(1); }
  /// Whether a line of `size` bytes may be logged at `now`; if not, it is counted as dropped.
  bool take(clock::time_point now, size_t size);
  /// Lines dropped since the last call; counts afresh.
  size_t take_dropped();

 private:
  size_t max_lines_, max_bytes_;
  clock::time_point start_;  ///< of the current second
  size_t lines_ = 0, bytes_ = 0;
  size_t dropped_ = 0;  ///< since take_dropped
};

/// The log lines one kind of peer may cause, within a per_second_budget. While a
/// peer_lines::cause of it lives, every message finished on any log stream counts against
/// it, and past the budget it is counted instead of reaching the sink. One warning a second
/// says how many were dropped: before the first line taken after a second that dropped
/// some, or at note_all (the back end's file poll), whichever comes first. So however fast
/// a peer makes lines, the output, the log history and the editor get a bounded number.
class peer_lines {
 public:
  /// `who` begins the warning ("Model port", "The editor"); `lines` a second.
  peer_lines(std::string who, size_t lines);
  ~peer_lines();
  peer_lines(const peer_lines&) = delete;
  peer_lines& operator=(const peer_lines&) = delete;

  /// Marks every message finished while it lives as caused by the peer of `lines`; the
  /// innermost cause counts.
  class cause {
   public:
    explicit cause(peer_lines& lines);
    ~cause();
    cause(const cause&) = delete;
    cause& operator=(const cause&) = delete;

   private:
    peer_lines* saved_;
  };

  /// Whether a message may be logged under the innermost cause (always without one): what
  /// the log streams ask before their sink.
  static bool admit();
  /// Whether one line of this peer may be logged now, for a caller that asks before it
  /// makes the line (outside a cause), so that a flood of them costs no formatting; past
  /// the budget the line is counted as dropped.
  bool take_line();
  /// Writes the warning of every peer_lines whose lines were dropped in a second that is
  /// over.
  static void note_all();

 private:
  /// Whether a message may be logged at `now`; else it is counted.
  bool take(per_second_budget::clock::time_point now);
  /// Writes the warning of the lines dropped since the last one, if any.
  void note_dropped();

  std::string who_;
  size_t lines_;  ///< the budget's lines a second, named in the warning
  per_second_budget budget_;
};
