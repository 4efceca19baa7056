#pragma once
// The build tool's output (and the model's, which it runs) as the back end reads it: pipe
// bytes cut into lines within fixed bounds, and each line's route by its prefix. A child
// may write without end (a model that prints every tick is a real model), so each line
// keeps at most one log entry's worth, each poll keeps a bounded number of lines, and the
// rest is only counted.
#include <cstddef>
#include <string>
#include <vector>

namespace vesk {

/// The most text one line keeps after its prefix: a log entry's size.
constexpr size_t build_text_limit = 64u << 10;
/// The most bytes one line keeps: a three-character prefix and build_text_limit.
constexpr size_t build_line_limit = 3 + build_text_limit;
/// The most lines one poll hands out; later lines that end in the same poll are dropped.
constexpr size_t build_poll_line_limit = 250;
/// The most line bytes one poll hands out (a line begun within it is kept whole).
constexpr size_t build_poll_byte_limit = 1u << 20;
/// The most bytes one poll reads from a child's pipe; the child waits for the rest.
constexpr size_t build_poll_read_limit = 8u << 20;
/// Polls in a row that drop output before the drop note is written all the same.
constexpr unsigned build_drop_note_polls = 25;

/// One line as kept: its first bytes and its whole length.
struct build_output_line {
  /// The line's beginning, at most build_line_limit bytes, without its '\n'.
  std::string text;
  /// The whole line's length; more than text.size() when the line was cut.
  size_t length = 0;
};

/// Cuts pipe bytes into lines. Each byte is looked at once, whatever a line's length.
class build_output_lines {
 public:
  /// Begins a poll: its budget of lines and bytes is full again.
  void start_poll();
  /// Cuts the `size` bytes at `data` into lines and appends the ones that end, while the
  /// poll's budget lasts, to `out`; empty lines are skipped. A line that begins when the
  /// budget is spent is dropped whole, also where it goes on in later polls.
  void take(const char* data, size_t size, std::vector<build_output_line>& out);
  /// Ends the unfinished line as if its line end had come (the child ended, or a poll
  /// brought nothing and the line does not wait).
  void flush(std::vector<build_output_line>& out);
  /// Whether the unfinished line waits for its line end even when a poll brings nothing:
  /// a "j: " message (or what may become one) is useless in pieces, and a dropped line
  /// holds nothing.
  bool waits() const;
  /// Ends the poll. When output was dropped and the dropping has stopped, or the child
  /// `ended`, or it went on for build_drop_note_polls polls, returns the note that says
  /// how much (and counts afresh); otherwise an empty text.
  std::string end_poll(bool ended);
  /// Forgets the unfinished line and the counts (a new child replaced the old one).
  void clear();

 private:
  /// Adds `size` bytes to the unfinished line.
  void append(const char* data, size_t size);
  /// Hands the unfinished line out (or counts it as dropped) and starts the next.
  void end_line(std::vector<build_output_line>& out);

  std::string line_;             ///< the unfinished line's kept beginning
  size_t length_ = 0;            ///< its length so far
  bool dropping_ = false;        ///< it began when the budget was spent
  size_t lines_left_ = build_poll_line_limit;
  size_t bytes_left_ = build_poll_byte_limit;
  size_t dropped_lines_ = 0;     ///< since the last note
  size_t dropped_bytes_ = 0;     ///< since the last note
  bool dropped_now_ = false;     ///< this poll dropped bytes
  unsigned dropping_polls_ = 0;  ///< polls in a row that dropped, since the last note
};

/// The log entry text of a line after its first `skip` bytes: the text as it is when the
/// line was kept whole; else its beginning, repaired to valid UTF-8 within the log entry's
/// size, and a note of how many of the line's bytes were cut.
std::string build_entry_text(const build_output_line& line, size_t skip);

/// Where one line goes.
struct build_line_route {
  /// "debug", "info", "warn", "error", "console", or "json" for a message to the editor.
  std::string type;
  /// The text after the prefix; the whole line for "console".
  std::string text;
  /// How many bytes the prefix takes: 3, or 0 for "console".
  size_t skip = 0;
};

/// Routes a line by its first three characters: "d: ", "i: ", "w: ", "e: ", "j: ";
/// anything else (also a line of one or two characters) is "console".
build_line_route route_build_line(const std::string& line);

}  // namespace vesk
