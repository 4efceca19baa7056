#include "annotations/block.h"

#include <gtest/gtest.h>

#include <utility>

#include "foundation/bt_exception.h"

namespace vesk::annotations {
namespace {

const char kDefaultClassJson[] =
    R"({"class":"","has_raster_interval_var":false,"has_node_name_var":false,)"
    R"("project":"","name":"","header":"","nspace":"","info":"","raster":"auto",)"
    R"("file_name":"","line_nr":0.000000,"inputs":null,"outputs":null,"parameters":null,)"
    R"("constants":null,"libs":[],"additional_files":[],)"
    R"("construct":{"method_name":"","args":null,"return_to":"","return_type":""},)"
    R"("init_calls":null,"tick_calls":null,"final_calls":null})";

TEST(NodeJson, DefaultClassWritesAllKeysInOrder) {
  block_class c;
  EXPECT_EQ(c.to_json().dump(), kDefaultClassJson);
}

TEST(NodeJson, BareFunctionNode) {
  block_function f;
  f.name = "scale";
  f.project = "p1";
  f.line_nr = 12;
  f.function.method_name = "scale";
  f.function.return_type = "double";
  EXPECT_EQ(f.to_json().dump(),
            R"({"name":"scale","project":"p1","header":"","nspace":"","info":"",)"
            R"("raster":"auto","file_name":"","line_nr":12.000000,"inputs":null,)"
            R"("outputs":null,"parameters":null,"constants":null,"libs":[],)"
            R"("additional_files":[],"function":{"method_name":"scale","args":null,)"
            R"("return_to":"","return_type":"double"}})");
}

TEST(NodeJson, BlockBaseHasNoJsonForm) {
  block_base b;
  b.name = "x";
  EXPECT_TRUE(b.to_json().is_null());
}

TEST(NodeJson, ElementKeyOrders) {
  input in;
  in.name = "a";
  in.default_val = "1";
  in.is_member = true;
  EXPECT_EQ(in.to_json().dump(),
            R"({"name":"a","var_name":"","type":"","default":"1","is_member":true})");
  output out;
  EXPECT_EQ(out.to_json().dump(), R"({"name":"","var_name":"","type":"","is_member":false})");
  parameter p;
  p.form = "text";
  p.type = "int";
  EXPECT_EQ(p.to_json().dump(),
            R"({"name":"","var_name":"","form":"text","type":"int","opts":"","default":""})");
  constant k;
  k.value = "3";
  EXPECT_EQ(k.to_json().dump(), R"({"name":"","var_name":"","value":"3"})");
  call c;
  c.args.emplace_back("a", "int", "0");
  EXPECT_EQ(c.to_json().dump(),
            R"({"method_name":"","args":[{"name":"a","type":"int","default_val":"0"}],)"
            R"("return_to":"","return_type":""})");
}

const char kSampleClassJson[] =
    R"({"class":"pid","has_raster_interval_var":true,"has_node_name_var":false,)"
    R"("project":"p1","name":"PID","header":"pid.h","nspace":"ctl::","info":"i","raster":"r10ms",)"
    R"("file_name":"/x/pid.h","line_nr":7.000000,)"
    R"("inputs":[{"name":"e","var_name":"in_e","type":"double","default":"0","is_member":true}],)"
    R"("outputs":[{"name":"u","var_name":"out_u","type":"double","is_member":true}],)"
    R"("parameters":[{"name":"kp","var_name":"param_kp","form":"text","type":"double",)"
    R"("opts":"","default":"1.5"}],)"
    R"("constants":[{"name":"n","var_name":"n","value":"4"}],)"
    R"("libs":["m","pthread"],"additional_files":["/x/pid.cpp"],)"
    R"("construct":{"method_name":"","args":[{"name":"n","type":"","default_val":""}],)"
    R"("return_to":"","return_type":""},)"
    R"("init_calls":[{"method_name":"reset","args":null,"return_to":"","return_type":""}],)"
    R"("tick_calls":[{"method_name":"step","args":[{"name":"e","type":"double","default_val":""}],)"
    R"("return_to":"u","return_type":"double"}],"final_calls":null})";

/// A class node with every kind of field set, including those outside the JSON form.
block_class sample_class() {
  block_class c(vesk::json::parse(kSampleClassJson));
  c.src_line = 7;
  c.inputs[0].src_line = 9;
  c.poll_calls.push_back(c.init_calls[0]);
  c.pin_names["e"] = "";
  return c;
}

TEST(NodeJson, RoundTripKeepsJsonFieldsOnly) {
  block_class c = sample_class();
  vesk::json j = c.to_json();
  EXPECT_EQ(j.dump(), kSampleClassJson);
  block_class back(j);
  EXPECT_EQ(back.to_json().dump(), kSampleClassJson);
  EXPECT_EQ(back.class_name, "pid");
  ASSERT_EQ(back.inputs.size(), 1u);
  EXPECT_EQ(back.inputs[0].var_name, "in_e");
  EXPECT_EQ(back.inputs[0].src_line, 0u);
  EXPECT_EQ(back.src_line, 0u);
  EXPECT_TRUE(back.poll_calls.empty());
  EXPECT_TRUE(back.pin_names.empty());
  EXPECT_FALSE(back.not_found);
  ASSERT_EQ(back.tick_calls.size(), 1u);
  EXPECT_EQ(back.tick_calls[0].args[0].type, "double");
  EXPECT_EQ(back.construct.args[0].name, "n");
}

TEST(NodeJson, RasterDefaultsToAuto) {
  EXPECT_EQ(block_class(vesk::json::parse(R"({"class":"a"})")).raster, "auto");
  EXPECT_EQ(block_class(vesk::json::parse(R"({"raster":"r10ms"})")).raster, "r10ms");
  EXPECT_EQ(block_function(vesk::json()).raster, "auto");
}

TEST(NodeJson, ListOfDescriptionsReaders) {
  block_class c(vesk::json::parse(
      R"({"inputs":{"b":{"name":"x"},"a":{"name":"y"}}})"));
  ASSERT_EQ(c.inputs.size(), 2u);
  EXPECT_EQ(c.inputs[0].name, "x");
  EXPECT_EQ(c.inputs[1].name, "y");

  block_class s = sample_class();
  vesk::json text = vesk::json::parse(R"({"inputs":"abc","outputs":5})");
  s.from_json(text);
  EXPECT_TRUE(s.inputs.empty());
  EXPECT_TRUE(s.outputs.empty());
  EXPECT_EQ(s.parameters.size(), 1u);  // absent key: unchanged

  block_function f(vesk::json::parse(R"({"inputs":["x"]})"));
  ASSERT_EQ(f.inputs.size(), 1u);
  EXPECT_EQ(f.inputs[0].to_json().dump(), input().to_json().dump());
}

TEST(NodeJson, ListOfTextsReaders) {
  block_class c(vesk::json::parse(R"({"libs":["m",3],"additional_files":{"k":"a.cpp"}})"));
  EXPECT_EQ(c.libs, (std::vector<std::string>{"m", "3.000000"}));
  EXPECT_EQ(c.additional_files, (std::vector<std::string>{"a.cpp"}));
  try {
    block_class bad(vesk::json::parse(R"({"libs":[true]})"));
    FAIL() << "no type error";
  } catch (const vesk::util::bt_exception& e) {
    EXPECT_STREQ(e.what(), "vesk::json: Types do not match");
  }
}

TEST(NodeJson, TextFieldOfWrongKindThrows) {
  EXPECT_THROW(block_function(vesk::json::parse(R"({"name":{}})")), vesk::util::bt_exception);
}

TEST(NodeJson, LineNrIsTruncatedAndSaturated) {
  const std::pair<const char*, int32_t> cases[] = {
      {R"({"line_nr":"7.9"})", 7},          {R"({"line_nr":-7.9})", -7},
      {R"({"line_nr":"3e9"})", 2147483647}, {R"({"line_nr":-3e9})", -2147483647 - 1},
      {R"({"line_nr":"nan"})", 0},          {R"({"line_nr":true})", 1},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(block_function(vesk::json::parse(text)).line_nr, expected) << text;
}

struct form_case {
  const char* type;
  const char* default_before;
  const char* form;
  const char* default_after;
};

TEST(Parameter, UpdateForm) {
  const form_case cases[] = {
      {"double", "", "text", "{}"},
      {"bool", "", "checkbox", "false"},
      {"bool", "true", "checkbox", "true"},
      {"Bool", "", "text", "{}"},
      {"std::string", "\"abc\"", "text", "abc"},
      {"const char*", "", "text", ""},
      {"int", "\"ab", "text", "a"},
      {"int", "\"\"", "text", "\"\""},
      {"double", "\"\"", "text", "\"\""},
      {"int", "3", "text", "3"},
  };
  for (const form_case& c : cases) {
    parameter p;
    p.type = c.type;
    p.default_val = c.default_before;
    p.form = "slider";
    p.update_form();
    EXPECT_EQ(p.form, c.form) << c.type << " / " << c.default_before;
    EXPECT_EQ(p.default_val, c.default_after) << c.type << " / " << c.default_before;
  }
}

TEST(Parameter, IsString) {
  const std::pair<const char*, bool> types[] = {
      {"char", false},          {"char[8]", false},       {"unsigned char*", true},
      {"char * const", true},   {"std::string_view", true}, {"wchar_t*", true},
      {"double", false},        {"", false},
  };
  for (const auto& [type, expected] : types) {
    parameter p;
    p.type = type;
    EXPECT_EQ(p.is_string(), expected) << type;
    p.default_val = "\"x";
    EXPECT_TRUE(p.is_string()) << type;
  }
}

TEST(VarType, ClassSearchesTickThenInitThenFinal) {
  block_class c;
  call init;
  init.args.emplace_back("y", "int", "");
  c.init_calls.push_back(init);
  call tick;
  tick.method_name = "step";
  tick.return_to = "y";
  tick.return_type = "double";
  c.tick_calls.push_back(tick);
  EXPECT_EQ(c.get_var_type("y"), "double");
  call fin;
  fin.args.emplace_back("z", "float", "");
  c.final_calls.push_back(fin);
  EXPECT_EQ(c.get_var_type("z"), "float");
  EXPECT_EQ(c.get_var_type("w"), "");
  c.construct.args.emplace_back("w", "long", "");
  c.poll_calls.push_back(fin);
  c.poll_calls.back().args[0].name = "w";
  EXPECT_EQ(c.get_var_type("w"), "");  // construct and poll calls are not searched
}

TEST(VarType, EmptyReturnTypeFallsThroughToNextCall) {
  block_class c;
  call first;
  first.return_to = "y";
  c.tick_calls.push_back(first);
  call second;
  second.args.emplace_back("y", "int", "");
  c.tick_calls.push_back(second);
  EXPECT_EQ(c.get_var_type("y"), "int");
}

TEST(VarType, FunctionAndBase) {
  block_function f;
  f.function.return_type = "double";
  f.function.args.emplace_back("", "int", "");
  EXPECT_EQ(f.get_var_type(""), "double");  // empty return_to matches the empty name
  f.function.return_to = "r";
  f.function.args.emplace_back("a", "float", "");
  EXPECT_EQ(f.get_var_type("a"), "float");
  EXPECT_EQ(block_base().get_var_type("a"), "");
}

TEST(Copies, CopyKeepsFieldsOutsideJson) {
  block_class c = sample_class();
  c.not_found = true;
  block_class copy(c);
  EXPECT_EQ(copy.to_json().dump(), c.to_json().dump());
  EXPECT_EQ(copy.poll_calls.size(), 1u);
  EXPECT_EQ(copy.pin_names.count("e"), 1u);
  EXPECT_TRUE(copy.not_found);
  EXPECT_EQ(copy.src_line, 7u);
  EXPECT_EQ(copy.inputs[0].src_line, 9u);
  copy.inputs[0].name = "changed";
  EXPECT_EQ(c.inputs[0].name, "e");
}

TEST(Copies, MovedFromIsEmpty) {
  block_class c = sample_class();
  block_class moved(std::move(c));
  EXPECT_EQ(moved.inputs.size(), 1u);
  EXPECT_EQ(moved.poll_calls.size(), 1u);
  // NOLINTNEXTLINE(bugprone-use-after-move): the moved-from state is what is tested
  EXPECT_TRUE(c.class_name.empty());
  EXPECT_TRUE(c.name.empty());
  EXPECT_TRUE(c.raster.empty());
  EXPECT_TRUE(c.inputs.empty());
  EXPECT_TRUE(c.libs.empty());
  EXPECT_TRUE(c.tick_calls.empty());
  EXPECT_TRUE(c.poll_calls.empty());
  EXPECT_TRUE(c.pin_names.empty());
  EXPECT_TRUE(c.construct.args.empty());
  EXPECT_EQ(c.line_nr, 7);
  EXPECT_EQ(c.src_line, 7u);

  block_class assigned;
  assigned = std::move(moved);
  EXPECT_EQ(assigned.class_name, "pid");
  EXPECT_TRUE(moved.inputs.empty());

  block_function f;
  f.function.method_name = "scale";
  block_function g(std::move(f));
  EXPECT_EQ(g.function.method_name, "scale");
  EXPECT_TRUE(f.function.method_name.empty());
}

}  // namespace
}  // namespace vesk::annotations
