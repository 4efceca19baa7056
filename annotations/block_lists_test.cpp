#include "annotations/block_lists.h"

#include <gtest/gtest.h>

#include "foundation/bt_exception.h"

namespace vesk::annotations {
namespace {

/// Lists whose descriptions tell themselves apart by `header`.
block_lists sample_lists() {
  block_lists lists;
  const char* const rows[][3] = {{"pid", "p2", "first"}, {"pid", "p1", "second"}, {"pid", "p1", "third"},
                                 {"", "", "empty"},      {"5.000000", "", "five"}};
  for (const auto& [name, prj, header] : rows) {
    block_class c;
    c.class_name = name;
    c.project = prj;
    c.header = header;
    lists.classes.push_back(c);
    block_function f;
    f.function.method_name = name;
    f.project = prj;
    f.header = header;
    lists.functions.push_back(f);
  }
  return lists;
}

TEST(FindBlock, FirstExactMatchOfNameAndProject) {
  const block_lists lists = sample_lists();
  const std::pair<const char*, const char*> cases[] = {
      {R"({"class":"pid","prj":"p1"})", "second"}, {R"({"class":"PID","prj":"p1"})", "missing"},
      {R"({"class":"pid ","prj":"p1"})", "missing"}, {R"({"class":"pid"})", "missing"},
      {R"({"prj":""})", "empty"},                 {"null", "empty"},
      {R"({"class":5})", "five"},                 {R"({"class":"pi","prj":true})", "missing"},
  };
  for (const auto& [cfg, header] : cases) {
    vesk::json j = vesk::json::parse(cfg);
    block_class c = find_block_class(lists, j);
    EXPECT_EQ(c.not_found ? "missing" : c.header, header) << cfg;
    EXPECT_EQ(j.dump(), vesk::json::parse(cfg).dump());  // the caller's configuration stays
    std::string func_cfg = cfg;
    if (func_cfg.find("class") != std::string::npos) func_cfg.replace(func_cfg.find("class"), 5, "func");
    block_function f = find_block_function(lists, vesk::json::parse(func_cfg));
    EXPECT_EQ(f.not_found ? "missing" : f.header, header) << func_cfg;
  }
  EXPECT_THROW(find_block_class(lists, vesk::json::parse(R"({"class":"pid","prj":true})")),
               vesk::util::bt_exception);
  EXPECT_THROW(find_block_function(lists, vesk::json::parse("[1]")), vesk::util::bt_exception);
}

TEST(FindBlock, NotFoundCarriesTheRequestedName) {
  block_class c = find_block_class(block_lists(), vesk::json::parse(R"({"class":"pid","prj":"p1"})"));
  block_class plain;
  plain.class_name = "pid";
  EXPECT_EQ(c.to_json().dump(), plain.to_json().dump());
  block_function f = find_block_function(block_lists(), vesk::json::parse(R"({"func":"scale"})"));
  EXPECT_TRUE(c.not_found && f.not_found);
  EXPECT_EQ(f.function.method_name, "scale");
}

}  // namespace
}  // namespace vesk::annotations
