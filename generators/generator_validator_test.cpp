#include "generators/generator_validator.h"

#include "generators/expression_generator.h"
#include "generators/generator_test_util.h"

using namespace gen_test;

struct fixed_view : vesk::generator {
  vesk::view_config view;
  vesk::view_config get_view_config() override { return view; }
};

TEST(GeneratorValidator, DropsEveryOutputNamedLikeAnInputWithOneMessageEach) {
  auto* inner = new fixed_view;
  for (const char* in : {"a", "x"}) inner->view.inputs[in] = vesk::input_pin("auto");
  for (const char* out : {"x", "k", "x", "a"}) inner->view.outputs.push_back({out, vesk::output_pin()});
  vesk::generator_validator val(inner);
  log_capture cap(log_debug);
  vesk::view_config r = val.get_view_config();
  EXPECT_EQ(keys(r.inputs), (names{"a", "x"}));
  EXPECT_EQ(keys(r.outputs), names{"k"});
  const std::string msg = "ERRROR: You can not register an input and output pin with the same name! ";
  EXPECT_EQ(cap.lines, (names{msg + "Deleting output-pin \"a\"", msg + "Deleting output-pin \"x\""}));
  // Without a clash nothing changes and nothing is logged.
  cap.lines.clear();
  inner->view.inputs.clear();
  EXPECT_EQ(keys(val.get_view_config().outputs), (names{"x", "k", "x", "a"}));
  EXPECT_TRUE(cap.lines.empty());
}

// The validator owns its inner generator (the sanitizer build reports a leak).
TEST(GeneratorValidator, ForwardsToTheInnerGenerator) {
  vesk::generator_validator val(new vesk::expression_generator);
  val.set_config(object({{"function", "a + 1"}}));
  val.set_name("blk");
  val.set_mappings({{{"a", "v"}}, {}, {{"out", "y"}}});
  EXPECT_TRUE(val.cfg.is_null() && val.name.empty() && val.inner->name == "blk");
  EXPECT_EQ(tick_text(val) + val.get_output_type(), "y = v + 1;\ndecltype(v + 1)");
  EXPECT_ANY_THROW(vesk::generator_validator(nullptr).get_view_config());
}
