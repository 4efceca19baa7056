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

  /// Makes an enabled stream that delivers to `sink`.
  explicit log_stream(sink_fn sink);

  /// While false, finished messages are dropped (the parsers silence log_debug so).
  bool enabled = true;

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
  /// Lines dropped within the current second.
  size_t dropped_this_second() const { return dropped_now_; }
  /// Lines dropped since the last call; counts afresh.
  size_t take_dropped();

 private:
  size_t max_lines_, max_bytes_;
  clock::time_point start_;  ///< of the current second
  size_t lines_ = 0, bytes_ = 0, dropped_now_ = 0;
  size_t dropped_ = 0;  ///< since take_dropped
};

