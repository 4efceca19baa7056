#include "annotations/call_string.h"

#include <gtest/gtest.h>

#include <tuple>

#include "annotations/test_util.h"
#include "foundation/log_capture.h"

namespace vesk::annotations {
namespace {

TEST(CallString, Forms) {
  const std::tuple<std::string, bool, const char*> cases[] = {
      {"step(a, b) -> y", false, "step(a,b)->y"},
      {"step", false, "step()"},
      {"step -> y", false, "step()"},  // the group did not complete: search from the start
      {"-> y", false, "()->y"},
      {"(a) -> y", false, "(a)->y"},
      {"step( a)", false, "step()"},
      {"step(a, 2) -> y", false, "step(a)"},
      {"step(a", false, "step(a)"},
      {"obj.step(a)", false, "obj()"},
      {"ns::step(a)", false, "ns()"},
      {"  step (a ,b\t) ->\tout_1 rest", false, "step(a,b)->out_1"},
      {"step() -> y", false, "step()->y"},
      {std::string("st\0ep(a\xff, b) -> \x80y", 18), false, "st()"},  // NUL and high bytes
      {"(a, b)", true, "(a,b)"},
      {"a, b", true, "(a,b)"},
      {"(a, b", true, "(a,b)"},
      {"( a)", true, "()"},
      {"step(a) -> y", true, "(step)"},
  };
  for (const auto& [text, construct, expected] : cases) {
    call c;
    parse_call_string(c, text, construct);
    EXPECT_EQ(call_text(c), expected) << '"' << text << '"';
  }
}

TEST(CallString, DebugLinesAndArgumentEnd) {
  log_capture debug(log_debug);
  call c;
  parse_call_string(c, "step(a, b) -> y", false);
  EXPECT_EQ(debug.lines, (std::vector<std::string>{"       parse call_str:step(a, b) -> y",
                                                   "       parsed_arg: a", "       parsed_arg: b"}));
  call none;
  EXPECT_EQ(parse_call_args(none, "a , b, ", 0), 5u);  // an incomplete ", " is not consumed
  EXPECT_EQ(parse_call_args(none, " a", 0), std::string::npos);
  EXPECT_EQ(none.args.size(), 2u);
}

TEST(NamespacePrefix, JoinsOutermostFirst) {
  parser_state state;
  EXPECT_EQ(namespace_prefix(state), "");
  state.namespaces = {"a", "b"};
  EXPECT_EQ(namespace_prefix(state), "a::b::");
}

}  // namespace
}  // namespace vesk::annotations
