#pragma once
// Test helper: collects the finished messages of a log stream while it lives and puts
// the stream's sink and enabled flag back afterwards.

#include <string>
#include <vector>

#include "foundation/log_stream.h"

/// Captures every message of one log stream for the lifetime of the object.
class log_capture {
 public:
  explicit log_capture(log_stream& stream)
      : stream_(stream), saved_sink_(stream.sink), saved_enabled_(stream.enabled) {
    stream_.enabled = true;
    stream_.sink = [this](const char* text, size_t len) { lines.emplace_back(text, len); };
  }
  ~log_capture() {
    stream_.sink = saved_sink_;
    stream_.enabled = saved_enabled_;
  }
  log_capture(const log_capture&) = delete;
  log_capture& operator=(const log_capture&) = delete;

  std::vector<std::string> lines;  ///< one entry per finished message, in order

 private:
  log_stream& stream_;
  log_stream::sink_fn saved_sink_;
  bool saved_enabled_;
};
