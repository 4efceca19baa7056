#include "cli/cli_output.h"

#include <algorithm>
#include <iostream>

#include "foundation/log_stream.h"

namespace vesk {

const char* const usage_text =
    "\nUsage:\nvesk-cli [options] <vcfg-file>\n\nOptions:\n"
    "    -h, --help          print this text and exit\n"
    "    -b, --build         compile the model, prepare the build directory, run ./build\n"
    "    -s, --start         run ./start in the build directory\n"
    "    -go, --gui-output   also print the compiler's messages for the editor as \"j: \" lines\n"
    "    -nt, --no-try       run build, then start, even with -b or -s; no result checks\n"
    "\nvesk-cli <vcfg-file> is the same as vesk-cli -b -s <vcfg-file>\n\n";

const std::vector<std::string> option_names = {"-h",  "--help",       "-b",  "--build", "-s", "--start",
                                               "-go", "--gui-output", "-nt", "--no-try"};

namespace {

size_t error_line_count = 0;
size_t excused_line_count = 0;

void write_line(const char* prefix, const char* text, size_t len) {
  std::cout << prefix;
  std::cout.write(text, static_cast<std::streamsize>(len));
  std::cout << '\n';
  std::cout.flush();
}

}  // namespace

void cli_sink_debug(const char* text, size_t len) { write_line("d: ", text, len); }
void cli_sink_info(const char* text, size_t len) { write_line("i: ", text, len); }
void cli_sink_warn(const char* text, size_t len) { write_line("w: ", text, len); }
void cli_sink_err(const char* text, size_t len) {
  ++error_line_count;
  write_line("e: ", text, len);
}

size_t error_lines_written() { return error_line_count; }

void excuse_error_lines(size_t count) { excused_line_count = std::min(error_line_count, excused_line_count + count); }

size_t failing_error_lines() { return error_line_count - excused_line_count; }

void install_cli_sinks() {
  log_debug.sink = cli_sink_debug;
  log_info.sink = cli_sink_info;
  log_warn.sink = cli_sink_warn;
  log_err.sink = cli_sink_err;
}

void print_json_message(vesk::json message) {
  const std::string text = message.dump();
  write_line("j: ", text.data(), text.size());
}

void ignore_json_message(vesk::json) {}

std::string quote_path(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace vesk
