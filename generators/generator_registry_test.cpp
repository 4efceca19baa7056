#include "generators/generator_registry.h"

#include <gtest/gtest.h>

#include <sstream>
#include <typeinfo>
#include <vector>

#include "generators/anno_class_generator.h"
#include "generators/anno_func_generator.h"
#include "generators/base_element_generator.h"
#include "generators/expression_generator.h"
#include "generators/function_generator.h"
#include "generators/generator_validator.h"
#include "generators/sm_generator.h"
#include "generators/test_generator.h"

namespace {

const vesk::generator* inner_of(const generator_registry& r, const std::string& type) {
  auto it = r.find(type);
  if (it == r.end()) return nullptr;
  auto* v = dynamic_cast<vesk::generator_validator*>(it->second.get());
  return v ? v->inner : nullptr;
}

}  // namespace

TEST(GeneratorRegistry, HoldsTheSevenWrappedGeneratorsInKeyOrder) {
  vesk::annotations::block_lists lists;
  generator_registry r = make_generator_registry(&lists, "/ws", nullptr);
  std::vector<std::string> keys;
  for (const auto& kv : r) keys.push_back(kv.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"base", "class", "expression", "func", "function",
                                            "state_machine", "test"}));
  EXPECT_NE(dynamic_cast<const vesk::anno_class_generator*>(inner_of(r, "class")), nullptr);
  EXPECT_NE(dynamic_cast<const vesk::anno_func_generator*>(inner_of(r, "func")), nullptr);
  EXPECT_NE(dynamic_cast<const vesk::test_generator*>(inner_of(r, "test")), nullptr);
  EXPECT_NE(dynamic_cast<const vesk::function_generator*>(inner_of(r, "function")), nullptr);
  EXPECT_NE(dynamic_cast<const vesk::expression_generator*>(inner_of(r, "expression")), nullptr);
  auto* base = dynamic_cast<const vesk::base_element_generator*>(inner_of(r, "base"));
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->workspace_dir, "/ws");
  auto* sm = dynamic_cast<const vesk::sm_generator*>(inner_of(r, "state_machine"));
  ASSERT_NE(sm, nullptr);
  EXPECT_EQ(sm->files, nullptr);
}

TEST(GeneratorRegistry, EachProgramBuildsItsOwn) {
  vesk::annotations::block_lists lists;
  std::map<std::string, src_stream> files;
  generator_registry a = make_generator_registry(&lists, "/ws", nullptr);
  generator_registry b = make_generator_registry(&lists, "/ws", &files);
  for (const auto& kv : a) EXPECT_NE(kv.second.get(), b.at(kv.first).get()) << kv.first;
  EXPECT_EQ(dynamic_cast<const vesk::sm_generator*>(inner_of(b, "state_machine"))->files, &files);
  a.at("expression")->set_config(vesk::json());
  EXPECT_TRUE(dynamic_cast<const vesk::expression_generator*>(inner_of(b, "expression"))->cfg.is_null());
}

TEST(GeneratorRegistry, ViewsPassTheValidator) {
  vesk::annotations::block_lists lists;
  generator_registry r = make_generator_registry(&lists, "/ws", nullptr);
  auto& test = *r.at("test");
  test.set_config(vesk::json());
  vesk::view_config v = test.get_view_config();
  EXPECT_EQ(v.inputs.size(), 3u);
  EXPECT_TRUE(v.outputs.empty());

  auto& expr = *r.at("expression");
  vesk::json c = vesk::json::make_object();
  c["function"] = "out + 1";
  expr.set_config(c);
  vesk::view_config e = expr.get_view_config();
  EXPECT_EQ(e.inputs.size(), 1u);
  EXPECT_TRUE(e.outputs.empty());
}
