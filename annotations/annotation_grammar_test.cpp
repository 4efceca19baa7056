#include <gtest/gtest.h>

#include "annotations/annotation_comment.h"
#include "foundation/log_capture.h"

using namespace vesk::annotations;

namespace {

/// A parser state holding an open class node.
parser_state with_class_node() {
  parser_state state;
  handle_annotation("node", "class", {}, 1, state, "n.h");
  state.expect = expect_nothing;
  return state;
}

TEST(ParseAnnotations, PinAnnotationsAndTheirParameters) {
  parser_state state = with_class_node();
  parse_annotations("@input: x; type: double; default: 0\n* @output: y ; type: int ;\n"
                    "@parameter: k // the gain\n@constant: c; value: 3",
                    10, state, "n.h");
  const block_base& node = *state.current_block;
  ASSERT_EQ(node.inputs.size(), 1u);
  EXPECT_EQ(node.inputs[0].var_name, "x");
  EXPECT_EQ(node.inputs[0].type, "double");
  EXPECT_EQ(node.inputs[0].default_val, "0");
  EXPECT_TRUE(node.inputs[0].is_member);
  EXPECT_EQ(node.inputs[0].src_line, 10u);
  ASSERT_EQ(node.outputs.size(), 1u);
  EXPECT_EQ(node.outputs[0].var_name, "y");  // the option is trimmed
  EXPECT_EQ(node.outputs[0].type, "int ");   // values are not
  EXPECT_EQ(node.outputs[0].src_line, 11u);
  ASSERT_EQ(node.parameters.size(), 1u);
  EXPECT_EQ(node.parameters[0].var_name, "k");
  ASSERT_EQ(node.constants.size(), 1u);
  EXPECT_EQ(node.constants[0].value, "3");
  // The output lacked nothing, the parameter lacks its type: expect stays on the first.
  EXPECT_EQ(state.expect, expect_parameter);
}

TEST(ParseAnnotations, FreeTextAndStarPrefixes) {
  parser_state state = with_class_node();
  parse_annotations(" * @input: a\nsome text @input: b\n*@input: c\n*\t@input: d", 1, state, "n.h");
  ASSERT_EQ(state.current_block->inputs.size(), 2u);
  EXPECT_EQ(state.current_block->inputs[0].var_name, "c");
  EXPECT_EQ(state.current_block->inputs[1].var_name, "d");
}

TEST(ParseAnnotations, MessagesAboutMalformedLines) {
  parser_state state = with_class_node();
  log_capture err(log_err);
  log_capture warn(log_warn);
  parse_annotations("@input x\n@tick step(a) -> y\n@output: o //\n@input: p; type: a; type: b", 5,
                    state, "n.h");
  const std::vector<std::string> errors = {
      "n.h:5 Something went wrong here: \"@input x\". Most likely you forgot a ';' or a ':'?",
      "n.h:6 Something went wrong here: \"@tick step(a) -> y\". Most likely you forgot a ';' or a ':'?",
      "n.h:7 Something went wrong here: \"@output: o //\". Most likely you forgot a ';' or a ':'?"};
  EXPECT_EQ(err.lines, errors);
  EXPECT_EQ(warn.lines, std::vector<std::string>{"n.h:8 Parameter \"type\" allready assigned!"});
  const block_base& node = *state.current_block;
  ASSERT_EQ(node.inputs.size(), 2u);
  EXPECT_EQ(node.inputs[0].var_name, "");  // still handled
  EXPECT_EQ(node.inputs[1].type, "a");     // the first value is kept
  EXPECT_EQ(state.expect, expect_input);
  EXPECT_EQ(state.ccb->tick_calls.size(), 1u);
}

TEST(ParseAnnotations, CallFormSwallowsTheRestOfTheComment) {
  parser_state state = with_class_node();
  parse_annotations("@tick(a, b)\n@input: x\n@final: stop()", 1, state, "n.h");
  const block_class& node = *state.ccb;
  ASSERT_EQ(node.tick_calls.size(), 1u);
  EXPECT_EQ(node.tick_calls[0].method_name, "");
  ASSERT_EQ(node.tick_calls[0].args.size(), 2u);
  EXPECT_EQ(node.tick_calls[0].args[1].name, "b");
  EXPECT_TRUE(node.inputs.empty());
  EXPECT_TRUE(node.final_calls.empty());
  EXPECT_EQ(state.expect, expect_tick);
}

TEST(ParseAnnotations, InfoTakesTheRestOfTheComment) {
  struct info_case {
    const char* text;
    const char* info;
  } cases[] = {
      {"@info: abc", " ab"},
      {"@info:\n* first\n* second\n", "first\nsecond"},
      {"@infos", ""},
      {"@ info x\n@input: y\n", "x\n@input: y"},
      {"@info:", "unchanged"},
  };
  for (const info_case& c : cases) {
    SCOPED_TRACE(c.text);
    parser_state state = with_class_node();
    state.current_block->info = "unchanged";
    parse_annotations(c.text, 1, state, "n.h");
    EXPECT_EQ(state.current_block->info, c.info);
    EXPECT_TRUE(state.current_block->inputs.empty());
  }
  // A long documentation block is read in one pass.
  parser_state big = with_class_node();
  std::string text = "@info:";
  for (int i = 0; i < 300000; ++i) text += "\n* line";
  parse_annotations(text + "\n", 1, big, "n.h");
  EXPECT_EQ(big.current_block->info.size(), 300000u * 5 - 1);
  EXPECT_EQ(big.current_block->info.compare(0, 10, "line\nline\n"), 0);

  parser_state nothing;
  parse_annotations("@info: dropped", 1, nothing, "n.h");  // no node: dropped silently
  EXPECT_FALSE(nothing.current_block);
}

TEST(ParseAnnotations, NodeThroughAnnotationGrammarAndNumbersInParameters) {
  parser_state state;
  log_capture err(log_err);
  parse_annotations("@node: function; line_nr: abc; name: g\n@input: u; is_member: 1", 20, state, "n.h");
  ASSERT_TRUE(state.current_function);
  EXPECT_EQ(state.current_function->name, "g");
  EXPECT_EQ(state.current_function->line_nr, 20);
  EXPECT_TRUE(state.current_function->inputs[0].is_member);
  EXPECT_EQ(err.lines, std::vector<std::string>{"n.h:20 Parameter \"line_nr\" needs a number, not \"abc\""});
}

}  // namespace
