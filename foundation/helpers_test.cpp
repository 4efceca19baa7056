#include "foundation/helpers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "foundation/bt_exception.h"

namespace {

struct temp_dir {
  std::filesystem::path path;
  temp_dir() {
    path = std::filesystem::temp_directory_path() / ("vesk_helpers_" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
  }
  ~temp_dir() { std::filesystem::remove_all(path); }
};

TEST(Helpers, ReadAndWriteWholeFiles) {
  temp_dir d;
  std::string f = (d.path / "a.txt").string();
  write_file(f, std::string("x\0y\n", 4));
  EXPECT_EQ(std::string("x\0y\n", 4), read_file(f));
  write_file(f, "");
  EXPECT_EQ("", read_file(f));
  write_file((d.path / "no" / "dir.txt").string(), "lost");  // not reported
  try {
    read_file((d.path / "missing").string());
    FAIL();
  } catch (const vesk::util::bt_exception& e) {
    EXPECT_EQ("Unable to open file: " + (d.path / "missing").string(), e.what());
  }
}

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
  port = 7;
  option_value(2, last, gp, port);
  EXPECT_EQ(7, port);
  const char* wrap[] = {"vesk", "-mp", "65537abc"};
  option_value(3, wrap, {"-mp"}, port);
  EXPECT_EQ(1, port);
  const char* bad[] = {"vesk", "-mp", "abc"};
  EXPECT_THROW(option_value(3, bad, {"-mp"}, port), std::invalid_argument);
  const char* huge[] = {"vesk", "-mp", "1e300"};
  option_value(3, huge, {"-mp"}, port);  // beyond 64 bits: defined as 0, not undefined
  EXPECT_EQ(0, port);
  port = 5;
  const char* nan[] = {"vesk", "-mp", "nan"};
  option_value(3, nan, {"-mp"}, port);
  EXPECT_EQ(0, port);
  const char* range[] = {"vesk", "-mp", "1e999"};
  EXPECT_THROW(option_value(3, range, {"-mp"}, port), std::out_of_range);
  EXPECT_EQ(0, port);
}

}  // namespace
