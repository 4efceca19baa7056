#include "annotations/scanner.h"

#include <gtest/gtest.h>

#include "foundation/log_capture.h"

using namespace vesk::annotations;

namespace {

using node_list = std::vector<std::shared_ptr<block_base>>;

std::vector<std::string> names(const node_list& nodes) {
  std::vector<std::string> out;
  for (const auto& n : nodes) out.push_back(n->name);
  return out;
}

block_class& as_class(const std::shared_ptr<block_base>& node) {
  return dynamic_cast<block_class&>(*node);
}

TEST(ParseText, CommentTextReachesTheAnnotationGrammar) {
  log_capture err(log_err);
  // The blank after "/*" is dropped, the one in front of "*/" stays.
  node_list nodes = parse_text("/* @node: class; name: A; x */", "n.h", "p");
  EXPECT_EQ(names(nodes), std::vector<std::string>{"A"});
  EXPECT_EQ(err.lines, std::vector<std::string>{"n.h:1 Something went wrong here: \"@node: class; "
                                                "name: A; x \". Most likely you forgot a ';' or a ':'?"});

  // Lines of a block comment lose their leading blanks; the text begins on line 1.
  nodes = parse_text("/*\n   @node: class; name: B\n   @info: text\n*/", "n.h", "p");
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0]->line_nr, 2);
  EXPECT_EQ(nodes[0]->info, " text");
}

TEST(ParseText, WhichLineCommentsAreAnnotations) {
  node_list nodes = parse_text(
      "//@node: class; name: A\nclass A {\n// @input: a; type: int\n/// @input: b; type: int\n"
      "//@input: c; type: int\n};",
      "n.h", "p");
  ASSERT_EQ(nodes.size(), 1u);
  ASSERT_EQ(nodes[0]->inputs.size(), 1u);
  EXPECT_EQ(nodes[0]->inputs[0].var_name, "c");
}

TEST(ParseText, DeclarationsCompletedOnTheirOwnOrTheNextLine) {
  node_list nodes = parse_text(
      "//@node: class; name: A\nclass A {\n  double u; //@output\n  /*@input*/ double v;\n"
      "  double w = 4;\n};",
      "n.h", "p");
  ASSERT_EQ(nodes.size(), 1u);
  ASSERT_EQ(nodes[0]->outputs.size(), 1u);
  EXPECT_EQ(nodes[0]->outputs[0].var_name, "u");
  EXPECT_EQ(nodes[0]->outputs[0].type, "double");
  ASSERT_EQ(nodes[0]->inputs.size(), 1u);
  EXPECT_EQ(nodes[0]->inputs[0].var_name, "w");  // the comment in front hides "v"
  EXPECT_EQ(nodes[0]->inputs[0].default_val, "4");
}

TEST(ParseText, BlockCommentOddities) {
  log_capture err(log_err);
  // "//" inside a block comment swallows the rest of the line, "*/" included.
  node_list nodes = parse_text("/*\n// x */\n@node: class; name: A\n*/", "n.h", "p");
  EXPECT_EQ(names(nodes), std::vector<std::string>{"A"});
  // A stray "*/" hands the line's text so far to the annotation grammar.
  nodes = parse_text("\n\n@node: class; name: S*/", "n.h", "p");
  ASSERT_EQ(names(nodes), std::vector<std::string>{"S"});
  EXPECT_EQ(nodes[0]->line_nr, 1);
  // A "/*" inside an open comment restarts its line count but keeps its text.
  nodes = parse_text("/* @input: q\n/* @node: class; name: R*/", "n.h", "p");
  ASSERT_EQ(names(nodes), std::vector<std::string>{"R"});
  EXPECT_EQ(nodes[0]->line_nr, 3);
  EXPECT_EQ(err.lines, std::vector<std::string>{"n.h:2 no node defined yet; skip annotation: input"});
}

TEST(ParseText, NamespacesFollowTheirBlocks) {
  node_list nodes = parse_text(
      "namespace a {\nnamespace b\n{\n}\n//@node: class; name: X\nclass X {};\n}\n"
      "//@node: class; name: Y\nclass Y {};\n"
      "namespace c { namespace d {\n//@node: class; name: Z\nclass Z {};\n} }\n"
      "//@node: class; name: W\nclass W {};\n",
      "n.h", "p");
  ASSERT_EQ(names(nodes), (std::vector<std::string>{"X", "Y", "Z", "W"}));
  EXPECT_EQ(nodes[0]->nspace, "a::b::");  // "b" opened no block of its own
  EXPECT_EQ(nodes[1]->nspace, "a::");
  EXPECT_EQ(nodes[2]->nspace, "a::c::");  // only the first name of a line counts
  EXPECT_EQ(nodes[3]->nspace, "a::");
}

TEST(ParseText, AutomaticClassBody) {
  log_capture err(log_err);
  node_list nodes = parse_text(
      "//@node: auto\n"         // 1
      "struct acc {\n"          // 2
      "  double in_x = 1;\n"    // 3
      "  int f() { return 1; }\n"
      "  void tick() {\n"       // 5
      "    double in_z;\n"      // 6: inside a multi-line body, dropped
      "  }\n"
      "  double out_y;\n"       // 8
      "  bool poll();\n"        // 9
      "};\n",
      "n.h", "p");
  ASSERT_EQ(nodes.size(), 1u);
  block_class& c = as_class(nodes[0]);
  EXPECT_EQ(c.class_name, "acc");
  EXPECT_EQ(c.name, "acc");
  ASSERT_EQ(c.inputs.size(), 1u);
  EXPECT_EQ(c.inputs[0].name, "x");
  EXPECT_EQ(c.inputs[0].src_line, 3u);
  ASSERT_EQ(c.outputs.size(), 1u);
  EXPECT_EQ(c.outputs[0].src_line, 8u);
  EXPECT_EQ(c.tick_calls.size(), 1u);
  ASSERT_GE(err.lines.size(), 1u);
  EXPECT_EQ(err.lines[0], "n.h:9 Nodeverification failed: The return type of the poll function must be vesk::time.");
}

