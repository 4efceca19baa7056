#include "annotations/block_text.h"

#include <gtest/gtest.h>

#include <utility>

using namespace vesk::annotations;

namespace {

using lines = std::vector<std::pair<uint64_t, std::string>>;

lines read(const block_texts& texts, const block_texts::text_ref& ref, uint64_t first_line) {
  lines out;
  texts.for_each_line(ref, first_line, [&out](uint64_t k, const std::string& t) { out.emplace_back(k, t); });
  return out;
}

TEST(BlockTexts, LinesFollowTheSourceLinesOfTheWrites) {
  block_texts texts;
  block_texts::text_ref outer, inner;
  texts.write(outer, 3, "class K ");
  texts.write(inner, 4, "int a;");  // interleaved writes of another block
  texts.write(outer, 4, "double in_x;");
  texts.write(outer, 4, " int y;");
  texts.write(outer, 9, "");  // empty writes leave no line
  texts.write(outer, 9000000, "last");
  EXPECT_EQ(read(texts, outer, 3),
            (lines{{0, "class K "}, {1, "double in_x; int y;"}, {8999997, "last"}}));
  EXPECT_EQ(read(texts, inner, 4), (lines{{0, "int a;"}}));
  // Without line feeds everything is one line.
  EXPECT_EQ(read(texts, outer, 0), (lines{{0, "class K double in_x; int y;last"}}));
  EXPECT_TRUE(read(texts, block_texts::text_ref{}, 1).empty());
}

TEST(BlockTexts, FoldingNestsOneLineBlocksInOrder) {
  block_texts texts;
  block_texts::text_ref parent, child, grandchild;
  texts.write(parent, 2, "int f() ");
  texts.write(child, 2, "return g(");
  texts.fold(child, grandchild, 2);  // an empty block
  texts.write(child, 2, "); ");
  texts.fold(parent, child, 2);
  texts.write(parent, 2, " int b;");
  EXPECT_EQ(read(texts, parent, 1), (lines{{1, "int f() {return g({}); } int b;"}}));
}

TEST(BlockTexts, DeepFoldingIsLinear) {
  // A million nested one-line blocks fold without copying their texts again.
  block_texts texts;
  std::vector<block_texts::text_ref> stack(1 << 20);
  for (size_t i = stack.size() - 1; i > 0; --i) texts.fold(stack[i - 1], stack[i], 1);
  lines out = read(texts, stack[0], 1);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].second.size(), 2 * (stack.size() - 1));
  EXPECT_EQ(out[0].second.substr(0, 4), "{{{{");
}

}  // namespace
