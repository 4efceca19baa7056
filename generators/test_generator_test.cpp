#include "generators/test_generator.h"

#include <limits>

#include "generators/generator_test_util.h"

using namespace gen_test;

TEST(TestGenerator, DefaultsFormAndView) {
  vesk::test_generator g;
  g.set_config(vesk::json());
  EXPECT_EQ(g.cfg.dump(), R"({"num_pins":3.000000})");
  EXPECT_EQ(properties_json(g), R"({"key":"num_pins","default":3.000000,"form":"number","form_opts":)"
                                R"({"lbl":"label"},"lbl":null,"min":null,"max":null})" "\n");
  const std::string in = R"({"type":"auto","default_value":""})", out = R"({"type":"double","raster":"block"})";
  EXPECT_EQ(view_json(g), R"({"default_name":"test","raster":"auto","inputs":{"test_1":)" + in + R"(,"test_2":)" + in +
                              R"(,"test_3":)" + in + R"(},"outputs":{"test_1":)" + out + R"(,"test_2":)" + out +
                              R"(,"test_3":)" + out + "}}");
}

TEST(TestGenerator, PinCountIsReadSafely) {
  const int max = vesk::max_test_pins;
  const std::pair<vesk::json, int> cases[] = {
      {vesk::json(2.9), 2},    {vesk::json(-4.0), 0},   {vesk::json(), 0},         {vesk::json("4"), 4},
      {vesk::json(true), 1},   {vesk::json("nan"), 0},  {vesk::json(-1e300), 0},   {vesk::json(1e300), max},
      {vesk::json(std::numeric_limits<double>::quiet_NaN()), 0}};
  for (auto& c : cases) {
    vesk::test_generator g;
    g.set_config(object({{"num_pins", c.first}}));
    vesk::view_config v = g.get_view_config();
    EXPECT_EQ(v.inputs.size() + v.outputs.size(), 2u * c.second) << c.first.dump();
  }
  // A count that cannot be read gives no pins and logs the configuration.
  log_capture cap(log_debug);
  vesk::test_generator g;
  g.set_config(object({{"num_pins", "four"}}));
  EXPECT_TRUE(g.get_view_config().inputs.empty());
  EXPECT_EQ(cap.lines, (names{"error reading num of pins", "{\n  \"num_pins\": \"four\"\n}"}));
}
