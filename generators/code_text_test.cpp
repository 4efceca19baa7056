#include "generators/code_text.h"

#include <gtest/gtest.h>

#include <tuple>

TEST(CodeText, LiteralAndCommentTexts) {
  const std::pair<std::string, std::string> literal_cases[] = {
      {"plain text", "plain text"}, {"a\"b", "a\\\"b"}, {"l1\nl2\r\tx", "l1\\nl2\\r\\tx"},
      // Octal escapes take three digits, so a following digit stays apart.
      {std::string("\x01" "7\x7f", 3), "\\0017\\177"}, {std::string("a\0b", 3), "a\\000b"},
      {"\xc3\xa4", "\xc3\xa4"},
      // Deliberate escapes are kept.
      {"a\\nb", "a\\nb"}, {"say \\\"hi\\\"", "say \\\"hi\\\""}, {"c:\\\\dir", "c:\\\\dir"},
      // A backslash at the end, or before a control character, stands for itself.
      {"dir\\", "dir\\\\"}, {"\\", "\\\\"}, {"a\\\nb", "a\\\\\\nb"},
  };
  for (const auto& c : literal_cases) EXPECT_EQ(vesk::escape_cpp_string(c.first), c.second) << c.first;
  // Line ends become blanks; trailing backslashes would splice the next line.
  const std::pair<std::string, std::string> comment_cases[] = {
      {"on", "on"}, {"a\nb\r\nc", "a b  c"}, {"name\\", "name"}, {"name\\ \\  ", "name"},
      {"a\\b ", "a\\b "}};
  for (const auto& c : comment_cases) EXPECT_EQ(vesk::comment_text(c.first), c.second) << c.first;
}

TEST(CodeText, CheckboxValueOfTextsNumbersAndOthers) {
  using vesk::json;
  std::tuple<json, bool, std::string> cases[] = {
      {json("true"), true, "true"},   {json("false"), false, "false"}, {json("1"), true, "true"},
      {json("-0.5"), true, "true"},   {json("0"), false, "false"},     {json("1e3"), true, "true"},
      {json("1 x"), false, "false"},  {json("nan"), false, "false"},   {json(" 1"), false, "false"},
      {json("1 "), false, "false"},   {json(""), false, "false"},      {json("TRUE"), false, "false"},
      {json(2.0), true, "2.000000"},  {json(0.0), false, "0.000000"},  {json(true), true, "true"},
      {json(), false, "null"},        {json::make_object(), false, "{}"},
  };
  for (auto& [in, result, stored] : cases) {
    std::string before = in.dump();
    EXPECT_EQ(vesk::checkbox_value(in), result) << before;
    EXPECT_EQ(in.dump(), stored) << before;  // a text is replaced by its bool
  }
}

