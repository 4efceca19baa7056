// Annotation comments: the grammar (parse_annotations) and what each annotation does.

#include "annotations/annotation_comment.h"

#include <gtest/gtest.h>

#include "annotations/test_util.h"
#include "foundation/log_capture.h"

using namespace vesk::annotations;

namespace {

using lines = std::vector<std::string>;

struct anno_case {
  const char* before;  ///< comment on line 1 that sets the scene, or null
  const char* text;    ///< comment beginning on line 5
  lines nodes;         ///< summaries of the result, then "now " and the current node
  uint32_t expect;
  lines messages;  ///< log_err lines, then log_warn lines
};

const std::string kSlip = "\". Most likely you forgot a ';' or a ':'?";
const std::string kFail = "Nodeverification failed: ";
const char* const kClass = "@node: class; class: K";

TEST(ParseAnnotations, Cases) {
  const anno_case cases[] = {
      // Options are trimmed, values are not; the first incomplete pin waits for code.
      {kClass,
       "@input: x; type: double; default: 0\n* @output: y ; type: int ;\n"
       "@parameter: k // the gain\n@constant: c; value: 3",
       {"now class K@1 in /x:double=0 out /y:int  par /k const /c=3"}, expect_parameter, {}},
      // Only a line that starts with "@" (after an optional "*" and blanks) counts.
      {kClass, " * @input: a\nsome text @input: b\n*@input: c\n*\t@input: d",
       {"now class K@1 in /c in /d"}, expect_input, {}},
      {kClass, "@input x\n@tick step(a) -> y\n@output: o //\n@input: p; type: a; type: b",
       {"now class K@1 in  in /p:a out /o tick ()"}, expect_input,
       {"n.h:5 Something went wrong here: \"@input x" + kSlip,
        "n.h:6 Something went wrong here: \"@tick step(a) -> y" + kSlip,
        "n.h:7 Something went wrong here: \"@output: o //" + kSlip,
        "n.h:8 Parameter \"type\" allready assigned!"}},
      // The call form takes the rest of the comment.
      {kClass, "@tick(a, b)\n@input: x\n@final: stop()", {"now class K@1 tick (a,b)"}, expect_tick,
       {}},
      {kClass, "@construct: a, b\n@init\n@final: stop\n@tick: step(u) -> v",
       {"now class K@1 ctor (a,b) init () tick step(u)->v final stop()"}, expect_init, {}},
      {kClass, "@raster:  r10ms \n@bogus\n@link: z", {"now class K@1 raster=r10ms@5"}, 0,
       {"n.h:6 unknown annotation: bogus",
        "n.h:7 For readability global annotations like @link should be declared at the beginning of "
        "a file."}},
      // "@node" closes the node before (verified) and opens the next.
      {nullptr, "@node: class; name: A\n@node: class\n@node: foo\n@input: x", {"class A@5"},
       expect_class,
       {"n.h:6 " + kFail + "Name not set!", "n.h:6 " + kFail + "Class-Name not set!",
        "n.h:7 Unknown blocktype: Expect class or function. Example @node: auto; found \"foo\"",
        "n.h:8 no node defined yet; skip annotation: input"}},
      // A raster keeps the line that set it.
      {nullptr, "@node: function; raster: fast", {"now func ()@5 raster=fast@5"}, expect_function, {}},
      {nullptr, "@node: class ; name: Adder; line_nr: 77", {"now class @5 name=Adder"},
       expect_class, {}},
      {nullptr, "@node: auto; name: ignored", {"now class @5"}, expect_auto,
       {"n.h:5 Parameter \"name\" is ignored: @node: auto reads the node from its declaration"}},
      {nullptr, "@node: function; line_nr: abc; name: g\n@input: u", {"now func ()@5 name=g in /u"},
       expect_function, {"n.h:5 Parameter \"line_nr\" needs a number, not \"abc\""}},
      {nullptr,
       "@construct: (a, b)\n@node: function; name: f\n@construct: (a, b)\n@init: go()\n"
       "@final: stop()\n@tick: scale(x) -> y",
       {"now func scale(x)->y@6 name=f"}, expect_function,
       {"n.h:5 no node defined yet; skip annotation: construct"}},
      // A pending code survives a new class node; "@node: auto" overrides it.
      {kClass, "@input\n@node: class; class: L", {"now class L@6"}, expect_input,
       {"n.h:1 " + kFail + "Input without name!", "n.h:1 " + kFail + "Input  has no type!"}},
      {kClass, "@input\n@node: auto", {"now class @6"}, expect_auto,
       {"n.h:1 " + kFail + "Input without name!", "n.h:1 " + kFail + "Input  has no type!"}},
  };
  for (const anno_case& c : cases) {
    SCOPED_TRACE(c.text);
    parser_state state;
    log_capture debug(log_debug);
    if (c.before) parse_annotations(c.before, 1, state, "n.h");
    log_capture err(log_err);
    log_capture warn(log_warn);
    parse_annotations(c.text, 5, state, "n.h");
    lines nodes = summaries(state.result);
    if (state.current_block) nodes.push_back("now " + summary(*state.current_block));
    EXPECT_EQ(nodes, c.nodes);
    EXPECT_EQ(state.expect, c.expect);
    lines messages = err.lines;
    messages.insert(messages.end(), warn.lines.begin(), warn.lines.end());
    EXPECT_EQ(messages, c.messages);
  }
}

TEST(ParseAnnotations, InfoTakesTheRestOfTheComment) {
  // A long documentation block (within the 1 MiB that a file's descriptions may hold)
  // is read in one pass.
  std::string many, many_lines = "line";
  for (int i = 0; i < 140000; ++i) many += "\n* line";
  for (int i = 1; i < 140000; ++i) many_lines += "\nline";
  const std::pair<std::string, std::string> cases[] = {
      {"@info: abc", " ab"},  // the last character of the comment is dropped
      {"@info:\n* first\n* second\n", "first\nsecond"},
      {"@infos", ""},
      {"@ info x\n@input: y\n", "x\n@input: y"},
      {"@info:", "unchanged"},
      {"@info:" + many + "\n", many_lines},
  };
  for (const auto& [text, info] : cases) {
    parser_state state;
    parse_annotations(std::string(kClass) + "; info: unchanged", 1, state, "n.h");
    parse_annotations(text, 2, state, "n.h");
    EXPECT_EQ(state.current_block->info, info) << text.substr(0, 20);
    EXPECT_TRUE(state.current_block->inputs.empty());
  }
}

TEST(AssignAnnotationParams, NumbersBoolsAndUnknownKeys) {
  log_capture err(log_err);
  block_class node;
  node.line_nr = 5;
  assign_annotation_params(node,
                           {{"line_nr", "abc"}, {"is_member", "1"}, {"has_node_name_var", "1"},
                            {"has_raster_interval_var", "1e999"}, {"raster", "fast"}, {"inputs", "x"}},
                           "n.h", 4);
  EXPECT_EQ(node.line_nr, 5);
  EXPECT_TRUE(node.has_node_name_var && node.inputs.empty());
  EXPECT_EQ(node.raster, "fast");
  EXPECT_EQ(err.lines, (lines{"n.h:4 Parameter \"has_raster_interval_var\" needs a number, not \"1e999\"",
                              "n.h:4 Internal Error: Parameter 'is_member' not found!!!! This annotation takes "
                              "class, has_raster_interval_var, has_node_name_var, project, name, header, nspace, "
                              "info, raster, file_name, line_nr, inputs, outputs, parameters, constants, libs, "
                              "additional_files, construct, init_calls, tick_calls, final_calls",
                              "n.h:4 Parameter \"line_nr\" needs a number, not \"abc\""}));
  assign_annotation_params(node, {{"line_nr", "1e12"}});
  EXPECT_EQ(node.line_nr, 2147483647);  // saturated
  assign_annotation_params(node, {{"line_nr", "-nan"}});
  EXPECT_EQ(node.line_nr, 0);
}

}  // namespace
