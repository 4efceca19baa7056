#include "annotations/block_lists.h"

#include <gtest/gtest.h>

#include "foundation/bt_exception.h"

namespace vesk::annotations {
namespace {

block_class make_class(const std::string& cls, const std::string& prj, const std::string& header) {
  block_class c;
  c.class_name = cls;
  c.project = prj;
  c.header = header;
  return c;
}

block_function make_function(const std::string& fn, const std::string& prj) {
  block_function f;
  f.function.method_name = fn;
  f.project = prj;
  f.name = fn + "_node";
  return f;
}

vesk::json cfg(const char* text) { return vesk::json::parse(text); }

TEST(FindBlockClass, MatchesNameThenProject) {
  block_lists lists;
  lists.classes = {make_class("pid", "p2", "first.h"), make_class("pid", "p1", "second.h"),
                   make_class("pid", "p1", "third.h")};
  block_class found = find_block_class(lists, cfg(R"({"class":"pid","prj":"p1"})"));
  EXPECT_FALSE(found.not_found);
  EXPECT_EQ(found.header, "second.h");
  found.header = "changed";
  EXPECT_EQ(lists.classes[1].header, "second.h");
}

TEST(FindBlockClass, ExactComparisons) {
  block_lists lists;
  lists.classes = {make_class("pid", "p1", "a.h"), make_class("", "", "empty.h"),
                   make_class("5.000000", "", "five.h")};
  const char* misses[] = {R"({"class":"PID","prj":"p1"})", R"({"class":"pid ","prj":"p1"})",
                          R"({"class":"pid","prj":"p1 "})", R"({"class":"pid"})"};
  for (const char* m : misses) EXPECT_TRUE(find_block_class(lists, cfg(m)).not_found) << m;
  EXPECT_EQ(find_block_class(lists, cfg(R"({"prj":""})")).header, "empty.h");
  EXPECT_EQ(find_block_class(lists, vesk::json()).header, "empty.h");
  EXPECT_EQ(find_block_class(lists, cfg(R"({"class":5})")).header, "five.h");
}

TEST(FindBlockClass, NotFoundDefault) {
  block_lists lists;
  block_class missing = find_block_class(lists, cfg(R"({"class":"pid","prj":"p1"})"));
  EXPECT_TRUE(missing.not_found);
  EXPECT_EQ(missing.class_name, "pid");
  EXPECT_EQ(missing.name, "");
  EXPECT_EQ(missing.raster, "auto");
  block_class plain;
  plain.class_name = "pid";
  EXPECT_EQ(missing.to_json().dump(), plain.to_json().dump());
}

TEST(FindBlockClass, CallerConfigUnchanged) {
  block_lists lists;
  lists.classes = {make_class("pid", "p1", "a.h")};
  vesk::json null_cfg;
  find_block_class(lists, null_cfg);
  EXPECT_TRUE(null_cfg.is_null());
  vesk::json c = cfg(R"({"class":"pid"})");
  find_block_class(lists, c);
  EXPECT_EQ(c.dump(), R"({"class":"pid"})");
}

TEST(FindBlockClass, BadValuesThrowOnlyWhenRead) {
  block_lists lists;
  lists.classes = {make_class("pid", "p1", "a.h")};
  EXPECT_THROW(find_block_class(lists, cfg(R"({"class":"pid","prj":true})")),
               vesk::util::bt_exception);
  EXPECT_TRUE(find_block_class(lists, cfg(R"({"class":"pi","prj":true})")).not_found);
  EXPECT_THROW(find_block_class(lists, cfg(R"({"class":[]})")), vesk::util::bt_exception);
  EXPECT_THROW(find_block_class(lists, cfg("[1]")), vesk::util::bt_exception);
}

TEST(FindBlockFunction, MatchesAndMisses) {
  block_lists lists;
  lists.functions = {make_function("scale", "p2"), make_function("scale", "p1")};
  block_function found = find_block_function(lists, cfg(R"({"func":"scale","prj":"p1"})"));
  EXPECT_FALSE(found.not_found);
  EXPECT_EQ(found.project, "p1");

  block_function missing = find_block_function(lists, cfg(R"({"func":"scale","prj":"p3"})"));
  EXPECT_TRUE(missing.not_found);
  EXPECT_EQ(missing.function.method_name, "scale");
  EXPECT_EQ(missing.name, "");
  EXPECT_EQ(missing.project, "");
  EXPECT_EQ(missing.raster, "auto");
  EXPECT_TRUE(missing.inputs.empty());
  // The class key is not consulted for functions.
  EXPECT_TRUE(find_block_function(lists, cfg(R"({"class":"scale","prj":"p1"})")).not_found);
}

TEST(BlockLists, CopyIsIndependent) {
  block_lists lists;
  lists.classes = {make_class("pid", "p1", "a.h")};
  lists.classes[0].pin_names["x"] = "";
  block_lists copy = lists;
  copy.classes[0].header = "b.h";
  EXPECT_EQ(lists.classes[0].header, "a.h");
  EXPECT_EQ(copy.classes[0].pin_names.count("x"), 1u);
}

}  // namespace
}  // namespace vesk::annotations
