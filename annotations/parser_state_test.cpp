#include "annotations/parser_state.h"

#include <gtest/gtest.h>

namespace vesk::annotations {
namespace {

TEST(Bracket, FreshBlockDoesNothingOnClose) {
  bracket b(4, 10);
  EXPECT_EQ(b.line_nr, 4u);
  ASSERT_TRUE(static_cast<bool>(b.on_close));
  b.on_close();
  EXPECT_EQ(b.text.str(), "");
}

TEST(Bracket, CatchUpWritesOwedLineEndsOnce) {
  bracket b(1, 3);
  b.catch_up(3);
  b.text << "a";
  b.catch_up(5);
  b.text << "b";
  b.catch_up(5);
  b.catch_up(4);  // never goes back
  b.catch_up(6);
  EXPECT_EQ(b.text.str(), "a\n\nb\n");
}

TEST(ParserState, StartsEmpty) {
  parser_state s;
  EXPECT_EQ(s.expect, expect_nothing);
  EXPECT_FALSE(s.current_block || s.ccb || s.current_function || s.current_bracket);
  EXPECT_EQ(s.auto_depth, 0u);
  EXPECT_TRUE(s.result.empty() && s.namespaces.empty() && s.links.empty());
}

}  // namespace
}  // namespace vesk::annotations
