#include "annotations/declarations.h"

#include <gtest/gtest.h>

#include "foundation/log_capture.h"

using namespace vesk::annotations;

namespace {

parser_state class_state(uint32_t expect) {
  parser_state state;
  state.ccb = std::make_shared<block_class>();
  state.current_block = state.ccb;
  state.expect = expect;
  return state;
}

TEST(ParseCppLine, ClassLineNamesTheClass) {
  parser_state state = class_state(expect_class);
  parse_cpp_line("class Foo : public Base {", 3, state, "f.h");
  EXPECT_EQ(state.ccb->class_name, "Foo");
  EXPECT_EQ(state.expect, expect_nothing);

  state = class_state(expect_class);
  parse_cpp_line("classFoo", 3, state, "f.h");
  EXPECT_EQ(state.ccb->class_name, "Foo");

  // A type beginning with "struct" is a class line: the pending input stays pending.
  state = class_state(expect_input);
  state.ccb->inputs.emplace_back();
  parse_cpp_line("structure_t x;", 3, state, "f.h");
  EXPECT_EQ(state.expect, expect_input);
  EXPECT_EQ(state.ccb->inputs[0].var_name, "");
}

TEST(ParseCppLine, AutomaticClassLineStartsCollecting) {
  parser_state state = class_state(expect_auto);
  state.bracket_on_line = true;
  parse_cpp_line("struct Src {", 3, state, "f.h");
  EXPECT_EQ(state.ccb->class_name, "Src");
  EXPECT_EQ(state.expect, expect_auto_body);
  EXPECT_EQ(state.auto_depth, 1u);

  state = class_state(expect_auto);
  parse_cpp_line("struct Src", 3, state, "f.h");
  EXPECT_EQ(state.auto_depth, 0u);
}

TEST(ParseCppLine, NamespaceLinePushesAndPopsOnClose) {
  parser_state state;
  state.current_bracket = std::make_shared<bracket>(4);
  parse_cpp_line("namespace ctl {", 4, state, "f.h");
  ASSERT_EQ(state.namespaces, std::vector<std::string>{"ctl"});
  state.current_bracket->on_close();
  EXPECT_TRUE(state.namespaces.empty());
  state.current_bracket->on_close();  // a second close finds nothing to pop
  EXPECT_TRUE(state.namespaces.empty());

  // A parser state without scanner has no current block; the name is still pushed.
  parser_state bare;
  parse_cpp_line("namespace a", 1, bare, "f.h");
  EXPECT_EQ(bare.namespaces, std::vector<std::string>{"a"});
  parse_cpp_line("using namespace std;", 1, bare, "f.h");
  EXPECT_EQ(bare.namespaces.size(), 1u);
}

TEST(ParseCppLine, MemberLineCompletesTheAnnouncedPin) {
  parser_state state = class_state(expect_input);
  input announced;
  announced.type = "float";
  state.ccb->inputs.push_back(announced);
  parse_cpp_line("double in_x = 2; //@input", 7, state, "f.h");
  EXPECT_EQ(state.ccb->inputs[0].var_name, "in_x");
  EXPECT_EQ(state.ccb->inputs[0].type, "float");  // the annotation's value stays
  EXPECT_EQ(state.ccb->inputs[0].default_val, "2");
  EXPECT_EQ(state.expect, expect_nothing);

  state = class_state(expect_output);
  state.ccb->outputs.emplace_back();
  parse_cpp_line("double y = 5;", 7, state, "f.h");
  EXPECT_EQ(state.ccb->outputs[0].var_name, "y");
  EXPECT_EQ(state.ccb->outputs[0].type, "double");
}

TEST(ParseCppLine, FunctionLineCompletesTheAnnouncedCall) {
  parser_state state = class_state(expect_tick);
  state.ccb->tick_calls.emplace_back();
  parse_cpp_line("double step(double e, int n = 2);", 9, state, "f.h");
  const call& c = state.ccb->tick_calls[0];
  EXPECT_EQ(c.method_name, "step");
  EXPECT_EQ(c.return_type, "double");
  ASSERT_EQ(c.args.size(), 2u);
  EXPECT_EQ(c.args[1].name, "n");
  EXPECT_EQ(c.args[1].type, "int");
  EXPECT_EQ(c.args[1].default_val, "2");
  EXPECT_EQ(state.expect, expect_nothing);
}

TEST(ParseCppLine, PendingTargetsThatNoLongerExistCompleteNothing) {
  for (uint32_t expect : {expect_input, expect_output, expect_parameter, expect_function,
                          expect_init, expect_tick, expect_final}) {
    SCOPED_TRACE(expect);
    parser_state empty;  // no node at all
    empty.expect = expect;
    parse_cpp_line("double f(double a);", 1, empty, "f.h");
    EXPECT_EQ(empty.expect, expect_nothing);
    empty.expect = expect;
    parse_cpp_line("double a;", 1, empty, "f.h");
    EXPECT_EQ(empty.expect, expect_nothing);

    parser_state node = class_state(expect);  // a node without the pin or call
    parse_cpp_line("double f(double a);", 1, node, "f.h");
    node.expect = expect;
    parse_cpp_line("double a;", 1, node, "f.h");
    EXPECT_TRUE(node.ccb->inputs.empty());
    EXPECT_TRUE(node.ccb->tick_calls.empty());
  }
}

TEST(ParseCppLine, AutomaticClassBody) {
  parser_state state = class_state(expect_auto_reparse);
  log_capture err(log_err);
  for (const char* line : {"double in_x = 1;", "double out_y;", "int param_n = 3;", "int in_;",
                           "double in;", "double out;", "int raster_interval;",
                           "std::string node_name;", "double helper;", "vesk::time poll();",
                           "void tick();", "void init();", "void final();", "int helper(int a);"})
    parse_cpp_line(line, 5, state, "f.h");
  const block_class& c = *state.ccb;
  ASSERT_EQ(c.inputs.size(), 3u);
  EXPECT_EQ(c.inputs[0].name, "x");
  EXPECT_EQ(c.inputs[0].var_name, "in_x");
  EXPECT_EQ(c.inputs[0].default_val, "1");
  EXPECT_TRUE(c.inputs[0].is_member);
  EXPECT_EQ(c.inputs[0].src_line, 5u);
  EXPECT_EQ(c.inputs[1].name, "");  // "in_": verification names it later
  EXPECT_EQ(c.inputs[2].name, "in");
  ASSERT_EQ(c.outputs.size(), 2u);
  EXPECT_EQ(c.outputs[0].name, "y");
  EXPECT_EQ(c.outputs[1].name, "out");
  ASSERT_EQ(c.parameters.size(), 1u);
  EXPECT_EQ(c.parameters[0].name, "n");
  EXPECT_EQ(c.parameters[0].default_val, "3");
  EXPECT_TRUE(c.has_raster_interval_var);
  EXPECT_TRUE(c.has_node_name_var);
  EXPECT_EQ(c.poll_calls.size(), 1u);
  EXPECT_EQ(c.tick_calls.size(), 1u);
  EXPECT_EQ(c.init_calls.size(), 1u);
  EXPECT_EQ(c.final_calls.size(), 1u);
  EXPECT_TRUE(err.lines.empty());
  EXPECT_EQ(state.expect, expect_auto_reparse);
}

TEST(ParseCppLine, AutomaticClassMessages) {
  parser_state state = class_state(expect_auto_reparse);
  log_capture err(log_err);
  parse_cpp_line("bool poll();", 8, state, "n.h");
  parse_cpp_line("double poll();", 9, state, "n.h");
  parse_cpp_line("void tick_10ms();", 10, state, "n.h");
  EXPECT_TRUE(state.ccb->poll_calls.empty());
  EXPECT_EQ(state.ccb->tick_calls.size(), 1u);
  const std::vector<std::string> expected = {
      "n.h:8 Nodeverification failed: The return type of the poll function must be vesk::time.",
      "    NOTE: Before vesk v17 the return type was bool. Update examples / remote sources may help.",
      "    WARNING: Do NOT use raster_sources that return vesk::time with runtimes made for vesk v16 "
      "and earlier!!!",
      "n.h:9 Nodeverification failed: The return type of the poll function must be vesk::time.",
      "Ticks of different type/rasters for auto_blocks are not supported yet"};
  EXPECT_EQ(err.lines, expected);

  parser_state lost;  // the class was replaced while its body was collected
  lost.expect = expect_auto_reparse;
  parse_cpp_line("double in_x;", 1, lost, "n.h");
  EXPECT_EQ(lost.expect, expect_auto_reparse);
}

TEST(ParseCppLine, AutomaticFunctionBuildsAFunctionNode) {
  parser_state state = class_state(expect_auto);
  state.ccb->src_line = 11;
  state.ccb->nspace = "ctl::";
  state.ccb->raster = "r10";
  parse_cpp_line("double f(double in_x, double& out_y, int param_n = 3);", 12, state, "n.h");
  ASSERT_TRUE(state.current_function);
  EXPECT_EQ(state.current_block, state.current_function);
  EXPECT_FALSE(state.ccb);
  EXPECT_EQ(state.expect, expect_nothing);
  block_function& f = *state.current_function;
  EXPECT_EQ(f.name, "f");
  EXPECT_EQ(f.nspace, "ctl::");
  EXPECT_EQ(f.raster, "r10");
  EXPECT_EQ(f.src_line, 11u);
  EXPECT_EQ(f.file_name, "n.h");
  EXPECT_EQ(f.line_nr, 12);
  ASSERT_EQ(f.inputs.size(), 1u);
  EXPECT_EQ(f.inputs[0].name, "x");
  EXPECT_FALSE(f.inputs[0].is_member);
  ASSERT_EQ(f.outputs.size(), 2u);
  EXPECT_EQ(f.outputs[0].var_name, "out");
  EXPECT_EQ(f.outputs[0].name, "");
  EXPECT_EQ(f.outputs[1].name, "y");
  EXPECT_EQ(f.outputs[1].type, "double&");
  ASSERT_EQ(f.parameters.size(), 1u);
  EXPECT_EQ(f.parameters[0].default_val, "3");
  EXPECT_EQ(f.function.return_to, "out");
  ASSERT_EQ(f.function.args.size(), 3u);
  EXPECT_EQ(f.function.args[0].name, "x");
  EXPECT_EQ(f.function.args[1].name, "y");
  EXPECT_EQ(f.function.args[2].name, "n");
  EXPECT_EQ(f.function.args[2].default_val, "3");
  log_capture err(log_err);
  EXPECT_TRUE(f.verify());
  EXPECT_TRUE(err.lines.empty());
  EXPECT_EQ(f.outputs[0].name, "out");
}

TEST(ParseCppLine, AutomaticFunctionWithoutClassBlockResets) {
  parser_state state;
  state.expect = expect_auto;
  log_capture err(log_err);
  parse_cpp_line("void f();", 2, state, "n.h");
  EXPECT_EQ(err.lines, std::vector<std::string>{"state.ccb not set! this should not happen!!! reset parser"});
  EXPECT_EQ(state.expect, expect_nothing);
  EXPECT_FALSE(state.current_function);
}

TEST(ParseCppLine, DebugTraces) {
  parser_state state = class_state(expect_nothing);
  log_capture debug(log_debug);
  parse_cpp_line("int f(double a, int b = 2);", 4, state, "n.h");
  parse_cpp_line("int m = 1;", 5, state, "n.h");
  parse_cpp_line("class K", 6, state, "n.h");
  const std::vector<std::string> expected = {
      "n.h:4 found function: f with return type: int",
      "       arg: 'a' type: 'double'",
      "       arg: 'b' type: 'int' default: '2'",
      "n.h:5 found attribute: m with type: int default: 1",
      "n.h:6 found class: K"};
  EXPECT_EQ(debug.lines, expected);
}

}  // namespace
