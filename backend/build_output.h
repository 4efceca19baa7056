#pragma once
// The build tool's output as the back end reads it: bytes from the pipe cut into lines
// (an unfinished line is kept for the next read), and each line's route by its prefix.
#include <string>
#include <vector>

namespace vesk {

/// Collects pipe bytes and hands out whole lines.
class build_output_lines {
 public:
  /// Appends `bytes` and returns every line now complete, without its '\n'; empty lines
  /// are dropped. With `flush` the unfinished rest counts as a line too (the child ended,
  /// or a poll brought nothing new, so no more of it is coming soon).
  std::vector<std::string> take(const std::string& bytes, bool flush);
  /// Forgets an unfinished line (a new child replaced the old one).
  void clear() { rest_.clear(); }
  /// Whether the unfinished line is (or may become) a "j: " message, which is useless in
  /// pieces and so is held until its line end or the child's end.
  bool holds_message() const;
  /// The unfinished line held back.
  const std::string& rest() const { return rest_; }

 private:
  std::string rest_;
};

/// Where one line goes.
struct build_line_route {
  /// "debug", "info", "warn", "error", "console", or "json" for a message to the editor.
  std::string type;
  /// The text after the prefix; the whole line for "console".
  std::string text;
};

/// Routes a line by its first three characters: "d: ", "i: ", "w: ", "e: ", "j: ";
/// anything else (also a line of one or two characters) is "console".
build_line_route route_build_line(const std::string& line);

}  // namespace vesk
