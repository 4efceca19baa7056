#include "generators/generator_registry.h"

#include <typeindex>

#include "generators/anno_class_generator.h"
#include "generators/anno_func_generator.h"
#include "generators/base_element_generator.h"
#include "generators/expression_generator.h"
#include "generators/function_generator.h"
#include "generators/generator_test_util.h"
#include "generators/generator_validator.h"
#include "generators/sm_generator.h"
#include "generators/test_generator.h"

static vesk::generator* inner_of(const generator_registry& r, const std::string& type) {
  auto* v = dynamic_cast<vesk::generator_validator*>(r.at(type).get());
  return v ? v->inner : nullptr;
}

TEST(GeneratorRegistry, EachProgramBuildsTheSevenWrappedGenerators) {
  vesk::annotations::block_lists lists;
  std::map<std::string, src_stream> files;
  generator_registry a = make_generator_registry(&lists, "/ws", nullptr);
  generator_registry b = make_generator_registry(&lists, "/ws", &files);
  const std::map<std::string, std::type_index> types = {
      {"base", typeid(vesk::base_element_generator)}, {"class", typeid(vesk::anno_class_generator)},
      {"expression", typeid(vesk::expression_generator)}, {"func", typeid(vesk::anno_func_generator)},
      {"function", typeid(vesk::function_generator)}, {"state_machine", typeid(vesk::sm_generator)},
      {"test", typeid(vesk::test_generator)}};
  ASSERT_EQ(a.size(), types.size());
  for (const auto& t : types) {
    vesk::generator* inner = inner_of(a, t.first);
    ASSERT_NE(inner, nullptr) << t.first;
    EXPECT_EQ(std::type_index(typeid(*inner)), t.second) << t.first;
    EXPECT_NE(inner, inner_of(b, t.first)) << t.first;
  }
  EXPECT_EQ(dynamic_cast<vesk::base_element_generator*>(inner_of(a, "base"))->workspace_dir, "/ws");
  EXPECT_EQ(dynamic_cast<vesk::sm_generator*>(inner_of(a, "state_machine"))->files, nullptr);
  EXPECT_EQ(dynamic_cast<vesk::sm_generator*>(inner_of(b, "state_machine"))->files, &files);
}
