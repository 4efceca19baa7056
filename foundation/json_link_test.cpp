#include "foundation/json_link.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "foundation/bt_exception.h"
#include "foundation/view_config.h"

using vesk::json;

namespace {

struct empty_record : json_link {
  void get_links(std::vector<json_link_element>&) override {}
};

struct record : json_link {
  int i = 5;
  double d = 1.5;
  bool b = true;
  std::string s = "init";
  json j;
  int missing_count = 0;
  void get_links(std::vector<json_link_element>& links) override {
    links.emplace_back("i", i);
    links.emplace_back("d", d);
    links.emplace_back("b", b, [this] { ++missing_count; });
    links.emplace_back("s", s);
    links.emplace_back("j", j);
  }
};

struct pins_record : json_link {
  hash_vector<vesk::input_pin> inputs;
  std::vector<vesk::node_connection> links_list;
  std::vector<std::string> texts;
  void get_links(std::vector<json_link_element>& links) override {
    links.emplace_back("inputs", inputs);
    links.emplace_back("list", links_list);
    links.emplace_back("texts", texts);
  }
};

TEST(JsonLink, ToJsonKeepsKeyOrderAndEmptyClassGivesNull) {
  empty_record e;
  EXPECT_TRUE(e.to_json().is_null());
  record r;
  EXPECT_EQ("{\"i\":5.000000,\"d\":1.500000,\"b\":true,\"s\":\"init\",\"j\":null}", r.to_json().dump());
}

TEST(JsonLink, FromJsonIsLenient) {
  record r;
  json null_source;
  r.from_json(null_source);
  EXPECT_TRUE(null_source.is_object());
  EXPECT_EQ(5, r.i);
  EXPECT_EQ(1, r.missing_count);
  json number(3.0);
  r.from_json(number);
  EXPECT_EQ(2, r.missing_count);
  EXPECT_EQ("init", r.s);

  json src = json::parse("{\"zzz\":1,\"i\":\"7.9\",\"s\":2,\"b\":0.0,\"j\":[1]}");
  r.from_json(src);
  EXPECT_EQ(7, r.i);
  EXPECT_EQ("2.000000", r.s);
  EXPECT_FALSE(r.b);
  EXPECT_EQ("[1.000000]", r.j.dump());
  EXPECT_EQ(1.5, r.d);

  json neg = json::parse("{\"i\":-7.9,\"b\":\"1\"}");
  r.from_json(neg);
  EXPECT_EQ(-7, r.i);
  EXPECT_TRUE(r.b);
  json t = json::parse("{\"i\":true}");
  r.from_json(t);
  EXPECT_EQ(1, r.i);
}

TEST(JsonLink, SetterErrorsPassAndKeepEarlierMembers) {
  record r;
  json bad = json::parse("{\"i\":2,\"s\":true}");
  EXPECT_THROW(r.from_json(bad), vesk::util::bt_exception);
  EXPECT_EQ(2, r.i);
  json bad_num = json::parse("{\"d\":\"abc\"}");
  EXPECT_THROW(r.from_json(bad_num), std::invalid_argument);
}

TEST(JsonLink, IntMembersSaturate) {
  EXPECT_EQ(0, json_to_int(std::nan("")));
  EXPECT_EQ(std::numeric_limits<int>::max(), json_to_int(1e300));
  EXPECT_EQ(std::numeric_limits<int>::min(), json_to_int(-HUGE_VAL));
  EXPECT_EQ(-2, json_to_int(-2.9));
  record r;
  json big = json::parse("{\"i\":1e30}");
  r.from_json(big);
  EXPECT_EQ(std::numeric_limits<int>::max(), r.i);
}

TEST(JsonLink, HashVectorOrderEraseAndArrayCase) {
  pins_record p;
  p.inputs["a"].type = "double";
  p.inputs["b"];
  EXPECT_EQ("{\"a\":{\"type\":\"double\",\"default_value\":\"\"},\"b\":{\"type\":\"auto\",\"default_value\":\"\"}}",
            p.to_json()["inputs"].dump());
  p.inputs.erase("a");
  p.inputs.erase("nothing");
  ASSERT_EQ(1u, p.inputs.size());
  EXPECT_EQ("b", p.inputs[0].key);

  json from_array = json::parse("{\"inputs\":[{\"type\":\"x\"},{\"type\":\"y\"}]}");
  p.from_json(from_array);
  ASSERT_EQ(1u, p.inputs.size());
  EXPECT_EQ("", p.inputs[0].key);
  EXPECT_EQ("y", p.inputs[0].value.type);

  json repeated = json::parse("{\"inputs\":{\"a\":{\"type\":\"x\"},\"c\":{},\"a\":{\"default_value\":\"3\"}}}");
  p.from_json(repeated);
  ASSERT_EQ(2u, p.inputs.size());
  EXPECT_EQ("a", p.inputs[0].key);
  EXPECT_EQ("auto", p.inputs[0].value.type);  // the second "a" record replaced the first
  EXPECT_EQ("3", p.inputs[0].value.default_value);
  EXPECT_EQ("auto", p.inputs[1].value.type);

  json scalar = json::parse("{\"inputs\":5}");
  p.from_json(scalar);
  EXPECT_TRUE(p.inputs.empty());
  EXPECT_TRUE(p.to_json()["inputs"].is_null());
}

TEST(JsonLink, VectorsOfRecordsAndTexts) {
  pins_record p;
  EXPECT_EQ("{\"inputs\":null,\"list\":null,\"texts\":[]}", p.to_json().dump());
  json src = json::parse("{\"list\":[{\"node\":\"n\",\"pin\":\"p\"},{\"pin\":\"q\"}],\"texts\":[\"a\",\"b\"]}");
  p.from_json(src);
  ASSERT_EQ(2u, p.links_list.size());
  EXPECT_EQ("n", p.links_list[0].node);
  EXPECT_EQ("q", p.links_list[1].pin);
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), p.texts);
  json round = p.to_json();
  pins_record q;
  q.from_json(round);
  EXPECT_EQ(round.dump(), q.to_json().dump());
}

}  // namespace
