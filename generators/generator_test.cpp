#include "generators/generator.h"

#include <gtest/gtest.h>

#include <sstream>

#include "foundation/bt_exception.h"

namespace {

// A generator with two properties, a = 1 and b = "x", in this order.
class two_props : public vesk::generator {
 public:
  std::vector<vesk::property> get_properties() override {
    return {vesk::property("a", "number", vesk::json(1.0), vesk::json(), vesk::json(), vesk::json(),
                           vesk::json()),
            vesk::property("b", "text", vesk::json("x"), vesk::json(), vesk::json(), vesk::json(),
                           vesk::json())};
  }
  vesk::view_config get_view_config() override { return vesk::view_config("n", "auto"); }
};

class bare : public vesk::generator {
 public:
  vesk::view_config get_view_config() override { return vesk::view_config("n", "auto"); }
};

}  // namespace

TEST(Generator, SetConfigFillsDefaultsInPropertyOrder) {
  two_props g;
  g.set_config(vesk::json());
  EXPECT_EQ(g.cfg.dump(), R"({"a":1.000000,"b":"x"})");
}

TEST(Generator, SetConfigKeepsPresentMembersAndAppendsMissingOnes) {
  two_props g;
  vesk::json c = vesk::json::make_object();
  c["b"] = vesk::json();
  g.set_config(c);
  EXPECT_EQ(g.cfg.dump(), R"({"b":null,"a":1.000000})");
}

TEST(Generator, SetConfigOnNonObject) {
  bare b;
  b.set_config(vesk::json("text"));
  EXPECT_EQ(b.cfg.get_string(), "text");

  two_props g;
  try {
    g.set_config(vesk::json("text"));
    FAIL() << "no exception";
  } catch (const vesk::util::bt_exception& e) {
    EXPECT_STREQ(e.what(), "vesk::json: Types do not match");
  }
  EXPECT_EQ(g.cfg.get_string(), "text");
  EXPECT_THROW(g.set_config(vesk::json(2.0)), vesk::util::bt_exception);
}

TEST(Generator, FindMappingSearchesInputsMembersOutputs) {
  bare g;
  g.set_mappings({{{"p", "in_p"}}, {{"p", "mem_p"}, {"m", "mem_m"}}, {{"p", "out_p"}, {"o", "out_o"}}});
  EXPECT_EQ(g.find_mapping("p"), "in_p");
  EXPECT_EQ(g.find_mapping("m"), "mem_m");
  EXPECT_EQ(g.find_mapping("o"), "out_o");
  EXPECT_EQ(g.find_mapping("zz"), "Error: mapping not found");
  EXPECT_EQ(g.find_mapping("P"), "Error: mapping not found");
  EXPECT_EQ(g.inputs.size(), 1u);
}

TEST(Generator, BaseOperations) {
  bare g;
  std::ostringstream os;
  g.write_init(os);
  g.write_final(os);
  EXPECT_EQ(os.str(), "");
  g.write_tick(os);
  EXPECT_EQ(os.str(), "// function: override me\n");
  EXPECT_EQ(g.get_output_type(), "auto");
  EXPECT_FALSE(g.has_raster_interval());
  EXPECT_TRUE(g.get_sources().empty());
  EXPECT_TRUE(g.get_headers().empty());
  EXPECT_TRUE(g.get_include_dirs().empty());
  EXPECT_TRUE(g.get_libs().empty());
  g.set_name("n1");
  EXPECT_EQ(g.name, "n1");
}
