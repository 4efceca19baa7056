#include "generators/generator.h"

#include "generators/generator_test_util.h"

using namespace gen_test;

// A generator with two properties, a = 1 and b = "x", in this order.
struct two_props : vesk::generator {
  std::vector<vesk::property> get_properties() override {
    return {vesk::property("a", "number", vesk::json(1.0)), vesk::property("b", "text", vesk::json("x"))};
  }
  vesk::view_config get_view_config() override { return vesk::view_config("n", "auto"); }
};

TEST(Generator, SetConfigAppendsMissingDefaultsAndMappingsAreSearchedInOrder) {
  two_props g;
  g.set_config(vesk::json());
  EXPECT_EQ(g.cfg.dump(), R"({"a":1.000000,"b":"x"})");
  g.set_config(object({{"b", vesk::json()}}));
  EXPECT_EQ(g.cfg.dump(), R"({"b":null,"a":1.000000})");
  // A configuration that cannot hold members is stored, then refused.
  EXPECT_EQ(thrown([&] { g.set_config(vesk::json("text")); }), "vesk::json: Types do not match");
  EXPECT_EQ(g.cfg.get_string(), "text");
  g.set_mappings({{{"p", "in_p"}}, {{"p", "mem_p"}, {"m", "mem_m"}}, {{"p", "out_p"}, {"o", "out_o"}}});
  EXPECT_EQ(g.find_mapping("p") + g.find_mapping("m") + g.find_mapping("o"), "in_pmem_mout_o");
  EXPECT_EQ(g.find_mapping("P"), "Error: mapping not found");
  EXPECT_EQ(init_text(g) + final_text(g) + tick_text(g) + g.get_output_type(), "// function: override me\nauto");
}
