#pragma once
// The standard-output line protocol of vesk-cli: every log message leaves as one line
// with a prefix naming its level ("d: ", "i: ", "w: ", "e: "), and the compiler's
// messages for the editor leave as "j: " lines of compact JSON. The back end reads these
// lines from a pipe, so each one is flushed as soon as it is written.

#include <cstddef>
#include <string>
#include <vector>

#include "foundation/json.h"

namespace vesk {

/// The text printed for "-h", "--help" or an empty command line (a line end follows it).
extern const char* const usage_text;

/// Every option the program knows, short and long forms.
extern const std::vector<std::string> option_names;

/// Sinks of the four log streams: prefix, the message bytes unchanged, a line end, flush.
void cli_sink_debug(const char* text, size_t len);
void cli_sink_info(const char* text, size_t len);
void cli_sink_warn(const char* text, size_t len);
void cli_sink_err(const char* text, size_t len);

/// How many "e: " lines cli_sink_err has written.
size_t error_lines_written();

/// Marks `count` of the lines written as ones that do not fail the run (the faults of a
/// node source that the model does not use).
void excuse_error_lines(size_t count);

/// The "e: " lines written and not excused; any of them makes the run a failure.
size_t failing_error_lines();

/// Points log_debug, log_info, log_warn and log_err at the sinks above.
void install_cli_sinks();

/// Writes one "j: " line with the compact text of `message`.
void print_json_message(vesk::json message);

/// Drops the message: what the compiler gets when no editor listens.
void ignore_json_message(vesk::json message);

/// `text` between double quotes, with a backslash before every double quote and backslash.
std::string quote_path(const std::string& text);

}  // namespace vesk
