#include "foundation/log_stream.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <vector>

#include "foundation/log_place.h"

log_stream::log_buf::log_buf(log_stream* owner)
    : std::stringbuf(std::ios_base::in | std::ios_base::out), owner(owner) {}

int log_stream::log_buf::sync() {
  // Emptied first: the sink, or a warning about dropped lines, may log on this very stream.
  std::string text = str();
  str(std::string());
  if (owner->enabled && owner->sink) {
    size_t len = text.size();
    // One trailing line end is the message terminator, not part of the message.
    if (len > 1 && text[len - 1] == '\n') --len;
    if (owner->placed) {
      text.resize(len);
      text = vesk::log_place::placed(text);
      len = text.size();
    }
    if (peer_lines::admit()) owner->sink(text.data(), len);
  }
  return 0;
}

log_stream::log_stream(sink_fn s, bool placed) : std::ostream(nullptr), placed(placed), buf_(this), sink(std::move(s)) {
  rdbuf(&buf_);
}

log_stream::sink_fn make_stdout_sink(const char* prefix) {
  return [prefix](const char* text, size_t len) { write_log_line(std::cout, prefix, std::string_view(text, len)); };
}

void write_log_line(std::ostream& out, std::string_view prefix, std::string_view text) {
  std::string line;
  append_log_line(line, prefix, text);
  out.write(line.data(), static_cast<std::streamsize>(line.size() - 1));
  out << std::endl;
}

void append_log_line(std::string& out, std::string_view prefix, std::string_view text) {
  static const char hex[] = "0123456789abcdef";
  out.reserve(out.size() + prefix.size() + text.size() + 1);
  out += prefix;
  size_t plain = 0;  // where the text not yet written begins
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    char escaped[6] = {'\\', 'x', '0', '0', '0', '0'};
    size_t length = 0, taken = 0;
    if ((c < 0x20 && c != '\t') || c == 0x7f) {
      escaped[2] = hex[c >> 4];
      escaped[3] = hex[c & 15];
      length = 4;
      taken = 1;
    } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
      escaped[1] = 'u';
      escaped[4] = hex[next >> 4];
      escaped[5] = hex[next & 15];
      length = 6;
      taken = 2;
    } else {
      continue;
    }
    out.append(text.data() + plain, i - plain);
    out.append(escaped, length);
    i += taken - 1;
    plain = i + 1;
  }
  out.append(text.data() + plain, text.size() - plain);
  out += '\n';
}

log_stream log_debug(make_stdout_sink("Debug: "));
log_stream log_info(make_stdout_sink("Info:  "));
// Warnings and errors name the user file they are about wherever they are written.
log_stream log_warn(make_stdout_sink("Warn:  "), true);
log_stream log_err(make_stdout_sink("Error: "), true);

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
  if (stream.placed) {
    const std::string text = vesk::log_place::placed(std::string(buffer, len));
    if (peer_lines::admit()) stream.sink(text.data(), text.size());
    return;
  }
  if (peer_lines::admit()) stream.sink(buffer, len);
}

bool per_second_budget::take(clock::time_point now, size_t size) {
  if (over(now)) {
    start_ = now;
    lines_ = bytes_ = 0;
  }
  if (lines_ < max_lines_ && bytes_ < max_bytes_) {
    ++lines_;
    bytes_ += size;
    return true;
  }
  ++dropped_;
  return false;
}

size_t per_second_budget::take_dropped() {
  const size_t n = dropped_;
  dropped_ = 0;
  return n;
}

namespace {

peer_lines* current_cause = nullptr;  ///< the innermost peer_lines::cause, null outside one
std::vector<peer_lines*>& all_peer_lines() {
  static std::vector<peer_lines*> all;
  return all;
}

}  // namespace

peer_lines::peer_lines(std::string who, size_t lines) : who_(std::move(who)), lines_(lines), budget_(lines) {
  all_peer_lines().push_back(this);
}

peer_lines::~peer_lines() {
  std::vector<peer_lines*>& all = all_peer_lines();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

peer_lines::cause::cause(peer_lines& lines) : saved_(current_cause) { current_cause = &lines; }
peer_lines::cause::~cause() { current_cause = saved_; }

bool peer_lines::take(per_second_budget::clock::time_point now) {
  // The count of a second that dropped lines comes before the next second's first line.
  if (budget_.over(now)) note_dropped();
  return budget_.take(now, 0);
}

bool peer_lines::take_line() { return take(per_second_budget::clock::now()); }

bool peer_lines::admit() {
  return current_cause == nullptr || current_cause->take(per_second_budget::clock::now());
}

void peer_lines::note_all() {
  const auto now = per_second_budget::clock::now();
  for (peer_lines* p : std::vector<peer_lines*>(all_peer_lines())) {
    if (p->budget_.over(now)) p->note_dropped();
  }
}

void peer_lines::note_dropped() {
  const size_t dropped = budget_.take_dropped();
  if (dropped == 0) return;
  // The warning itself is no peer's line: it is never dropped.
  struct outside_causes {
    peer_lines* saved = current_cause;
    outside_causes() { current_cause = nullptr; }
    ~outside_causes() { current_cause = saved; }
  } outside;
  log_warn << who_ << ": " << dropped << " log lines were dropped (at most " << lines_ << " a second are logged)."
           << std::endl;
}
