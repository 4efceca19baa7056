#include "compiler/compiler_node.h"

#include <gtest/gtest.h>

#include "compiler/compiler_test_util.h"

using namespace compiler_test;

namespace {

std::shared_ptr<vesk::compiler_node> make(fixture& f, const std::string& text) {
  return std::make_shared<vesk::compiler_node>(vesk::json::parse(text), &f.c);
}

TEST(CompilerNode, CfgGetsTheDefaultsOfItsOwnKindWhateverWasConfiguredBefore) {
  fixture f;
  // The shared "base" generator last saw a delay: the parameter must still get its own form.
  make(f, base("d", "delay"));
  auto p = make(f, base("k", "parameter"));
  EXPECT_EQ(p->cfg.dump(), R"({"node":"parameter","data_type":"double","default":"0","type_header":""})");
  // A present member is kept, null included.
  auto d = make(f, base("d2", "delay", "{}", ",\"start_value\":null"));
  EXPECT_EQ(d->cfg.dump(), R"({"node":"delay","start_value":null,"data_type":"double"})");
}

TEST(CompilerNode, RasterComesFromTheViewUnlessTheViewSaysAuto) {
  fixture f;
  struct row {
    std::string stored, node_text, want;
  };
  const row rows[] = {
      {"r10ms", expr("e", "a"), "r10ms"},
      {"", expr("e", "a"), "auto"},
      {"r10ms", base("s", "subsystem"), ""},  // the subsystem view fixes an empty raster
  };
  for (const row& r : rows) {
    std::string text = r.node_text;
    text.insert(text.size() - 1, ",\"raster\":\"" + r.stored + "\"");
    EXPECT_EQ(make(f, text)->raster, r.want) << text;
  }
}

TEST(CompilerNode, ReadsInputsDefaultsAndFlagsAndWritesThemBackSorted) {
  fixture f;
  auto n = make(f, R"({"type":"expression","name":"e","cfg":{"function":"b+a"},"rotate":1,
      "inputs":{"b":{"node":"src"},"a":{"node":"x","pin":"out"},"a":{"node":"dup"}},
      "default_values":{"b":2,"a":"3"}})");
  ASSERT_EQ(n->inputs.size(), 2u);
  EXPECT_EQ(n->inputs["a"].node, "x");  // the first of duplicate keys wins
  EXPECT_EQ(n->inputs["b"].node, "src");
  EXPECT_EQ(n->inputs["b"].pin, "");
  EXPECT_TRUE(n->rotate);
  EXPECT_EQ(n->default_values["b"], "2");  // a number with the digits written
  EXPECT_EQ(n->to_json().dump(),
            R"({"name":"e","type":"expression","cfg":{"function":"b+a","output_name":"out","output_type":"auto","type_header":"","disable_output":false},"pos":{"x":0.000000,"y":0.000000},"raster":"auto","rotate":true,"comment_out":false,"inputs":{"a":{"node":"x","pin":"out"},"b":{"node":"src","pin":""}},"default_values":{"a":"3","b":"2"}})");
}

TEST(CompilerNode, BadMembersThrowAndUnknownTypesNameTheType) {
  fixture f;
  // A member of the wrong type is an error of the reading, which its maker throws.
  for (const char* text : {R"({"name":"e","type":"expression","rotate":"x"})", R"({"name":{},"type":"expression"})"}) {
    const auto n = make(f, text);
    ASSERT_FALSE(n->config_warnings.empty()) << text;
    EXPECT_TRUE(n->config_warnings[0].error) << text;
  }
  expect_throw_what<std::runtime_error>([&] { make(f, R"({"name":"n","type":""})"); }, "generator '' not found");
  EXPECT_EQ(f.debug.lines.back(), "find generator: ");
}

TEST(CompilerNode, MappingsListTheMappedNamesOfPinsAndMembers) {
  fixture f;
  auto d = make(f, base("d", "delay"));
  d->input_pins["in"].mapped_name = "d__in";
  d->output_pins["out"].mapped_name = "d__out";
  d->members["mem"].mapped_name = "d__mem";
  vesk::generator_mappings m = d->get_mappings();
  EXPECT_EQ(m.inputs.at("in"), "d__in");
  EXPECT_EQ(m.outputs.at("out"), "d__out");
  EXPECT_EQ(m.members.at("mem"), "d__mem");
}

}  // namespace
