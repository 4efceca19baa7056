#include "generators/generator_registry.h"

#include <typeindex>

#include "generators/anno_class_generator.h"
#include "generators/anno_func_generator.h"
#include "generators/base_element_generator.h"
#include "generators/config_check.h"
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

TEST(GeneratorRegistry, EachGeneratorNamesWhatItsConfigurationHoldsUnread) {
  vesk::annotations::block_lists lists;
  generator_registry r = make_generator_registry(&lists, "/ws", nullptr);
  struct row {
    const char* type;
    const char* cfg;
    std::vector<std::string> subjects;
  } rows[] = {
      {"state_machine",
       R"({"var":"","states":[{"name":"init","tikc":"","transitions":[{"c":1,"to":"b"},{"c":1,"t":"b"}]},)"
       R"({"name":"b","comment_out":1,"transitions":[{"t":"x"}]}]})",
       {"Key \"var\"", "Key \"tikc\" of state \"init\"", "Key \"to\" of a transition of state \"init\"",
        "Transition of state \"init\" to null", "Transition of state \"init\" to \"b\""}},
      {"state_machine", R"({"states":[{"name":"init","transitions":[{"t":{}}]}]})",
       {"Value {} of key \"t\" of a transition of state \"init\""}},
      {"state_machine", R"({"states":[{"name":"init","comment_out":"x"}]})",  // read as false
       {"Value \"x\" of key \"comment_out\" of state \"init\""}},
      {"base", R"({"node":"rt","behaviour":"fifo"})", {"Key \"behaviour\""}},
      {"base", R"({"nod":"delay"})", {"Kind null"}},
      {"class", R"({"class":"nope","prj":"x","k":1})", {}},  // the block error says it
      {"function", R"({"function":"f","input":"a"})", {"Key \"input\""}},
      {"test", R"({"num_pins":2,"pins":3})", {"Key \"pins\""}},
      // A checkbox written as a number's text means that number.
      {"expression", R"({"function":"1","disable_output":"1"})", {}},
      {"expression", R"({"function":"1","disable_output":"0"})", {}},
  };
  for (const row& w : rows) {
    vesk::generator& g = *r.at(w.type);
    g.set_config(vesk::json::parse(w.cfg));
    std::vector<std::string> subjects;
    for (const vesk::config_warning& c : g.check_config()) subjects.push_back(c.subject);
    EXPECT_EQ(w.subjects, subjects) << w.cfg;
  }
  // Many names typed wrong give a bounded report.
  log_capture warn(log_warn);
  vesk::write_config_warnings(std::vector<vesk::config_warning>(12, {"Key \"k\"", "is ignored"}), "block 'b'");
  ASSERT_EQ(vesk::max_config_warnings + 1, warn.lines.size());
  EXPECT_EQ("Key \"k\" in block 'b' is ignored", warn.lines[0]);
  EXPECT_EQ("2 more names in block 'b' are not read as written; they are not listed", warn.lines.back());
}
