#include "generators/test_generator.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "foundation/log_capture.h"
#include "generators/generator_test_util.h"
#include "generators/generator_validator.h"

using gen_test::keys;
using gen_test::names;

namespace {

vesk::view_config view_for(vesk::json num_pins) {
  vesk::test_generator g;
  g.set_config(gen_test::object({{"num_pins", num_pins}}));
  return g.get_view_config();
}

}  // namespace

TEST(TestGenerator, DefaultsToThreePinsOfEachKind) {
  vesk::test_generator g;
  g.set_config(vesk::json());
  EXPECT_EQ(g.cfg.dump(), R"({"num_pins":3.000000})");
  vesk::view_config v = g.get_view_config();
  EXPECT_EQ(v.default_name, "test");
  EXPECT_EQ(v.raster, "auto");
  EXPECT_EQ(v.line_nr, 0);
  EXPECT_EQ(keys(v.inputs), (names{"test_1", "test_2", "test_3"}));
  EXPECT_EQ(keys(v.outputs), (names{"test_1", "test_2", "test_3"}));
  EXPECT_EQ(v.inputs.front().value.type, "auto");
  EXPECT_EQ(v.outputs.front().value.type, "double");
  EXPECT_EQ(v.outputs.front().value.raster, "block");
}

TEST(TestGenerator, ThroughValidatorOnlyInputsRemain) {
  vesk::generator_validator val(new vesk::test_generator);
  val.set_config(vesk::json());
  log_capture cap(log_debug);
  vesk::view_config v = val.get_view_config();
  EXPECT_EQ(v.inputs.size(), 3u);
  EXPECT_TRUE(v.outputs.empty());
  EXPECT_EQ(cap.lines.size(), 3u);
}

TEST(TestGenerator, CountConversion) {
  EXPECT_EQ(view_for(vesk::json(2.9)).inputs.size(), 2u);
  EXPECT_EQ(view_for(vesk::json(0.0)).inputs.size(), 0u);
  EXPECT_EQ(view_for(vesk::json(-4.0)).inputs.size(), 0u);
  EXPECT_EQ(view_for(vesk::json()).inputs.size(), 0u);
  EXPECT_EQ(view_for(vesk::json("4")).outputs.size(), 4u);
  EXPECT_EQ(view_for(vesk::json(true)).inputs.size(), 1u);
}

TEST(TestGenerator, NanAndHugeCountsAreSafe) {
  EXPECT_EQ(view_for(vesk::json(std::numeric_limits<double>::quiet_NaN())).inputs.size(), 0u);
  EXPECT_EQ(view_for(vesk::json("nan")).inputs.size(), 0u);
  EXPECT_EQ(view_for(vesk::json(-1e300)).inputs.size(), 0u);
  vesk::view_config big = view_for(vesk::json(1e300));
  EXPECT_EQ(big.inputs.size(), static_cast<size_t>(vesk::max_test_pins));
  EXPECT_EQ(big.inputs.back().key, "test_" + std::to_string(vesk::max_test_pins));
}

TEST(TestGenerator, UnreadableCountLogsAndGivesNoPins) {
  log_capture cap(log_debug);
  vesk::view_config v = view_for(vesk::json("four"));
  EXPECT_TRUE(v.inputs.empty());
  EXPECT_EQ(v.default_name, "test");
  ASSERT_EQ(cap.lines.size(), 2u);
  EXPECT_EQ(cap.lines[0], "error reading num of pins");
  EXPECT_EQ(cap.lines[1], "{\n  \"num_pins\": \"four\"\n}");
  cap.lines.clear();
  view_for(vesk::json::make_object());
  EXPECT_EQ(cap.lines.size(), 2u);
}

TEST(TestGenerator, PropertyFormAndBaseCode) {
  vesk::test_generator g;
  auto props = g.get_properties();
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(props[0].to_json().dump(),
            R"({"key":"num_pins","default":3.000000,"form":"number","form_opts":{"lbl":"label"},)"
            R"("lbl":null,"min":null,"max":null})");
  EXPECT_EQ(gen_test::tick_text(g), "// function: override me\n");
}