TEST(ParseText, AutomaticClassOpenedOnTheNextLineAndDeepInside) {
  std::string text = "//@node: auto\nstruct D\n{\n";
  const int n = 100000;
  for (int i = 0; i < n; ++i) text += "x{\n";
  for (int i = 0; i < n; ++i) text += "x}\n";
  text += "double in_q;\n};\n";
  node_list nodes = parse_text(text, "n.h", "p");
  ASSERT_EQ(nodes.size(), 1u);
  ASSERT_EQ(nodes[0]->inputs.size(), 1u);
  EXPECT_EQ(nodes[0]->inputs[0].src_line, 4u + 2 * n);
}

TEST(ParseText, UnbalancedBraces) {
  log_capture warn(log_warn);
  node_list nodes = parse_text("}\n//@node: class; name: Z\nclass Z {\n};", "n.h", "p");
  EXPECT_EQ(names(nodes), std::vector<std::string>{"Z"});
  nodes = parse_text("{\n", "n.h", "p");
  const std::vector<std::string> expected = {
      "Not all {}-blocks are closed or to many closed blocks. Bracketcounter: -1",
      "Not all {}-blocks are closed or to many closed blocks. Bracketcounter: 1"};
  EXPECT_EQ(warn.lines, expected);
}

TEST(ParseText, FinishingGivesEveryNodeTheWholeFilesLists) {
  node_list nodes = parse_text(
      "//@link: m\n//@node: class; name: A\n//@parameter: p; type: bool\n//@node: function; name: f\n"
      "//@tick: f()\n//@compile: extra.cpp\n//@link: z\n",
      "/prj/nodes/n.h", "prj");
  ASSERT_EQ(nodes.size(), 2u);
  for (const auto& node : nodes) {
    EXPECT_EQ(node->libs, (std::vector<std::string>{"m", "z"}));
    EXPECT_EQ(node->additional_files, std::vector<std::string>{"/prj/nodes/extra.cpp"});
    EXPECT_EQ(node->project, "prj");
    EXPECT_EQ(node->file_name, "/prj/nodes/n.h");
  }
  ASSERT_EQ(nodes[0]->parameters.size(), 1u);
  EXPECT_EQ(nodes[0]->parameters[0].form, "checkbox");
  EXPECT_EQ(nodes[0]->parameters[0].default_val, "false");
}

TEST(ParseText, DebugFlagIsSilencedAndRestored) {
  for (bool before : {true, false}) {
    log_debug.enabled = before;
    std::vector<std::string> seen;
    auto saved = log_debug.sink;
    log_debug.sink = [&seen](const char* t, size_t n) { seen.emplace_back(t, n); };
    parse_text("//@node: class; name: A\nclass A {};", "n.h", "p");
    log_debug.sink = saved;
    EXPECT_EQ(log_debug.enabled, before);
    EXPECT_TRUE(seen.empty());
  }
  log_debug.enabled = true;
}

TEST(ParseText, DeepNestingFinishes) {
  log_capture warn(log_warn);
  const size_t mb = 1 << 20;
  // Every line goes to the declaration grammar while an annotation waits.
  std::string lines = "//@node: class; name: A\n//@input: pending; type: int\n";
  for (int i = 0; i < 200000; ++i) lines += "namespace n {\n";
  EXPECT_EQ(names(parse_text(lines, "n.h", "p")), std::vector<std::string>{"A"});
  parse_text(std::string(mb, '{'), "n.h", "p");
  parse_text(std::string(mb, '}'), "n.h", "p");
  parse_text(std::string(mb / 2, '{') + std::string(mb / 2, '}'), "n.h", "p");
  std::string angles = "namespace x " + std::string(mb, '<');
  parse_text(angles, "n.h", "p");
  std::string values = "//@node: class; name: B; class: B\n//@parameter\nint p = ";
  for (size_t i = 0; i < mb / 4; ++i) values += "a<{";
  node_list nodes = parse_text(values, "n.h", "p");
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0]->parameters[0].var_name, "p");
  EXPECT_EQ(warn.lines.size(), 4u);
}

TEST(ParseText, BytesAnywhere) {
  static const char raw[] = "//@node: class; name: A\nclass A\0 {\n//@input: x; type: int\0\n};\n\0";
  std::string text(raw, sizeof(raw) - 1);
  node_list nodes = parse_text(text, "n.h", "p");
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0]->inputs[0].type, std::string("int\0", 4));
  EXPECT_TRUE(parse_text("", "n.h", "p").empty());
  EXPECT_TRUE(parse_text("/*", "n.h", "p").empty());
  EXPECT_TRUE(parse_text("//@", "n.h", "p").empty());
  EXPECT_TRUE(parse_text("*", "n.h", "p").empty());
}

}  // namespace
