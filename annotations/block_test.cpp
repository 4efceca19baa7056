#include "annotations/block.h"

#include <gtest/gtest.h>

#include <utility>

#include "foundation/bt_exception.h"

namespace vesk::annotations {
namespace {

TEST(NodeJson, DefaultsKeyOrderAndEmptyLists) {
  EXPECT_EQ(block_class().to_json().dump(),
            R"({"class":"","has_raster_interval_var":false,"has_node_name_var":false,)"
            R"("project":"","name":"","header":"","nspace":"","info":"","raster":"auto",)"
            R"("file_name":"","line_nr":0.000000,"inputs":null,"outputs":null,"parameters":null,)"
            R"("constants":null,"libs":[],"additional_files":[],)"
            R"("construct":{"method_name":"","args":null,"return_to":"","return_type":""},)"
            R"("init_calls":null,"tick_calls":null,"final_calls":null})");
  EXPECT_TRUE(block_base().to_json().is_null());
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
  block_class back(sample_class().to_json());
  EXPECT_EQ(back.to_json().dump(), kSampleClassJson);
  EXPECT_EQ(back.src_line + back.inputs[0].src_line, 0u);
  EXPECT_TRUE(back.poll_calls.empty() && back.pin_names.empty() && !back.not_found);
}

TEST(NodeJson, LenientReaders) {
  auto cls = [](const char* text) { return block_class(vesk::json::parse(text)); };
  EXPECT_EQ(cls(R"({"class":"a"})").raster, "auto");
  EXPECT_EQ(cls(R"({"raster":"r10ms"})").raster, "r10ms");
  block_class c = cls(R"({"inputs":{"b":{"name":"x"},"a":{"name":"y"}},"outputs":["x"],)"
                      R"("libs":["m",3],"additional_files":{"k":"a.cpp"}})");
  ASSERT_EQ(c.inputs.size(), 2u);  // an object's member values in member order
  EXPECT_EQ(c.inputs[0].name + c.inputs[1].name, "xy");
  ASSERT_EQ(c.outputs.size(), 1u);  // an element that is no object has all defaults
  EXPECT_EQ(c.outputs[0].to_json().dump(), output().to_json().dump());
  EXPECT_EQ(c.libs, (std::vector<std::string>{"m", "3.000000"}));
  EXPECT_EQ(c.additional_files, std::vector<std::string>{"a.cpp"});

  block_class s = sample_class();
  vesk::json scalars = vesk::json::parse(R"({"inputs":"abc","outputs":5})");
  s.from_json(scalars);
  EXPECT_TRUE(s.inputs.empty() && s.outputs.empty());
  EXPECT_EQ(s.parameters.size(), 1u);  // absent key: unchanged
  EXPECT_THROW(cls(R"({"libs":[true]})"), vesk::util::bt_exception);
  EXPECT_THROW(cls(R"({"name":{}})"), vesk::util::bt_exception);
}

TEST(Parameter, UpdateFormAndIsString) {
  const std::vector<std::vector<std::string>> cases = {
      // type, default before, form, default after
      {"double", "", "text", "{}"},           {"bool", "", "checkbox", "false"},
      {"bool", "true", "checkbox", "true"},   {"Bool", "", "text", "{}"},
      {"std::string", "\"abc\"", "text", "abc"}, {"const char*", "", "text", ""},
      {"int", "\"ab", "text", "a"},           {"int", "\"\"", "text", "\"\""},
      {"int", "3", "text", "3"},
  };
  for (const auto& c : cases) {
    parameter p;
    p.type = c[0];
    p.default_val = c[1];
    p.form = "slider";
    p.update_form();
    EXPECT_EQ(p.form + "|" + p.default_val, c[2] + "|" + c[3]) << c[0] << " / " << c[1];
  }
  const std::pair<const char*, bool> types[] = {
      {"char", false},        {"char[8]", false},         {"unsigned char*", true},
      {"char * const", true}, {"std::string_view", true}, {"wchar_t*", true},
  };
  for (const auto& [type, expected] : types) {
    parameter p;
    p.type = type;
    EXPECT_EQ(p.is_string(), expected) << type;
    p.default_val = "\"x";
    EXPECT_TRUE(p.is_string()) << type;
  }
}

TEST(VarType, SearchOrder) {
  block_class c;
  c.init_calls.emplace_back();
  c.init_calls[0].args.emplace_back("y", "int", "");
  c.tick_calls.resize(2);
  c.tick_calls[0].return_to = "y";  // an empty return type falls through to the next call
  c.construct.args.emplace_back("w", "long", "");
  c.poll_calls.push_back(c.construct);
  EXPECT_EQ(c.get_var_type("y") + "|" + c.get_var_type("w"), "int|");  // not construct or poll
  c.tick_calls[0].return_type = "double";  // tick calls come before init calls
  EXPECT_EQ(c.get_var_type("y"), "double");
  block_function f;
  f.function.return_type = "double";
  EXPECT_EQ(f.get_var_type(""), "double");  // an empty return_to matches the empty name
}

TEST(Copies, CopyKeepsEverythingMoveEmpties) {
  block_class c = sample_class();
  c.not_found = true;
  block_class copy(c);
  EXPECT_EQ(copy.to_json().dump(), kSampleClassJson);
  EXPECT_TRUE(copy.not_found && copy.pin_names.count("e") && copy.poll_calls.size() == 1);
  EXPECT_EQ(copy.inputs[0].src_line, 9u);

  block_class moved(std::move(c));
  EXPECT_EQ(moved.to_json().dump(), kSampleClassJson);
  // NOLINTNEXTLINE(bugprone-use-after-move): the moved-from state is what is tested
  EXPECT_EQ(c.class_name + c.name + c.raster, "");
  EXPECT_TRUE(c.inputs.empty() && c.libs.empty() && c.tick_calls.empty() && c.poll_calls.empty() &&
              c.pin_names.empty() && c.construct.args.empty());
  EXPECT_EQ(c.line_nr, 7);
  EXPECT_EQ(c.src_line, 7u);
}

}  // namespace
}  // namespace vesk::annotations
