#pragma once
// Passing a script's standard output and error on line by line, each line rewritten by
// a filter first: how vesk-cli adds to the C++ compiler's messages the block they are
// about. The script writes into two pipes; what it wrote leaves on our own standard
// output and error, in the order each stream wrote it.

#include <functional>
#include <string>

namespace vesk {

/// Rewrites one line of a script's output (without its line end) before it is passed on.
using line_filter = std::function<std::string(const std::string&)>;

/// The two pipes of one script run and the line each has begun.
class output_relay {
 public:
  /// Makes the pipes; throws, naming the reason, when they cannot be made.
  explicit output_relay(line_filter filter);
  /// Closes what is still open (the text of an unended line is passed on first).
  ~output_relay();
  output_relay(const output_relay&) = delete;
  output_relay& operator=(const output_relay&) = delete;

  /// In the child, before the exec: its standard output and error become the pipes.
  void attach_child() const;
  /// In the parent, after the fork: closes the pipes' ends that the child writes.
  void close_child_ends();
  /// The read end of stream `i` (0 output, 1 error); -1 once it ended.
  int read_end(int i) const { return read_[i]; }
  /// Reads what is there of both streams without waiting, up to what a pipe holds of
  /// each, and passes its ended lines on.
  void drain();
  /// Drains, passes on the text of an unended line and closes the read ends: the script
  /// has ended, and a process it left behind must not keep us waiting.
  void finish();

 private:
  /// Passes on the ended lines of stream `i`; `all` also passes what follows the last.
  void pass_on(int i, bool all);
  line_filter filter_;
  int read_[2] = {-1, -1};
  int write_[2] = {-1, -1};
  std::string pending_[2];
};

}  // namespace vesk
