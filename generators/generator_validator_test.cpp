#include "generators/generator_validator.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/log_capture.h"
#include "generators/generator_test_util.h"

using gen_test::keys;
using gen_test::names;

namespace {

// Returns a fixed view and records what reaches it.
class fixed_view : public vesk::generator {
 public:
  explicit fixed_view(vesk::view_config v, bool* destroyed = nullptr)
      : view(std::move(v)), destroyed_(destroyed) {}
  ~fixed_view() override {
    if (destroyed_) *destroyed_ = true;
  }
  vesk::view_config get_view_config() override { return view; }
  void write_tick(std::ostream& os) override { os << "tick " << name << std::endl; }
  std::string get_output_type() override { return "int"; }
  vesk::view_config view;

 private:
  bool* destroyed_;
};

}  // namespace

TEST(GeneratorValidator, DropsOutputsNamedLikeInputs) {
  vesk::view_config v("n", "auto");
  v.inputs["a"] = vesk::input_pin("auto");
  v.inputs["b"] = vesk::input_pin("auto");
  v.outputs["b"] = vesk::output_pin("double", "block");
  v.outputs["c"] = vesk::output_pin("int", "block");
  vesk::generator_validator val(new fixed_view(v));
  log_capture cap(log_debug);
  vesk::view_config r = val.get_view_config();
  ASSERT_EQ(r.inputs.size(), 2u);
  EXPECT_EQ(keys(r.outputs), names{"c"});
  EXPECT_EQ(r.outputs.front().value.type, "int");
  ASSERT_EQ(cap.lines.size(), 1u);
  EXPECT_EQ(cap.lines[0],
            "ERRROR: You can not register an input and output pin with the same name! "
            "Deleting output-pin \"b\"");
  EXPECT_FALSE(r.error);
}

TEST(GeneratorValidator, NoClashNoChangeNoLog) {
  vesk::view_config v("n", "auto");
  v.outputs["y"] = vesk::output_pin("double", "block");
  v.outputs["z"] = vesk::output_pin("double", "block");
  vesk::generator_validator val(new fixed_view(v));
  log_capture cap(log_debug);
  EXPECT_EQ(keys(val.get_view_config().outputs), (names{"y", "z"}));
  EXPECT_TRUE(cap.lines.empty());
}

TEST(GeneratorValidator, RemovesEveryDuplicateWithOneMessage) {
  vesk::view_config v("n", "auto");
  v.inputs["x"] = vesk::input_pin("auto");
  v.outputs.push_back({"x", vesk::output_pin("double", "block")});
  v.outputs.push_back({"k", vesk::output_pin("double", "block")});
  v.outputs.push_back({"x", vesk::output_pin("double", "block")});
  vesk::generator_validator val(new fixed_view(v));
  log_capture cap(log_debug);
  EXPECT_EQ(keys(val.get_view_config().outputs), names{"k"});
  EXPECT_EQ(cap.lines.size(), 1u);
}

TEST(GeneratorValidator, ForwardsToInnerAndOwnsIt) {
  bool destroyed = false;
  {
    auto* inner = new fixed_view(vesk::view_config("n", "auto"), &destroyed);
    vesk::generator_validator val(inner);
    val.set_config(vesk::json("cfg"));
    val.set_name("blk");
    val.set_mappings({{{"i", "v_i"}}, {}, {}});
    EXPECT_TRUE(val.cfg.is_null());
    EXPECT_TRUE(val.name.empty());
    EXPECT_EQ(inner->cfg.get_string(), "cfg");
    EXPECT_EQ(inner->inputs.at("i"), "v_i");
    EXPECT_EQ(gen_test::tick_text(val), "tick blk\n");
    EXPECT_EQ(val.get_output_type(), "int");
  }
  EXPECT_TRUE(destroyed);
}

TEST(GeneratorValidator, WithoutInnerThrowsInsteadOfCrashing) {
  vesk::generator_validator val(nullptr);
  EXPECT_ANY_THROW(val.get_view_config());
}
