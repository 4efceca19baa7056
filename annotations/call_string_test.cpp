#include "annotations/call_string.h"

#include <gtest/gtest.h>

#include "foundation/log_capture.h"

namespace vesk::annotations {
namespace {

struct call_case {
  const char* text;
  bool construct;
  const char* method;
  std::vector<std::string> args;
  const char* return_to;
};

std::vector<std::string> arg_names(const call& c) {
  std::vector<std::string> names;
  for (const call_arg& a : c.args) {
    EXPECT_TRUE(a.type.empty());
    EXPECT_TRUE(a.default_val.empty());
    names.push_back(a.name);
  }
  return names;
}

TEST(CallString, Forms) {
  const call_case cases[] = {
      {"step(a, b) -> y", false, "step", {"a", "b"}, "y"},
      {"step", false, "step", {}, ""},
      {"step -> y", false, "step", {}, ""},
      {"-> y", false, "", {}, "y"},
      {"(a) -> y", false, "", {"a"}, "y"},
      {"step( a)", false, "step", {}, ""},
      {"step(a, 2) -> y", false, "step", {"a"}, ""},
      {"step(a", false, "step", {"a"}, ""},
      {"obj.step(a)", false, "obj", {}, ""},
      {"ns::step(a)", false, "ns", {}, ""},
      {"  step (a ,b\t) ->\tout_1 rest", false, "step", {"a", "b"}, "out_1"},
      {"step() -> y", false, "step", {}, "y"},
      {"step(a,) -> y", false, "step", {"a"}, ""},
      {"step(a) ->", false, "step", {"a"}, ""},
      {"step(a) -> 1y", false, "step", {"a"}, ""},
      {"", false, "", {}, ""},
      {"-", false, "", {}, ""},
      {"(a, b)", true, "", {"a", "b"}, ""},
      {"a, b", true, "", {"a", "b"}, ""},
      {"(a, b", true, "", {"a", "b"}, ""},
      {"( a)", true, "", {}, ""},
      {"step(a) -> y", true, "", {"step"}, ""},
      {"", true, "", {}, ""},
  };
  for (const call_case& c : cases) {
    call result;
    parse_call_string(result, c.text, c.construct);
    EXPECT_EQ(result.method_name, c.method) << '"' << c.text << '"';
    EXPECT_EQ(arg_names(result), c.args) << '"' << c.text << '"';
    EXPECT_EQ(result.return_to, c.return_to) << '"' << c.text << '"';
    EXPECT_TRUE(result.return_type.empty());
  }
}

TEST(CallString, DebugLines) {
  log_capture debug(log_debug);
  call c;
  parse_call_string(c, "step(a, b) -> y", false);
  EXPECT_EQ(debug.lines, (std::vector<std::string>{"       parse call_str:step(a, b) -> y",
                                                   "       parsed_arg: a",
                                                   "       parsed_arg: b"}));
}

TEST(CallString, KeepsSourceLineAndReturnType) {
  call c;
  c.src_line = 12;
  c.return_type = "double";
  parse_call_string(c, "f(x)", false);
  EXPECT_EQ(c.src_line, 12u);
  EXPECT_EQ(c.return_type, "double");
}

TEST(CallString, ArgsRuleReportsEndPosition) {
  call c;
  EXPECT_EQ(parse_call_args(c, "a , b, ", 0), 5u);
  EXPECT_EQ(c.args.size(), 2u);
  call none;
  EXPECT_EQ(parse_call_args(none, " a", 0), std::string::npos);
  EXPECT_EQ(parse_call_args(none, "a", 1), std::string::npos);
  EXPECT_TRUE(none.args.empty());
}

TEST(CallString, NulAndHighBytesStayBounded) {
  const char raw[] = "st\0ep(a\xff, b) -> \x80y";
  std::string text(raw, sizeof(raw) - 1);
  call c;
  parse_call_string(c, text, false);
  EXPECT_EQ(c.method_name, "st");
  EXPECT_TRUE(c.args.empty());
}

TEST(NamespacePrefix, JoinsOutermostFirst) {
  parser_state state;
  EXPECT_EQ(namespace_prefix(state), "");
  state.namespaces = {"a", "b"};
  EXPECT_EQ(namespace_prefix(state), "a::b::");
}

}  // namespace
}  // namespace vesk::annotations
