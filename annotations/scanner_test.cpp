#include "annotations/scanner.h"

#include <gtest/gtest.h>

#include "annotations/parser_state.h"
#include "annotations/test_util.h"
#include "foundation/log_capture.h"

using namespace vesk::annotations;

namespace {

using lines = std::vector<std::string>;

struct scan_case {
  std::string text;
  lines nodes;   ///< summaries of the returned nodes
  lines messages;  ///< log_err lines, then log_warn lines
};

const std::string kSlip = "\". Most likely you forgot a ';' or a ':'?";
/// The warning of braces that do not balance, at `line`.
std::string braces(size_t line, int count) {
  return "n.h:" + std::to_string(line) + " Not all {}-blocks are closed or to many closed blocks. Bracketcounter: " +
         std::to_string(count) +
         (count < 0 ? " (the first '}' without its '{')" : " (the first block still open begins here)");
}

/// The lines `line(0)` to `line(n - 1)` in one text.
template <class F>
std::string text_of(size_t n, F line) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += line(i);
  return s;
}
/// Summaries of the nodes of text_of(n, a_node).
lines a_nodes(size_t n) {
  lines v;
  for (size_t i = 1; i <= n; ++i) v.push_back("class A@" + std::to_string(i));
  return v;
}
const auto a_node = [](size_t) { return "//@node: class; name: A\n"; };
const auto pin = [](size_t i) { return "//@output: o" + std::to_string(i) + "; type: int\n"; };
const auto pin_summary = [](size_t i) { return " out o" + std::to_string(i) + ":int"; };
const std::string kTwo = "//@node: class; name: K\n//@node: class; name: B\n";
/// Besides an info of n bytes after kTwo, the descriptions hold 29 bytes.
std::string info(size_t n) { return kTwo + "//@info: " + std::string(n, 'x') + "\n"; }
std::string limit(size_t line, const std::string& bound) {
  return "n.h:" + std::to_string(line) + " The node descriptions of this file exceed the limit of " +
         bound + "; this node and the rest of the file are left out.";
}

TEST(ParseText, Cases) {
  const scan_case cases[] = {
      // The blank after "/*" is dropped, the one in front of "*/" stays.
      {"/* @node: class; name: A; x */", {"class A@1"},
       {"n.h:1 Something went wrong here: \"@node: class; name: A; x " + kSlip}},
      // Block comment lines lose their leading blanks; the text begins on line 1.
      {"/*\n   @node: class; name: B\n   @info: text\n*/", {"class B@2 info= text"}, {}},
      // Only "//@" line comments are annotations.
      {"//@node: class; name: A\nclass A {\n// @input: a; type: int\n/// @input: b; type: int\n"
       "//@input: c; type: int\nint c;\n};",
       {"class A@1 in c:int"}, {}},
      // A declaration is completed by its own "//@" line; a comment in front of a
      // declaration hides it, so the next declaration completes the annotation.
      {"//@node: class; name: A\nclass A {\n  double u; //@output\n  /*@input*/ double v;\n"
       "  double w = 4;\n};",
       {"class A@1 in w:double=4 out u:double"}, {}},
      // "//" inside a block comment swallows the rest of the line, "*/" included.
      {"/*\n// x */\n@node: class; name: A\n*/", {"class A@3"}, {}},
      // A stray "*/" hands the line's text so far to the annotation grammar.
      {"\n\n@node: class; name: S*/", {"class S@1"}, {}},
      // A "/*" inside an open comment restarts its line count but keeps its text.
      {"/* @input: q\n/* @node: class; name: R*/", {"class R@3"},
       {"n.h:2 no node defined yet; skip annotation: input"}},
      // A namespace lives until the block that is current on its line closes; only the
      // first name of a line counts.
      {"namespace a {\nnamespace b\n{\n}\n//@node: class; name: X\nclass X {};\n}\n"
       "//@node: class; name: Y\nclass Y {};\nnamespace c { namespace d {\n"
       "//@node: class; name: Z\nclass Z {};\n} }\n//@node: class; name: W\nclass W {};\n",
       {"class X@5 ns=a::b::", "class Y@8 ns=a::", "class Z@11 ns=a::c::", "class W@14 ns=a::"},
       {}},
      // An automatic class keeps member lines and one-line bodies; multi-line bodies
      // drop out of its text.
      // drop out of its text. One-line blocks join their line without the blanks after "{".
      {"//@node: auto\nstruct acc {\n  double in_x = 1;\n  int f() { return 1; }\n"
       "  void tick() {\n    double in_z;\n  }\n  int in_v = {{1, 2},{ 3}};\n  double poll();\n};\n",
       {"class acc@1 in x/in_x:double=1 in v/in_v:int={{1, 2},{3}} tick tick():void"},
       {"n.h:9 Nodeverification failed: The return type of the poll function must be vesk::time."}},
      // A surplus "}" leaves later text to a block of its own; the count is reported once,
      // at the first "}" too many, or at the outermost block still open.
      {"\n//@node: class; name: Z\nclass Z {\n}\n};", {"class Z@2"}, {braces(5, -1)}},
      {"x\n{\n{\n", {}, {braces(2, 2)}},
      // What the declaration grammar writes names the line it reads, in a class body too.
      {"//@node: auto\nstruct t {\n  double out_y;\n  void tick_fast();\n};\n", {"class t@1 out y/out_y:double tick tick_fast():void"},
       {"n.h:4 Ticks of different type/rasters for auto_blocks are not supported yet"}},
      {"", {}, {}}, {"/*", {}, {}}, {"//@", {}, {}}, {"*", {}, {}},
      // What one file may describe: the nodes before a bound are kept, the node being
      // read is dropped, the rest of the file is not read, and one line says so.
      {text_of(kMaxNodesPerFile, a_node), a_nodes(kMaxNodesPerFile), {}},
      {text_of(kMaxNodesPerFile + 2, a_node) + "//@link: m\n", a_nodes(kMaxNodesPerFile),
       {limit(kMaxNodesPerFile + 1, "1000 nodes")}},
      {kTwo + text_of(kMaxPartsPerFile, pin),
       {"class K@1", "class B@2" + text_of(kMaxPartsPerFile, pin_summary)}, {}},
      // The block left open by the stop gets no warning of its own.
      {"struct S {\n" + kTwo + text_of(kMaxPartsPerFile + 1, pin), {"class K@2"},
       {limit(kMaxPartsPerFile + 4, "10000 pins, parameters, constants, calls and call arguments")}},
      {info(kMaxTextPerFile - 29),
       {"class K@1", "class B@2 info= " + std::string(kMaxTextPerFile - 30, 'x')}, {}},
      // The last node that passes the bound with its copy of the path is dropped.
      {info(kMaxTextPerFile - 28), {"class K@1"}, {limit(2, "1048576 bytes of text")}},
  };
  for (const scan_case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 100));
    log_capture err(log_err);
    log_capture warn(log_warn);
    EXPECT_EQ(summaries(parse_text(c.text, "n.h", "p")), c.nodes);
    err.lines.insert(err.lines.end(), warn.lines.begin(), warn.lines.end());
    EXPECT_EQ(err.lines, c.messages);
  }
}

