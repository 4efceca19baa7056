#include "generators/code_text.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

namespace {

TEST(escape_cpp_string, raw_characters_are_escaped) {
  EXPECT_EQ(vesk::escape_cpp_string("plain text"), "plain text");
  EXPECT_EQ(vesk::escape_cpp_string("a\"b"), "a\\\"b");
  EXPECT_EQ(vesk::escape_cpp_string("l1\nl2\r\tx"), "l1\\nl2\\r\\tx");
  // Octal escapes always take three digits, so a following digit stays apart.
  EXPECT_EQ(vesk::escape_cpp_string(std::string("\x01" "7\x7f", 3)), "\\0017\\177");
  EXPECT_EQ(vesk::escape_cpp_string(std::string("a\0b", 3)), "a\\000b");
  EXPECT_EQ(vesk::escape_cpp_string("\xc3\xa4"), "\xc3\xa4");
}

TEST(escape_cpp_string, deliberate_escapes_are_kept) {
  EXPECT_EQ(vesk::escape_cpp_string("a\\nb"), "a\\nb");
  EXPECT_EQ(vesk::escape_cpp_string("say \\\"hi\\\""), "say \\\"hi\\\"");
  EXPECT_EQ(vesk::escape_cpp_string("c:\\\\dir"), "c:\\\\dir");
}

TEST(escape_cpp_string, backslash_cannot_swallow_the_closing_quote) {
  EXPECT_EQ(vesk::escape_cpp_string("dir\\"), "dir\\\\");
  EXPECT_EQ(vesk::escape_cpp_string("\\"), "\\\\");
  // Before a control character the backslash stands for itself.
  EXPECT_EQ(vesk::escape_cpp_string("a\\\nb"), "a\\\\\\nb");
}

TEST(comment_text, line_ends_and_trailing_backslashes) {
  EXPECT_EQ(vesk::comment_text("on"), "on");
  EXPECT_EQ(vesk::comment_text("a\nb\r\nc"), "a b  c");
  EXPECT_EQ(vesk::comment_text("name\\"), "name");
  EXPECT_EQ(vesk::comment_text("name\\ \\  "), "name");
  EXPECT_EQ(vesk::comment_text("a\\b "), "a\\b ");
}

TEST(checkbox_value, texts_numbers_and_others) {
  struct {
    vesk::json in;
    bool result;
    std::string stored;
  } cases[] = {
      {vesk::json("true"), true, "true"},   {vesk::json("false"), false, "false"},
      {vesk::json("1"), true, "true"},      {vesk::json("-0.5"), true, "true"},
      {vesk::json("0"), false, "false"},    {vesk::json("1e3"), true, "true"},
      {vesk::json("1 x"), false, "false"},  {vesk::json("nan"), false, "false"},
      {vesk::json(" 1"), false, "false"},   {vesk::json("1 "), false, "false"},
      {vesk::json(""), false, "false"},     {vesk::json("TRUE"), false, "false"},
      {vesk::json(2.0), true, "2.000000"},  {vesk::json(0.0), false, "0.000000"},
      {vesk::json(true), true, "true"},     {vesk::json(), false, "null"},
      {vesk::json::make_object(), false, "{}"},
  };
  for (auto& c : cases) {
    std::string before = c.in.dump();
    EXPECT_EQ(vesk::checkbox_value(c.in), c.result) << before;
    EXPECT_EQ(c.in.dump(), c.stored) << before;
  }
}

TEST(stream_text, follows_the_format_of_the_target_stream) {
  std::ostringstream fmt;
  EXPECT_EQ(vesk::stream_text(vesk::json(2.5), fmt), "2.5");
  EXPECT_EQ(vesk::stream_text(vesk::json(), fmt), "");
  EXPECT_EQ(vesk::stream_text(vesk::json("x y"), fmt), "x y");
  fmt << std::fixed << std::setprecision(2);
  EXPECT_EQ(vesk::stream_text(vesk::json(2.5), fmt), "2.50");
}

TEST(find_argument, variable_names_before_names) {
  vesk::annotations::block_base node;
  vesk::annotations::constant c;
  c.name = "N";
  c.var_name = "kN";
  node.constants.push_back(c);
  vesk::annotations::parameter p;
  p.name = "kN";
  p.var_name = "N";
  node.parameters.push_back(p);
  EXPECT_EQ(vesk::find_argument(node, "kN").constant, &node.constants[0]);
  EXPECT_EQ(vesk::find_argument(node, "N").parameter, &node.parameters[0]);
  vesk::argument_ref none = vesk::find_argument(node, "u");
  EXPECT_EQ(none.constant, nullptr);
  EXPECT_EQ(none.parameter, nullptr);
}

}  // namespace
