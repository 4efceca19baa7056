#include "generators/function_generator.h"

#include "generators/generator_test_util.h"

using namespace gen_test;

TEST(FunctionGenerator, DefaultsFormViewAndHeaders) {
  vesk::function_generator g;
  g.set_config(vesk::json());
  EXPECT_EQ(g.cfg.dump(), R"({"function":"","raster":"first_con","inputs":"","output_name":"out","output_type":)"
                          R"("double","header_file":"","include_dir":"","source_file":"","source_dir":""})");
  EXPECT_EQ(g.get_properties()[1].to_json().dump(),
            R"({"key":"raster","default":"first_con","form":"select","form_opts":{"values":[)"
            R"({"value":"default","key":"","selected":false},{"value":"r1ms","key":"","selected":false},)"
            R"({"value":"r10ms","key":"","selected":false},{"value":"r100ms","key":"","selected":false},)"
            R"j({"value":"first_connected_pin (default)","key":"first_con","selected":false},)j"
            R"({"value":"frame","key":"","selected":false}]},"lbl":null,"min":null,"max":null})");
  EXPECT_EQ(view_json(g), R"({"raster":"auto","outputs":{"out":{"type":"double","raster":"block"}}})");
  // The header and include directory are trimmed in place; blanks or a non-text give none.
  g.set_config(object({{"header_file", "\tmy.h\n"}, {"include_dir", " inc/ "}}));
  EXPECT_EQ(g.get_headers(), names{"my.h"});
  EXPECT_EQ(g.get_include_dirs(), names{"inc/"});
  EXPECT_EQ(g.cfg["header_file"].dump() + g.cfg["include_dir"].dump(), R"("my.h""inc/")");
  for (vesk::json none : {vesk::json("  "), vesk::json(1.0)}) {
    g.cfg["header_file"] = none;
    EXPECT_TRUE(g.get_headers().empty());
  }
}

TEST(FunctionGenerator, InputsInListedOrderGiveTheCallArguments) {
  vesk::function_generator g;
  g.set_config(object({{"function", "ns::f"}, {"inputs", " b, a ,c,,b,"}, {"output_name", "y"}}));
  EXPECT_EQ(view_json(g), R"({"default_name":"ns::f","raster":"auto","inputs":{"b":{"type":"double","default_value":)"
                          R"(""},"a":{"type":"double","default_value":""},"c":{"type":"double","default_value":""}},)"
                          R"("outputs":{"y":{"type":"double","raster":"block"}}})");
  g.set_mappings({{{"a", "v_a"}, {"b", "v_b"}, {"c", "v_c"}}, {}, {{"y", "v_y"}}});
  EXPECT_EQ(tick_text(g), "v_y = ns::f(v_b, v_a, v_c);\n");
  // No output pin for "void", "" or a non-text; the call stands alone.
  for (vesk::json out : {vesk::json("void"), vesk::json(""), vesk::json(3.0)}) {
    g.set_config(object({{"function", "f"}, {"inputs", "x,a"}, {"output_name", out}}));
    EXPECT_TRUE(g.get_view_config().outputs.empty()) << out.dump();
  }
  g.set_mappings({{{"x", "v_x"}, {"a", "v_a"}}, {}, {}});
  EXPECT_EQ(tick_text(g), "f(v_x, v_a);\n");
  g.set_config(object({{"inputs", vesk::json::make_object()}}));
  EXPECT_ANY_THROW(g.get_view_config());
  EXPECT_ANY_THROW(tick_text(g));
}
