#include "generators/template_filler.h"

#include <gtest/gtest.h>

#include <regex>
#include <tuple>

using strings = std::vector<std::string>;

TEST(TemplateFiller, SplitGivesTrimmedPiecesByRegularExpression) {
  const std::tuple<const char*, const char*, strings> cases[] = {
      {" a, b ,,c", ",", {"a", "b", "", "c"}}, {"a,b,", ",", {"a", "b"}}, {",", ",", {""}}, {"", ",", {""}},
      {"int a;\r\nint b;\n", "\n", {"int a;", "int b;"}}, {"a,b\nc,d", ",", {"a", "b\nc", "d"}},
      {"a,b\nc,d", "\n", {"a,b", "c,d"}}, {"a,b\nc,d", ",", {"a", "b\nc", "d"}},  // own delimiter per call
      {"ab", ".", {"", ""}}, {"a1b22c", "[0-9]+", {"a", "b", "c"}}};
  for (const auto& [text, delimiter, fields] : cases) EXPECT_EQ(split(text, delimiter), fields) << text;
  EXPECT_THROW(split("a", "("), std::regex_error);
}

TEST(TemplateFiller, FillReplacesEveryPlaceholderInKeyOrder) {
  EXPECT_EQ(fill_template("#a##b# #a#", {{"a", "1"}, {"b", "2"}}), "12 1");
  // Later keys see earlier values but not back; "B" sorts before "a".
  EXPECT_EQ(fill_template("#a#", {{"a", "#b#"}, {"b", "x"}}), "x");
  EXPECT_EQ(fill_template("#b# #a#", {{"a", "#B#"}, {"b", "#a#"}, {"B", "x"}}), "#a# #B#");
  // Unknown hashes stay; values go in unchanged.
  EXPECT_EQ(fill_template("#pragma once\n#ifndef #name#\n#v#;", {{"name", "N"}, {"v", " a\n b "}}),
            "#pragma once\n#ifndef N\n a\n b ;");
}
