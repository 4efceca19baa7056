#include "generators/template_filler.h"

#include <gtest/gtest.h>

#include <regex>

using strings = std::vector<std::string>;

TEST(Split, TrimsPieces) {
  EXPECT_EQ(split("a, b ,c", ","), (strings{"a", "b", "c"}));
  EXPECT_EQ(split("  solo  ", ","), (strings{"solo"}));
}

TEST(Split, EmptyPiecesKeepTheirPlaceExceptATrailingOne) {
  EXPECT_EQ(split("a,,b", ","), (strings{"a", "", "b"}));
  EXPECT_EQ(split(",a", ","), (strings{"", "a"}));
  EXPECT_EQ(split("a,b,", ","), (strings{"a", "b"}));
  EXPECT_EQ(split("", ","), (strings{""}));
  EXPECT_EQ(split(",", ","), (strings{""}));
}

TEST(Split, LinesLoseCarriageReturns) {
  EXPECT_EQ(split("int a;\r\nint b;\n", "\n"), (strings{"int a;", "int b;"}));
}

TEST(Split, EachCallUsesItsOwnDelimiter) {
  std::string text = "a,b\nc,d";
  EXPECT_EQ(split(text, ","), (strings{"a", "b\nc", "d"}));
  EXPECT_EQ(split(text, "\n"), (strings{"a,b", "c,d"}));
  EXPECT_EQ(split(text, ","), (strings{"a", "b\nc", "d"}));
}

TEST(Split, DelimiterIsARegularExpression) {
  EXPECT_EQ(split("ab", "."), (strings{"", ""}));
  EXPECT_EQ(split("a1b22c", "[0-9]+"), (strings{"a", "b", "c"}));
  EXPECT_THROW(split("a", "("), std::regex_error);
}

TEST(FillTemplate, ReplacesEveryPlaceholder) {
  EXPECT_EQ(fill_template("#a##b#", {{"a", "1"}, {"b", "2"}}), "12");
  EXPECT_EQ(fill_template("#a# and #a#", {{"a", "x"}}), "x and x");
}

TEST(FillTemplate, LaterKeysSeeEarlierValuesButNotBack) {
  EXPECT_EQ(fill_template("#a#", {{"a", "#b#"}, {"b", "x"}}), "x");
  EXPECT_EQ(fill_template("#b#", {{"a", "x"}, {"b", "#a#"}}), "#a#");
  // Upper case sorts before lower case, so "B" is applied before "a".
  EXPECT_EQ(fill_template("#a#", {{"a", "#B#"}, {"B", "x"}}), "#B#");
}

TEST(FillTemplate, UnknownHashesStay) {
  std::string header = "#pragma once\n#include <x>\n#ifndef #name#\n";
  EXPECT_EQ(fill_template(header, {}), header);
  EXPECT_EQ(fill_template(header, {{"name", "N"}, {"unused", "u"}}),
            "#pragma once\n#include <x>\n#ifndef N\n");
}

TEST(FillTemplate, ValuesAreInsertedUnchanged) {
  EXPECT_EQ(fill_template("  #v#;", {{"v", " a\n b "}}), "   a\n b ;");
}