TEST(ParseText, EveryNodeGetsTheWholeFilesListsAndForms) {
  log_capture warn(log_warn);
  auto nodes = parse_text(
      "//@link:  m \n//@node: class; name: A\n//@parameter: p; type: bool\n//@node: function; name: f\n"
      "//@tick: f()\n//@compile: extra.cpp\n//@compile: /abs/x.cpp\n//@link: z\n",
      "/prj/nodes/n.h", "prj");
  ASSERT_EQ(nodes.size(), 2u);
  for (const auto& node : nodes) {
    EXPECT_EQ(node->libs, (lines{"m", "z"}));
    EXPECT_EQ(node->additional_files, (lines{"/prj/nodes/extra.cpp", "/abs/x.cpp"}));
    EXPECT_EQ(node->project + " " + node->file_name, "prj /prj/nodes/n.h");
  }
  EXPECT_EQ(nodes[0]->parameters[0].form + " " + nodes[0]->parameters[0].default_val, "checkbox false");
  EXPECT_EQ(nodes[0]->parameters[0].src_line, 3u);
  EXPECT_EQ(warn.lines.size(), 3u);  // the @compile and @link lines after the first node
}

TEST(ParseText, DebugFlagIsSilencedAndRestored) {
  log_capture debug(log_debug);
  for (bool before : {true, false}) {
    log_debug.enabled = before;
    parse_text("//@node: class; name: A\nclass A {};", "n.h", "p");
    EXPECT_EQ(log_debug.enabled, before);
  }
  EXPECT_TRUE(debug.lines.empty());
}

TEST(ParseText, DeepNestingFinishes) {
  log_capture warn(log_warn);
  // An automatic class whose "{" stands on the next line, with 100 000 levels inside:
  // the member after them keeps its line.
  const int n = 100000;
  std::string text = "//@node: auto\nstruct D\n{\n";
  for (int i = 0; i < n; ++i) text += "x{\n";
  for (int i = 0; i < n; ++i) text += "x}\n";
  auto nodes = parse_text(text + "double in_q;\n};\n", "n.h", "p");
  ASSERT_EQ(summaries(nodes), lines{"class D@1 in q/in_q:double"});
  EXPECT_EQ(nodes[0]->inputs[0].src_line, 4u + 2 * n);

  // Every line goes to the declaration grammar while an annotation waits.
  std::string pending = "//@node: class; name: A\n//@input: p; type: int\n";
  for (int i = 0; i < 200000; ++i) pending += "namespace n {\n";
  EXPECT_EQ(summaries(parse_text(pending, "n.h", "p")), lines{"class A@1 in p:int"});
  const size_t mb = 1 << 20;
  parse_text(std::string(mb, '{'), "n.h", "p");
  parse_text(std::string(mb, '}'), "n.h", "p");
  parse_text(std::string(mb / 2, '{') + std::string(mb / 2, '}'), "n.h", "p");
  parse_text("namespace x " + std::string(mb, '<'), "n.h", "p");
  std::string values = "//@node: class; name: B; class: B\n//@parameter\nint p = ";
  for (size_t i = 0; i < mb / 4; ++i) values += "a<{";  // too deep: the plain run "a"
  EXPECT_EQ(summaries(parse_text(values, "n.h", "p")), lines{"class B@1 par p:int=a"});
  EXPECT_EQ(warn.lines.size(), 4u);
}

TEST(ParseText, NulBytesAreBlanksInsideLines) {
  static const char raw[] = "//@node: class; name: A\nclass A\0 {\n//@input: x; type: int\0\nint x;\n};\n\0";
  auto nodes = parse_text(std::string(raw, sizeof(raw) - 1), "n.h", "p");
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0]->inputs[0].type, std::string("int\0", 4));
}

}  // namespace
