#include "foundation/log_stream.h"

#include <cstdarg>
#include <cstdio>
#include <iostream>

log_stream::log_buf::log_buf(log_stream* owner)
    : std::stringbuf(std::ios_base::in | std::ios_base::out), owner(owner) {}

int log_stream::log_buf::sync() {
  if (owner->enabled && owner->sink) {
    std::string text = str();
    size_t len = text.size();
    // One trailing line end is the message terminator, not part of the message.
    if (len > 1 && text[len - 1] == '\n') --len;
    owner->sink(text.data(), len);
  }
  str(std::string());
  return 0;
}

log_stream::log_stream(sink_fn s) : std::ostream(nullptr), buf_(this), sink(std::move(s)) {
  rdbuf(&buf_);
}

log_stream::sink_fn make_stdout_sink(const char* prefix) {
  return [prefix](const char* text, size_t len) {
    std::cout << prefix;
    std::cout.write(text, static_cast<std::streamsize>(len));
    std::cout << std::endl;
  };
}

log_stream log_debug(make_stdout_sink("Debug: "));
log_stream log_info(make_stdout_sink("Info:  "));
log_stream log_warn(make_stdout_sink("Warn:  "));
log_stream log_err(make_stdout_sink("Error: "));

void log_printf(log_stream& stream, const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  // vsnprintf reports the length it wanted, which may exceed what the buffer holds.
  size_t len = n < 0 ? 0 : static_cast<size_t>(n);
  if (len > sizeof buffer - 1) len = sizeof buffer - 1;
  if (!stream.sink) throw std::bad_function_call();
  stream.sink(buffer, len);
}
