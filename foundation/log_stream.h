#pragma once
// The four global log streams. Code writes to them like std::cout and ends a message
// with std::endl; each program decides where finished messages go by replacing `sink`.

#include <cstddef>
#include <functional>
#include <ostream>
#include <sstream>

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

/// Makes the default sink of a stream: prints `prefix`, the text and a line end on stdout.
log_stream::sink_fn make_stdout_sink(const char* prefix);

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
