#pragma once
// The state of one parse of a node source, shared by the source scanner, the
// declaration grammar and the annotation grammar (and by the state-machine generator,
// which reads its variable text with a state of its own).

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "annotations/block.h"

namespace vesk::annotations {

/// Codes of `parser_state::expect`: what the next code line is to complete.
enum expect_code : uint32_t {
  expect_nothing = 0,
  expect_input = 1,        ///< next member declaration is the announced input
  expect_output = 2,       ///< ... the announced output
  expect_parameter = 3,    ///< ... the announced parameter
  expect_function = 4,     ///< next function declaration is the node's function
  expect_class = 5,        ///< next class or struct is the node's class
  expect_init = 7,         ///< next method is an init call
  expect_tick = 8,         ///< next method is a tick call
  expect_final = 9,        ///< next method is a final call
  expect_auto = 10,        ///< an automatic node is announced
  expect_auto_body = 11,   ///< collecting the body of an automatic class
  expect_auto_reparse = 12 ///< the collected body is being re-parsed
};

/// Text of an open block. Appends like a stream and reads back with str(); a plain
/// string keeps a block small, since deeply nested sources hold one block per level.
class block_text {
 public:
  block_text& operator<<(const std::string& s) {
    text_ += s;
    return *this;
  }
  block_text& operator<<(const char* s) {
    text_ += s;
    return *this;
  }
  block_text& operator<<(char c) {
    text_ += c;
    return *this;
  }
  /// Everything written so far.
  const std::string& str() const { return text_; }

 private:
  std::string text_;
};

/// One open {} block of the source.
struct bracket {
  /// Makes a block opened on `line_nr` with an on_close that does nothing.
  explicit bracket(uint64_t line_nr = 0, uint64_t line_ends = 0);

  /// The block's text as collected by the scanner.
  block_text text;
  /// Line of its "{"; 0 for the root block.
  uint64_t line_nr = 0;
  /// Run when the block closes (a namespace line makes it pop the namespace).
  std::function<void()> on_close;

  /// Line ends are owed to every open block, one per source line. Writing them
  /// eagerly costs time proportional to the nesting depth on every line, so the
  /// scanner only counts them (`parser_state::line_ends`) and a block catches up
  /// before its text is written or read. `line_ends_seen` is the count it has caught
  /// up to. Only blocks on the bracket stack are owed line ends: the unstacked block
  /// that stands in after a surplus "}" never catches up.
  uint64_t line_ends_seen = 0;
  /// Writes the line ends owed up to `line_ends` into `text`.
  void catch_up(uint64_t line_ends);
};

/// The state of one parse.
struct parser_state {
  std::shared_ptr<block_base> current_block;         ///< node being filled
  std::shared_ptr<block_class> ccb;                  ///< current class block
  std::shared_ptr<block_function> current_function;  ///< current function block
  std::shared_ptr<bracket> current_bracket;          ///< innermost open block
  uint32_t expect = expect_nothing;  ///< what the next code line completes
  bool bracket_on_line = false;      ///< a "{" stood on the current line
  uint32_t auto_depth = 0;  ///< blocks open inside an automatic class body (expect 11)
  std::vector<std::string> links;          ///< "@link" entries in order
  std::vector<std::string> compile_files;  ///< "@compile" entries in order
  std::vector<std::shared_ptr<block_base>> result;  ///< verified nodes, source order
  std::filesystem::path dir;               ///< parent folder of the parsed file
  std::vector<std::string> namespaces;     ///< open namespaces, innermost last

  /// Number of line ends that every open block is owed so far (see bracket::catch_up).
  uint64_t line_ends = 0;
};

}  // namespace vesk::annotations
