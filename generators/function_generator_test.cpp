#include "generators/function_generator.h"

#include <gtest/gtest.h>

#include <string>

#include "generators/generator_test_util.h"

using gen_test::keys;
using gen_test::names;
using gen_test::object;

TEST(FunctionGenerator, DefaultsInFormOrder) {
  vesk::function_generator g;
  g.set_config(vesk::json());
  EXPECT_EQ(g.cfg.dump(),
            R"({"function":"","raster":"first_con","inputs":"","output_name":"out",)"
            R"("output_type":"double","header_file":"","include_dir":"","source_file":"",)"
            R"("source_dir":""})");
  vesk::view_config v = g.get_view_config();
  EXPECT_EQ(v.default_name, "");
  EXPECT_EQ(v.line_nr, 0);
  EXPECT_EQ(keys(v.outputs), names{"out"});
  EXPECT_EQ(v.outputs.front().value.type, "double");
  EXPECT_TRUE(v.inputs.empty());
}

TEST(FunctionGenerator, RasterSelectOptions) {
  vesk::function_generator g;
  auto props = g.get_properties();
  ASSERT_EQ(props.size(), 9u);
  EXPECT_EQ(props[1].to_json().dump(),
            R"({"key":"raster","default":"first_con","form":"select","form_opts":{"values":[)"
            R"({"value":"default","key":"","selected":false},)"
            R"({"value":"r1ms","key":"","selected":false},)"
            R"({"value":"r10ms","key":"","selected":false},)"
            R"({"value":"r100ms","key":"","selected":false},)"
            R"j({"value":"first_connected_pin (default)","key":"first_con","selected":false},)j"
            R"({"value":"frame","key":"","selected":false}]},"lbl":null,"min":null,"max":null})");
}

TEST(FunctionGenerator, InputsInListedOrderAndCallArguments) {
  vesk::function_generator g;
  g.set_config(object({{"function", "ns::f"}, {"inputs", " b, a ,c,,b,"}, {"output_name", "y"}}));
  vesk::view_config v = g.get_view_config();
  EXPECT_EQ(v.default_name, "ns::f");
  EXPECT_EQ(keys(v.inputs), (names{"b", "a", "c"}));
  EXPECT_EQ(v.inputs.front().value.type, "double");
  EXPECT_EQ(keys(v.outputs), names{"y"});
  g.set_mappings({{{"a", "v_a"}, {"b", "v_b"}, {"c", "v_c"}}, {}, {{"y", "v_y"}}});
  EXPECT_EQ(gen_test::tick_text(g), "v_y = ns::f(v_b, v_a, v_c);\n");
}

TEST(FunctionGenerator, VoidOutputWritesOnlyTheCall) {
  vesk::function_generator g;
  g.set_config(object({{"function", "f"}, {"inputs", "x,a"}, {"output_name", "void"}}));
  EXPECT_TRUE(g.get_view_config().outputs.empty());
  g.set_mappings({{{"x", "v_x"}, {"a", "v_a"}}, {}, {}});
  EXPECT_EQ(gen_test::tick_text(g), "f(v_x, v_a);\n");
  g.set_config(object({{"function", "f"}, {"output_name", ""}}));
  EXPECT_TRUE(g.get_view_config().outputs.empty());
  g.set_config(object({{"function", "f"}, {"output_name", 3.0}}));
  EXPECT_TRUE(g.get_view_config().outputs.empty());
}

TEST(FunctionGenerator, HeadersAndIncludeDirsAreTrimmedInPlace) {
  vesk::function_generator g;
  g.set_config(object({{"header_file", "  "}, {"include_dir", " inc/ "}}));
  EXPECT_TRUE(g.get_headers().empty());
  EXPECT_EQ(g.cfg["header_file"].get_string(), "");
  EXPECT_EQ(g.get_include_dirs(), names{"inc/"});
  EXPECT_EQ(g.cfg["include_dir"].get_string(), "inc/");
  g.cfg["header_file"] = vesk::json();
  EXPECT_TRUE(g.get_headers().empty());
  EXPECT_TRUE(g.cfg["header_file"].is_string());
  g.cfg["header_file"] = vesk::json(1.0);
  EXPECT_TRUE(g.get_headers().empty());
  g.cfg["header_file"] = vesk::json("\tmy.h\n");
  EXPECT_EQ(g.get_headers(), names{"my.h"});
}

TEST(FunctionGenerator, WrongTypesThrowTheTypeError) {
  vesk::function_generator g;
  g.set_config(object({{"inputs", vesk::json::make_object()}}));
  EXPECT_ANY_THROW(g.get_view_config());
  EXPECT_ANY_THROW(gen_test::tick_text(g));
}
