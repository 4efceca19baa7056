#pragma once
// The state of one parse of a node source, shared by the source scanner, the
// declaration grammar and the annotation grammar (and by the state-machine generator,
// which reads its variable text with a state of its own).

#include <cstdint>
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

/// One open {} block as the declaration grammar sees it. The texts of the blocks are
/// kept by the scanner (block_text.h), which reads them back itself.
struct bracket {
  /// Makes a block opened on `line_nr` with an on_close that does nothing.
  explicit bracket(uint64_t line_nr = 0);

  /// Line of its "{"; 0 for the root block.
  uint64_t line_nr = 0;
  /// Run when the block closes (a namespace line makes it pop the namespace).
  std::function<void()> on_close;
};

/// What the node descriptions of one file may hold: a real node file describes a
/// handful of nodes, and these bounds keep a hostile one to a few MiB (see
/// docs/node-annotations.md, "Limits").
constexpr size_t kMaxNodesPerFile = 1000;
/// Pins, parameters, constants, calls and call arguments of all nodes of one file.
constexpr size_t kMaxPartsPerFile = 10000;
/// Text taken into the descriptions of one file, each node's copies of the file's
/// namespaces, @link and @compile lists included.
constexpr size_t kMaxTextPerFile = 1 << 20;

/// What one parse has taken so far, against the bounds above.
struct parse_budget {
  size_t nodes = 0;  ///< nodes described
  size_t parts = 0;  ///< pins, parameters, constants, calls and call arguments
  size_t bytes = 0;  ///< text the descriptions copy
  bool spent = false;  ///< a bound was reached: nothing more is taken from the file
};

/// The bound that taking `cost` beside `held` would pass: its number and its unit (one of
/// the k...Bound texts below), or a null unit when all three fit. A bound lowered below
/// what is held lets nothing more in.
struct passed_bound {
  size_t limit = 0;
  const char* unit = nullptr;
};
passed_bound first_passed(const parse_budget& held, const parse_budget& cost, const parse_budget& limit);

/// Adds `cost` to `held` (its counts only).
void add_cost(parse_budget& held, const parse_budget& cost);

/// The state of one parse.
struct parser_state {
  std::shared_ptr<block_base> current_block;         ///< node being filled
  std::shared_ptr<block_class> ccb;                  ///< current class block
  /// The class node whose class line was just read, when that line opens the body of a
  /// class without base classes: the scanner reads the names of that body.
  std::shared_ptr<block_class> class_head;
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
  parse_budget taken;                      ///< what the descriptions hold so far
};

/// Charges `nodes`, `parts` and `bytes` that the parse is about to take. True when they
/// fit; else, the first time, one error line "file:line ..." names the bound, the node
/// being read is dropped and the budget is spent, so that nothing more is taken.
bool take(parser_state& state, const std::string& file_name, uint64_t line_nr, size_t nodes,
          size_t parts, size_t bytes);

/// Reports, once per parse, that the bound `limit` of `what` (the unit after the number)
/// was reached at `line_nr`, drops the node being read and spends the budget.
void spend(parser_state& state, const std::string& file_name, uint64_t line_nr, size_t limit,
           const char* what);

/// The units of kMaxNodesPerFile, kMaxPartsPerFile and kMaxTextPerFile in the line of
/// spend (and of the bounds over all files, node_total.h).
constexpr const char kNodesBound[] = " nodes";
constexpr const char kPartsBound[] = " pins, parameters, constants, calls and call arguments";
constexpr const char kTextBound[] = " bytes of text";

}  // namespace vesk::annotations
