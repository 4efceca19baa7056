#include "foundation/helpers.h"

#include <gtest/gtest.h>

namespace {

TEST(Helpers, ReplaceAllAndTrim) {
  EXPECT_EQ("aXXbXX", replace_all("aXbX", "X", "XX"));
  EXPECT_EQ("ba", replace_all("aaa", "aa", "b"));
  EXPECT_EQ("a.b.c", replace_all("a__b__c", "__", "."));
  EXPECT_EQ("abc", replace_all("abc", "", "x"));
  EXPECT_EQ("abc", trim(" \t\r\nabc\n\r\t "));
  EXPECT_EQ("", trim("\n\n"));
  EXPECT_EQ("a b", trim(" a b "));
  EXPECT_EQ("\fa", trim("\fa"));
}

TEST(Helpers, PrefixSuffixAndNames) {
  EXPECT_TRUE(ends_with("main.vcfg", ".vcfg"));
  EXPECT_FALSE(ends_with("a", "ab"));
  EXPECT_TRUE(ends_with("a", ""));
  EXPECT_TRUE(starts_with("a_x", "a_"));
  EXPECT_FALSE(starts_with("a", "ab"));
  EXPECT_TRUE(starts_with("", ""));
  for (const char* ok : {"_x1", "Model_2", "a"}) EXPECT_TRUE(is_identifier(ok)) << ok;
  for (const char* bad : {"", "1abc", "my-project", "a b", "a.b", "\xc3\xa4"}) EXPECT_FALSE(is_identifier(bad)) << bad;
}

TEST(Helpers, HeaderAndSourceExtensions) {
  for (const char* h : {"nodes/pid.hpp", "X.HH", "a.h", "b.H", "c.hh", "d.HPP"}) EXPECT_TRUE(is_header_file(h)) << h;
  for (const char* h : {"pid.Hpp", "pid.h.txt", ".h", "h", "a.hH"}) EXPECT_FALSE(is_header_file(h)) << h;
  for (const char* s : {"a.cc", "a.CPP", "a.c", "a.C", "a.cpp", "a.CC"}) EXPECT_TRUE(is_source_file(s)) << s;
  for (const char* s : {"a.cxx", "a.Cpp", "a.h"}) EXPECT_FALSE(is_source_file(s)) << s;
}

TEST(Helpers, CommandLineOptions) {
  const char* argv[] = {"-gp", "--gui-port=15200", "-gp", "15200.9", "--gui-port", "99", "-x"};
  const std::vector<std::string> gp{"-gp", "--gui-port"};
  EXPECT_TRUE(has_option(7, argv, {"-x"}));
  EXPECT_FALSE(has_option(7, argv, {"--gui-port=1"}));
  EXPECT_FALSE(has_option(1, argv, {"-gp"}));  // the program name never matches
  uint16_t port = 1;
  option_value(7, argv, gp, port);
  EXPECT_EQ(15200, port);  // the short name wins, and its first use with a value
  const char* last[] = {"vesk", "-gp"};
  option_value(2, last, gp, port);  // no value follows: unchanged
  EXPECT_EQ(15200, port);
  // Truncated, low 16 bits; values no integer can hold are defined as 0, not undefined.
  for (const auto& [text, want] : {std::pair<const char*, int>{"65537abc", 1}, {"1e300", 0}, {"nan", 0}}) {
    const char* args[] = {"vesk", "-mp", text};
    port = 5;
    option_value(3, args, {"-mp"}, port);
    EXPECT_EQ(want, port) << text;
  }
  const char* bad[] = {"vesk", "-mp", "abc"}, *range[] = {"vesk", "-mp", "1e999"};
  port = 5;
  EXPECT_THROW(option_value(3, bad, {"-mp"}, port), std::invalid_argument);
  EXPECT_THROW(option_value(3, range, {"-mp"}, port), std::out_of_range);
  EXPECT_EQ(5, port);
}

}  // namespace
