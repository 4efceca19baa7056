#include "annotations/annotation_comment.h"

#include <gtest/gtest.h>

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

TEST(HandleAnnotation, NodeKinds) {
  parser_state state;
  state.namespaces = {"a", "b"};
  handle_annotation("node", "class ", {{"name", "Adder"}, {"line_nr", "77"}}, 4, state, "n.h");
  ASSERT_TRUE(state.ccb);
  EXPECT_EQ(state.current_block, state.ccb);
  EXPECT_EQ(state.ccb->name, "Adder");
  EXPECT_EQ(state.ccb->nspace, "a::b::");
  EXPECT_EQ(state.ccb->line_nr, 4);  // the comment line wins over the parameter
  EXPECT_EQ(state.ccb->src_line, 4u);
  EXPECT_EQ(state.ccb->file_name, "n.h");
  EXPECT_EQ(state.expect, expect_class);

  state.expect = expect_input;  // a second @node keeps a pending code
  handle_annotation("node", "function", {}, 9, state, "n.h");
  EXPECT_FALSE(state.ccb);
  ASSERT_TRUE(state.current_function);
  EXPECT_EQ(state.expect, expect_input);

  handle_annotation("node", "auto", {{"name", "ignored"}}, 12, state, "n.h");
  EXPECT_EQ(state.expect, expect_auto);
  EXPECT_EQ(state.ccb->name, "");
  EXPECT_FALSE(state.current_function);
}

TEST(HandleAnnotation, ClosingANodeVerifiesIt) {
  parser_state state;
  log_capture err(log_err);
  handle_annotation("node", "class", {{"name", "A"}}, 1, state, "n.h");
  handle_annotation("node", "class", {}, 5, state, "n.h");  // A passes, the unnamed fails
  handle_annotation("node", "foo", {}, 9, state, "n.h");
  handle_annotation("input", "x", {}, 10, state, "n.h");
  ASSERT_EQ(state.result.size(), 1u);
  EXPECT_EQ(state.result[0]->name, "A");
  const std::vector<std::string> expected = {
      "n.h:5 Nodeverification failed: Name not set!",
      "n.h:5 Nodeverification failed: Class-Name not set!",
      "n.h:9 Unknown blocktype: Expect class or function. Example @node: autofoo",
      "n.h:10 no node defined yet; skip annotation: input"};
  EXPECT_EQ(err.lines, expected);
  EXPECT_FALSE(state.current_block);
  EXPECT_FALSE(state.ccb);
}

TEST(HandleAnnotation, CallsByNodeKind) {
  parser_state state;
  log_capture err(log_err);
  handle_annotation("construct", "(a, b)", {}, 1, state, "n.h");
  handle_annotation("node", "function", {{"name", "f"}}, 2, state, "n.h");
  handle_annotation("construct", "(a, b)", {}, 3, state, "n.h");  // ignored silently
  handle_annotation("init", "go()", {}, 3, state, "n.h");
  handle_annotation("final", "stop()", {}, 3, state, "n.h");
  EXPECT_EQ(state.expect, expect_function);
  handle_annotation("tick", "scale(x) -> y", {}, 4, state, "n.h");
  EXPECT_EQ(state.current_function->function.method_name, "scale");
  EXPECT_EQ(state.current_function->function.return_to, "y");
  EXPECT_EQ(err.lines, std::vector<std::string>{"n.h:1 no node defined yet; skip annotation: construct"});

  parser_state cls = with_class_node();
  handle_annotation("construct", "a, b", {}, 2, cls, "n.h");
  handle_annotation("init", "", {}, 3, cls, "n.h");
  EXPECT_EQ(cls.expect, expect_init);
  handle_annotation("final", "stop", {}, 4, cls, "n.h");
  handle_annotation("tick", "step(u) -> v", {}, 5, cls, "n.h");
  EXPECT_EQ(cls.ccb->construct.args.size(), 2u);
  EXPECT_EQ(cls.ccb->init_calls.size(), 1u);
  EXPECT_EQ(cls.ccb->final_calls[0].method_name, "stop");
  EXPECT_EQ(cls.ccb->tick_calls[0].src_line, 5u);
  EXPECT_EQ(cls.expect, expect_init);  // only raised from 0
}

TEST(HandleAnnotation, RasterUnknownAndGlobalAnnotations) {
  parser_state state;
  state.dir = "/prj/nodes";
  log_capture err(log_err);
  log_capture warn(log_warn);
  handle_annotation("link", " m ", {}, 1, state, "n.h");
  handle_annotation("compile", "impl.cpp", {}, 2, state, "n.h");
  handle_annotation("compile", "/abs/x.cpp", {}, 3, state, "n.h");
  EXPECT_TRUE(warn.lines.empty());
  handle_annotation("node", "class", {{"class", "K"}}, 4, state, "n.h");
  handle_annotation("raster", " r10ms ", {}, 5, state, "n.h");
  handle_annotation("bogus", "", {}, 6, state, "n.h");
  handle_annotation("link", "z", {}, 7, state, "n.h");
  EXPECT_EQ(state.links, (std::vector<std::string>{"m", "z"}));
  EXPECT_EQ(state.compile_files, (std::vector<std::string>{"/prj/nodes/impl.cpp", "/abs/x.cpp"}));
  EXPECT_EQ(state.current_block->raster, "r10ms");
  EXPECT_EQ(err.lines, std::vector<std::string>{"n.h:6 unknown annotation: bogus"});
  EXPECT_EQ(warn.lines, std::vector<std::string>{"For readability global annotations like @link "
                                                 "should be declared at the beginning of a file."});
}

TEST(AssignAnnotationParams, NumbersBoolsAndUnknownKeys) {
  log_capture err(log_err);
  block_class node;
  assign_annotation_params(node,
                           {{"line_nr", "1e12"}, {"has_node_name_var", "1"}, {"nope", "x"},
                            {"raster", "fast"}},
                           "n.h", 3);
  EXPECT_EQ(node.line_nr, 2147483647);  // saturated
  EXPECT_TRUE(node.has_node_name_var);
  EXPECT_EQ(node.raster, "fast");
  EXPECT_EQ(err.lines, std::vector<std::string>{"Internal Error: Parameter 'nope' not found!!!!"});

  err.lines.clear();
  node.line_nr = 5;
  assign_annotation_params(node,
                           {{"line_nr", "abc"}, {"is_member", "true"}, {"has_raster_interval_var", "1e999"}},
                           "n.h", 4);
  EXPECT_EQ(node.line_nr, 5);
  const std::vector<std::string> expected = {
      "n.h:4 Parameter \"has_raster_interval_var\" needs a number, not \"1e999\"",
      "Internal Error: Parameter 'is_member' not found!!!!",
      "n.h:4 Parameter \"line_nr\" needs a number, not \"abc\""};
  EXPECT_EQ(err.lines, expected);

  input in;
  assign_annotation_params(in, {{"is_member", "nan"}, {"inputs", "x"}});
  EXPECT_TRUE(in.is_member);  // NaN counts as true for a bool
  block_function f;
  assign_annotation_params(f, {{"line_nr", "-nan"}, {"inputs", "x"}, {"function", "y"}});
  EXPECT_EQ(f.line_nr, 0);
  EXPECT_TRUE(f.inputs.empty());
}

}  // namespace
