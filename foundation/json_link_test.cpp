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

TEST(JsonLink, KeyOrderAndLenientReading) {
  EXPECT_TRUE(empty_record().to_json().is_null());
  record r;
  const std::string start = "{\"i\":5.000000,\"d\":1.500000,\"b\":true,\"s\":\"init\",\"j\":null}";
  EXPECT_EQ(start, r.to_json().dump());
  // Null or no object: nothing is set, the missing-key actions run.
  json null_source, number(3.0);
  r.from_json(null_source);
  r.from_json(number);
  EXPECT_TRUE(null_source.is_object());
  EXPECT_EQ(2, r.missing_count);
  EXPECT_EQ(start, r.to_json().dump());
  // Unknown keys ignored, values converted, absent members kept.
  json src = json::parse("{\"zzz\":1,\"i\":\"7.9\",\"s\":2,\"b\":0.0,\"j\":[1]}");
  r.from_json(src);
  EXPECT_EQ("{\"i\":7.000000,\"d\":1.500000,\"b\":false,\"s\":\"2.000000\",\"j\":[1.000000]}", r.to_json().dump());
  json neg = json::parse("{\"i\":-7.9,\"b\":\"1\"}");
  r.from_json(neg);
  EXPECT_EQ(-7, r.i);
  EXPECT_TRUE(r.b);
  json t = json::parse("{\"i\":true}");
  r.from_json(t);
  EXPECT_EQ(1, r.i);
}

TEST(JsonLink, SetterErrorsPassAndIntMembersSaturate) {
  record r;
  json bad = json::parse("{\"i\":2,\"s\":true}"), bad_num = json::parse("{\"d\":\"abc\"}");
  EXPECT_THROW(r.from_json(bad), vesk::util::bt_exception);
  EXPECT_EQ(2, r.i);  // set before the failing member
  EXPECT_THROW(r.from_json(bad_num), std::invalid_argument);
  EXPECT_EQ(0, json_to_int(std::nan("")));
  EXPECT_EQ(std::numeric_limits<int>::max(), json_to_int(1e300));
  EXPECT_EQ(std::numeric_limits<int>::min(), json_to_int(-HUGE_VAL));
  EXPECT_EQ(-2, json_to_int(-2.9));
  json big = json::parse("{\"i\":1e30}");
  r.from_json(big);
  EXPECT_EQ(std::numeric_limits<int>::max(), r.i);
}

TEST(JsonLink, HashVectorOrderEraseAndArrayCase) {
  pins_record p;
  auto inputs = [&p] { return p.to_json()["inputs"].dump(); };
  p.inputs["a"].type = "double";
  p.inputs["b"];
  EXPECT_EQ("{\"a\":{\"type\":\"double\",\"default_value\":\"\"},\"b\":{\"type\":\"auto\",\"default_value\":\"\"}}", inputs());
  p.inputs.erase("a");
  p.inputs.erase("nothing");
  EXPECT_EQ("{\"b\":{\"type\":\"auto\",\"default_value\":\"\"}}", inputs());
  // From an array every element has the key "", so the last one stays.
  json from_array = json::parse("{\"inputs\":[{\"type\":\"x\"},{\"type\":\"y\"}]}");
  p.from_json(from_array);
  EXPECT_EQ("{\"\":{\"type\":\"y\",\"default_value\":\"\"}}", inputs());
  // A repeated key: the later record replaces the earlier in its place.
  json repeated = json::parse("{\"inputs\":{\"a\":{\"type\":\"x\"},\"c\":{},\"a\":{\"default_value\":\"3\"}}}");
  p.from_json(repeated);
  EXPECT_EQ("{\"a\":{\"type\":\"auto\",\"default_value\":\"3\"},\"c\":{\"type\":\"auto\",\"default_value\":\"\"}}",
            inputs());
  json scalar = json::parse("{\"inputs\":5}");
  p.from_json(scalar);
  EXPECT_EQ("null", inputs());
}

TEST(JsonLink, VectorsOfRecordsAndTexts) {
  pins_record p;
  EXPECT_EQ("{\"inputs\":null,\"list\":null,\"texts\":[]}", p.to_json().dump());
  json src = json::parse("{\"list\":[{\"node\":\"n\",\"pin\":\"p\"},{\"pin\":\"q\"}],\"texts\":[\"a\",\"b\"]}");
  p.from_json(src);
  EXPECT_EQ("{\"inputs\":null,\"list\":[{\"node\":\"n\",\"pin\":\"p\"},{\"node\":\"\",\"pin\":\"q\"}],\"texts\":[\"a\",\"b\"]}",
            p.to_json().dump());
  json round = p.to_json();
  pins_record q;
  q.from_json(round);
  EXPECT_EQ(round.dump(), q.to_json().dump());
}

}  // namespace
