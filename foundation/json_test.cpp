#include "foundation/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "foundation/bt_exception.h"
#include "foundation/test_util.h"

using vesk::json;

namespace {

template <class F>
void expect_type_error(F f) {
  expect_throw_what<vesk::util::bt_exception>(f, "vesk::json: Types do not match");
}

TEST(JsonValue, NullBecomesObjectOnIndexOrContains) {
  json j;
  EXPECT_FALSE(j.contains("a"));
  EXPECT_EQ("{}", j.dump());
  EXPECT_TRUE(j["k"].is_null());
  EXPECT_TRUE(j.contains("k"));
  j["a"] = 1.0;
  j["k"] = "x";
  EXPECT_EQ("{\"k\":\"x\",\"a\":1.000000}", j.dump());
  json n(3.0), s("text");
  expect_type_error([&] { n["x"]; });
  EXPECT_TRUE(n.is_number());
  EXPECT_FALSE(s.contains("a"));
}

TEST(JsonValue, ConversionsAndTextEquality) {
  EXPECT_EQ("1.000000", json(1.0).get_string());
  EXPECT_EQ("", json().get_string());
  expect_type_error([] { json(true).get_string(); });
  EXPECT_EQ(1, json(true).get_double());
  EXPECT_EQ(0, json().get_double());
  EXPECT_EQ(2.5, json("2.5").get_double());
  EXPECT_EQ(12, json("12abc").get_double());
  EXPECT_THROW(json("x").get_double(), std::invalid_argument);
  EXPECT_THROW(json("1e999").get_double(), std::out_of_range);
  expect_type_error([] { json::make_object().get_double(); });
  // Comparing with a text is false both ways for anything but a string.
  EXPECT_FALSE(json(0.0) != "" || json(0.0) == "" || json() == "");
  EXPECT_TRUE(json("a") == "a" && json("a") != "b");
}

TEST(JsonValue, ListConstruction) {
  EXPECT_EQ("{\"a\":5.000000}", (json{"a", 5.0}).dump());
  EXPECT_EQ("[\"a\"]", (json{"a"}).dump());
  EXPECT_EQ("[\"a\",5.000000,6.000000]", (json{"a", 5.0, 6.0}).dump());
  EXPECT_EQ("{}", (json(std::initializer_list<json>{})).dump());
  json first{"a", 1.0};
  first["b"];  // null member
  EXPECT_EQ("{\"a\":2.000000}", (json{first, json{"a", 2.0}}).dump());
  EXPECT_EQ("{\"x\":null}", (json{"x", json()}).dump());
}

TEST(JsonValue, IterationYieldsKeysAndIndexes) {
  std::string seen;
  for (const char* text : {"[1,2,3]", "{\"x\":1,\"y\":2}", "4"}) {
    json v = json::parse(text);
    for (auto it = v.begin(); it != v.end(); ++it) {
      auto item = *it;
      seen += "<" + item.key + std::to_string(item.index) + "=" + item.value->get_string() + ">";
    }
  }
  EXPECT_EQ("<0=1.000000><1=2.000000><2=3.000000><x0=1.000000><y1=2.000000>", seen);
}

TEST(JsonValue, CopyIsDeepAndMoveLeavesNull) {
  json src = json::parse("{\"a\":{\"b\":[1,\"s\"]}}");
  json copy(src);
  copy["a"]["b"].push_back(json(2.0));
  EXPECT_EQ("{\"a\":{\"b\":[1.000000,\"s\"]}}", src.dump());
  json s("str");
  json moved(std::move(s));
  EXPECT_TRUE(s.is_null());
  json assigned;
  assigned = std::move(moved);
  EXPECT_TRUE(moved.is_null());
  EXPECT_EQ("str", assigned.get_string());
  // Assigning a value its own member must not free the member before it is copied.
  json outer = json::parse("{\"in\":{\"x\":1}}");
  outer = outer["in"];
  EXPECT_EQ("{\"x\":1.000000}", outer.dump());
  json outer2 = json::parse("{\"in\":[1]}");
  outer2 = std::move(outer2["in"]);
  EXPECT_EQ("[1.000000]", outer2.dump());
}

TEST(JsonValue, ClearTrimAndPushBackInPlace) {
  json o = json::parse("{\"a\":[1]}"), n, num(5.0), arr;
  o.clear();
  n.clear();
  EXPECT_EQ("{}", o.dump());
  EXPECT_TRUE(n.is_null());
  expect_type_error([&] { num.push_back(json(1.0)); });
  EXPECT_EQ(5, num.get_double());
  arr.push_back(json("x"));
  EXPECT_EQ("[\"x\"]", arr.dump());
  json s(" \t\r\n a b \n"), only("\n\n");
  EXPECT_EQ("a b", s.trim().get_string());
  EXPECT_EQ("", only.trim().get_string());
  EXPECT_EQ("", n.trim().get_string());
}

TEST(JsonValue, IndexByNumberIsBoundedAndDefinedForAnyDouble) {
  json a = json::parse("[10,20]");
  EXPECT_EQ(20, a[json(1.9)].get_double());
  json o = json::parse("{\"x\":1,\"y\":2}");
  EXPECT_EQ(2, o[json(1.0)].get_double());
  EXPECT_EQ(1, o[json("x")].get_double());
  for (double bad : {2.0, -1.0, 1e300, -1e300, std::nan(""), HUGE_VAL, -HUGE_VAL, 4294967296.0})
    expect_type_error([&] { a[json(bad)]; });
  expect_type_error([&] { a[json(true)]; });
}

TEST(JsonValue, DeepNestingIsCopiedWrittenAndDestroyedWithoutRecursion) {
  const size_t depth = 200000;
  std::string text(depth, '[');
  text += std::string(depth, ']');
  json deep = json::make_array(nullptr, 0);  // deeper than the parser builds, so made in code
  for (size_t i = 1; i < depth; ++i) {
    json outer;
    outer.push_back(std::move(deep));
    deep = std::move(outer);
  }
  json copy(deep);
  EXPECT_EQ(text, copy.dump());
  // Indented text grows with the square of the depth, so a smaller tree is written that way.
  json medium = json::parse(std::string(3000, '[') + std::string(3000, ']'));
  EXPECT_EQ(json::parse(medium.dump("  ")).dump(), medium.dump());
  json objects;
  json* cur = &objects;
  for (size_t i = 0; i < depth; ++i) cur = &(*cur)["k"];
  json moved(std::move(objects));
  moved.clear();
  EXPECT_EQ("{}", moved.dump());
}

}  // namespace
