#include "foundation/view_config.h"

#include <gtest/gtest.h>

using vesk::json;

namespace {

TEST(ViewRecords, ViewWritesItsKeysInOrder) {
  vesk::view_config v("gain", "block");
  v.line_nr = 12;
  v.inputs["in"];
  EXPECT_EQ(
      "{\"default_name\":\"gain\",\"raster\":\"block\",\"file_name\":\"\",\"search_str\":\"\",\"line_nr\":12.000000,"
      "\"inputs\":{\"in\":{\"type\":\"auto\",\"default_value\":\"\"}},\"outputs\":null,\"error\":false,"
      "\"error_string\":\"\"}",
      v.to_json().dump());
  vesk::view_config fresh;
  EXPECT_EQ(0, fresh.line_nr);
  EXPECT_TRUE(fresh.to_json()["inputs"].is_null());
}

TEST(ViewRecords, ReadingAViewRebuildsPinsFromDefaults) {
  vesk::view_config v;
  json src = json::parse("{\"outputs\":{\"y\":{}},\"line_nr\":\"7\",\"inputs\":{\"u\":{\"type\":\"int\"}}}");
  v.from_json(src);
  ASSERT_EQ(1u, v.outputs.size());
  EXPECT_EQ("y", v.outputs[0].key);
  EXPECT_EQ("double", v.outputs[0].value.type);
  EXPECT_EQ("block", v.outputs[0].value.raster);
  EXPECT_EQ("int", v.inputs["u"].type);
  EXPECT_EQ(7, v.line_nr);
  vesk::view_config back;
  json text = v.to_json();
  back.from_json(text);
  EXPECT_EQ(v.to_json().dump(), back.to_json().dump());
}

TEST(ViewRecords, FormRecords) {
  vesk::form_select_entry e("v", "k");
  EXPECT_EQ("{\"value\":\"v\",\"key\":\"k\",\"selected\":false}", e.to_json().dump());
  vesk::property p("gain", "number", json(1.0), json("opts"), json("Gain"), json(0.0), json(10.0));
  EXPECT_EQ(
      "{\"key\":\"gain\",\"default\":1.000000,\"form\":\"number\",\"form_opts\":\"opts\",\"lbl\":\"Gain\","
      "\"min\":0.000000,\"max\":10.000000}",
      p.to_json().dump());
}

TEST(ViewRecords, PinCopiesKeepCompilerData) {
  vesk::output_pin out("int", "r10ms");
  out.consumers.emplace_back("dst", "in");
  out.consumers.emplace_back("abcdef", 3, "x");
  out.mapped_name = "blk__out";
  vesk::output_pin copy = out;
  ASSERT_EQ(2u, copy.consumers.size());
  EXPECT_EQ("abc", copy.consumers[1].node);
  EXPECT_FALSE(copy.consumers[1].is_ignored);
  EXPECT_EQ("blk__out", copy.mapped_name);
  EXPECT_EQ("{\"node\":\"dst\",\"pin\":\"in\"}", copy.consumers[0].to_json().dump());
}

}  // namespace
