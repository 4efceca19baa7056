#include "cli/json_input.h"

#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_stream.h"

namespace vesk {

namespace fs = std::filesystem;

namespace {

/// While alive, notes where the JSON parser reported its first error on log_err; the
/// reports still reach the sink that was there before.
class parse_error_watch {
 public:
  parse_error_watch() : saved_(log_err.sink) {
    log_err.sink = [this](const char* text, size_t len) {
      note(std::string_view(text, len));
      if (saved_) saved_(text, len);
    };
  }
  ~parse_error_watch() { log_err.sink = saved_; }
  parse_error_watch(const parse_error_watch&) = delete;
  parse_error_watch& operator=(const parse_error_watch&) = delete;

  /// Throws naming `file` and the first error's place when the parser reported one. The
  /// parser counts lines from 0, and columns from 0 on the first line but from 1 on the
  /// others; the place is given the way editors count, both from 1.
  void check(const fs::path& file) const {
    if (!seen_) return;
    const unsigned long long column = line_ == 0 ? column_ + 1 : column_;
    throw_bt_exception(file.lexically_normal().string() + ":" + std::to_string(line_ + 1) + ":" +
                       std::to_string(column) + ": syntax error in JSON text");
  }

 private:
  // The parser's report: "json_parse_error in line: <line>,<column>  <message>".
  void note(std::string_view message) {
    static constexpr std::string_view marker = "json_parse_error in line: ";
    if (seen_ || message.substr(0, marker.size()) != marker) return;
    const std::string place(message.substr(marker.size(), 48));
    char* end = nullptr;
    line_ = std::strtoull(place.c_str(), &end, 10);
    column_ = *end == ',' ? std::strtoull(end + 1, nullptr, 10) : 0;
    seen_ = true;
  }

  log_stream::sink_fn saved_;
  bool seen_ = false;
  unsigned long long line_ = 0;
  unsigned long long column_ = 0;
};

/// Runs `read` (which parses the text of `file`) under a watch. A malformed number is a
/// syntax error too, one the parser throws without a place.
template <class F>
auto read_checked(const fs::path& file, F read) {
  parse_error_watch watch;
  try {
    auto result = read();
    watch.check(file);
    return result;
  } catch (const std::invalid_argument&) {
    throw_bt_exception(file.lexically_normal().string() + ": malformed number in JSON text");
  } catch (const std::out_of_range&) {
    throw_bt_exception(file.lexically_normal().string() + ": number out of range in JSON text");
  }
}

}  // namespace

std::unique_ptr<project_config_file> read_project_config(const fs::path& path) {
  return read_checked(path, [&] { return std::make_unique<project_config_file>(path); });
}

json read_model_file(const fs::path& path) {
  return read_checked(path, [&] { return json::parse(read_file(path.string())); });
}

}  // namespace vesk
