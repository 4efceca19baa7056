#include "annotations/declarations.h"

#include <gtest/gtest.h>

#include "annotations/annotation_comment.h"
#include "annotations/test_util.h"
#include "foundation/log_capture.h"

using namespace vesk::annotations;

namespace {

using lines = std::vector<std::string>;

/// A parser state after the annotation comment `comment` on line 1.
parser_state annotated(const std::string& comment) {
  parser_state state;
  log_capture debug(log_debug);
  parse_annotations(comment, 1, state, "f.h");
  return state;
}

TEST(ParseCppLine, CompletesWhatTheAnnotationAnnounced) {
  struct decl_case {
    const char* comment;
    const char* line;
    const char* node;
    uint32_t expect;
  } cases[] = {
      {"@node: class", "class Foo : public Base {", "class Foo@1", expect_nothing},
      {"@node: class", "classFoo", "class Foo@1", expect_nothing},
      // A type beginning with "struct" makes a class line: the input stays pending.
      {"@node: class; class: K\n@input", "structure_t x;", "class K@1 in ", expect_input},
      {"@node: class; class: K\n@input; type: float", "double in_x = 2; //@input",
       "class K@1 in /in_x:float=2", expect_nothing},
      {"@node: class; class: K\n@output", "double y = 5;", "class K@1 out /y:double", expect_nothing},
      {"@node: class; class: K\n@parameter", "using namespace std;",
       "class K@1 par /namespace:using", expect_nothing},
      {"@node: class; class: K\n@tick", "double step(double e, int n = 2);",
       "class K@1 tick step(e:double,n:int=2):double", expect_nothing},
      {"@node: class; class: K\n@final", "int count;", "class K@1 final ()", expect_nothing},
      {"@node: function", "double scale(const double& x);", "func scale(x:const double&):double@1",
       expect_nothing},
      {"@node: auto", "struct Src", "class Src@1", expect_auto_body},
  };
  for (const decl_case& c : cases) {
    SCOPED_TRACE(c.line);
    parser_state state = annotated(c.comment);
    parse_cpp_line(c.line, 2, state, "f.h");
    EXPECT_EQ(summary(*state.current_block), c.node);
    EXPECT_EQ(state.expect, c.expect);
  }
  parser_state state = annotated("@node: auto");
  state.bracket_on_line = true;
  parse_cpp_line("struct Src {", 2, state, "f.h");
  EXPECT_EQ(state.auto_depth, 1u);
}

TEST(ParseCppLine, PendingTargetsThatNoLongerExistCompleteNothing) {
  for (uint32_t expect : {expect_input, expect_output, expect_parameter, expect_function,
                          expect_init, expect_tick, expect_final, expect_auto_reparse}) {
    SCOPED_TRACE(expect);
    for (const char* comment : {"", "@node: class; class: K"}) {  // no node, or one without
      parser_state state = annotated(comment);
      for (const char* line : {"double f(double a);", "double a;"}) {
        state.expect = expect;
        parse_cpp_line(line, 1, state, "f.h");
      }
      EXPECT_EQ(state.current_block ? summary(*state.current_block) : "", *comment ? "class K@1" : "");
    }
  }
}

TEST(ParseCppLine, NamespaceWithoutCurrentBlock) {
  // The state-machine generator's parser state has no current block; the name is pushed.
  parser_state bare;
  parse_cpp_line("namespace a", 1, bare, "f.h");
  parse_cpp_line("using namespace std;", 1, bare, "f.h");
  EXPECT_EQ(bare.namespaces, lines{"a"});
}

TEST(ParseCppLine, AutomaticClassBody) {
  parser_state state = annotated("@node: auto");
  state.expect = expect_auto_reparse;
  log_capture err(log_err);
  for (const char* line : {"double in_x = 1;", "double out_y;", "int param_n = 3;", "int in_;",
                           "double in;", "double out;", "int raster_interval;",
                           "std::string node_name;", "double helper;", "vesk::time poll();",
                           "void tick();", "void init();", "void final();", "int helper(int a);"})
    parse_cpp_line(line, 5, state, "f.h");
  EXPECT_EQ(summary(*state.ccb),
            "class @1 in x/in_x:double=1 in /in_:int in in:double out y/out_y:double out out:double "
            "par n/param_n:int=3 init init():void tick tick():void final final():void "
            "poll poll():vesk::time");
  EXPECT_TRUE(state.ccb->has_raster_interval_var && state.ccb->has_node_name_var);
  EXPECT_TRUE(state.ccb->inputs[0].is_member);
  EXPECT_TRUE(err.lines.empty());
  EXPECT_EQ(state.expect, expect_auto_reparse);

  parse_cpp_line("bool poll();", 8, state, "n.h");
  parse_cpp_line("double poll();", 9, state, "n.h");
  parse_cpp_line("void tick_10ms();", 10, state, "n.h");
  EXPECT_EQ(state.ccb->poll_calls.size(), 1u);
  EXPECT_EQ(state.ccb->tick_calls.size(), 2u);
  const std::string poll = "Nodeverification failed: The return type of the poll function must be vesk::time.";
  EXPECT_EQ(err.lines,
            (lines{"n.h:8 " + poll,
                   "    NOTE: Before vesk v17 the return type was bool. Update examples / remote "
                   "sources may help.",
                   "    WARNING: Do NOT use raster_sources that return vesk::time with runtimes made "
                   "for vesk v16 and earlier!!!",
                   "n.h:9 " + poll, "Ticks of different type/rasters for auto_blocks are not supported yet"}));
}

TEST(ParseCppLine, AutomaticFunctionBuildsAFunctionNode) {
  parser_state state;
  state.namespaces = {"ctl"};
  parse_annotations("@node: auto\n@raster: r10", 11, state, "n.h");
  parse_cpp_line("double f(double in_x, double& out_y, int param_n = 3);", 14, state, "n.h");
  EXPECT_FALSE(state.ccb);
  EXPECT_EQ(state.current_block, state.current_function);
  EXPECT_EQ(state.expect, expect_nothing);
  block_function& f = *state.current_function;
  log_capture err(log_err);
  EXPECT_TRUE(f.verify());
  EXPECT_TRUE(err.lines.empty());
  // The return value is the output "out"; every argument is a pin and passes it by name.
  EXPECT_EQ(summary(f),
            "func f(x:double,y:double&,n:int=3)->out:double@14 ns=ctl:: raster=r10@12 in x/in_x:double "
            "out out:double out y/out_y:double& par n/param_n:int=3");
  EXPECT_EQ(f.src_line, 11u);
  EXPECT_EQ(f.file_name, "n.h");
  EXPECT_FALSE(f.inputs[0].is_member);

  parser_state lost;  // no class block to turn into the function node
  lost.expect = expect_auto;
  parse_cpp_line("void f();", 2, lost, "n.h");
  EXPECT_EQ(err.lines, lines{"state.ccb not set! this should not happen!!! reset parser"});
  EXPECT_EQ(lost.expect, expect_nothing);
  EXPECT_FALSE(lost.current_function);
}

TEST(ParseCppLine, DebugTraces) {
  parser_state state = annotated("@node: auto");
  log_capture debug(log_debug);
  state.expect = expect_nothing;
  parse_cpp_line("int f(double a, int b = 2);", 4, state, "n.h");
  parse_cpp_line("int m = 1;", 5, state, "n.h");
  parse_cpp_line("class K", 6, state, "n.h");
  state.expect = expect_auto_reparse;
  for (const char* line : {"int in_a;", "int out_b;", "int param_c;", "int raster_interval;", "int node_name;"})
    parse_cpp_line(line, 7, state, "n.h");
  EXPECT_EQ(debug.lines, (lines{"n.h:4 found function: f with return type: int",
                                "       arg: 'a' type: 'double'",
                                "       arg: 'b' type: 'int' default: '2'",
                                "n.h:5 found attribute: m with type: int default: 1",
                                "n.h:6 found class: K", "found input !!!in_a", "found output !!!out_b",
                                "found parameter !!!param_c", "raster interval found", "node_name found"}));
}

}  // namespace
