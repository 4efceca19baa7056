#include "generators/anno_func_generator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "generators/generator_test_util.h"

namespace {

using vesk::annotations::block_function;

// ctl::limit(u, N, k) -> y, as the annotation parser would describe it.
block_function make_limit() {
  return block_function(vesk::json::parse(R"({
    "name": "limit", "project": "p1", "nspace": "ctl::", "header": "nodes/f.h", "raster": "r1",
    "file_name": "nodes/f.h", "line_nr": 12,
    "inputs": [{"name": "a", "var_name": "a", "type": "int_a", "default": "d_a"},
               {"name": "b", "var_name": "b", "type": "int_b", "default": "d_b"}],
    "outputs": [{"name": "y", "var_name": "y", "type": "double"}],
    "parameters": [{"name": "k", "var_name": "k", "type": "double", "form": "text", "default": "1"},
                   {"name": "on", "var_name": "on", "type": "bool", "form": "checkbox"},
                   {"name": "s", "var_name": "s", "type": "std::string", "form": "text"}],
    "constants": [{"name": "N", "var_name": "N", "value": "16"}],
    "function": {"method_name": "limit", "return_to": "y",
                 "args": [{"name": "u"}, {"name": "N"}, {"name": "k"}]},
    "libs": ["m"], "additional_files": ["extra.cpp"]})"));
}

struct func_fixture : ::testing::Test {
  vesk::annotations::block_lists lists;
  vesk::anno_func_generator gen{&lists};

  void SetUp() override { lists.functions.push_back(make_limit()); }
  std::string tick(const std::string& cfg_text) {
    gen.set_config(vesk::json::parse(cfg_text));
    gen.set_mappings({{{"u", "v_u"}}, {}, {{"y", "v_y"}}});
    return gen_test::tick_text(gen);
  }
};

TEST_F(func_fixture, call_with_return_target_constant_and_parameter) {
  EXPECT_EQ(tick(R"({"func": "limit", "prj": "p1", "k": 0.5})"), "v_y = ctl::limit(v_u, 16, 0.5);\n");
}

TEST_F(func_fixture, call_without_result_or_arguments) {
  lists.functions[0].function.args.clear();
  lists.functions[0].function.return_to.clear();
  lists.functions[0].nspace.clear();
  EXPECT_EQ(tick(R"({"func": "limit", "prj": "p1"})"), "limit();\n");
}

TEST_F(func_fixture, parameter_arguments_by_kind) {
  lists.functions[0].function.args.clear();
  for (const char* a : {"on", "s", "missing"}) lists.functions[0].function.args.emplace_back(a);
  EXPECT_EQ(tick(R"({"func": "limit", "prj": "p1", "on": "true", "s": "abc"})"),
            "v_y = ctl::limit(true, \"abc\", Error: mapping not found);\n");
  EXPECT_TRUE(gen.cfg["on"].get_bool());
  EXPECT_EQ(tick(R"({"func": "limit", "prj": "p1", "on": "yes", "s": "x\"y"})"),
            "v_y = ctl::limit(false, \"x\\\"y\", Error: mapping not found);\n");
  EXPECT_FALSE(gen.cfg["on"].get_bool());
  EXPECT_EQ(tick(R"({"func": "limit", "prj": "p1", "on": "1", "s": null})"),
            "v_y = ctl::limit(true, \"\", Error: mapping not found);\n");
}

TEST_F(func_fixture, parameter_named_apart_from_its_variable) {
  lists.functions[0].parameters[0].name = "gain";
  lists.functions[0].parameters[0].var_name = "param_k";
  lists.functions[0].function.args = {vesk::annotations::call_arg("param_k"),
                                      vesk::annotations::call_arg("gain")};
  EXPECT_EQ(tick(R"({"func": "limit", "prj": "p1", "gain": 3})"), "v_y = ctl::limit(3, 3);\n");
}

TEST_F(func_fixture, view_of_found_function) {
  gen.set_config(vesk::json::parse(R"({"func": "limit", "prj": "p1"})"));
  vesk::view_config v = gen.get_view_config();
  EXPECT_FALSE(v.error);
  EXPECT_EQ(v.default_name, "limit");
  EXPECT_EQ(v.search_str, "limit");
  EXPECT_EQ(v.raster, "r1");
  EXPECT_EQ(v.line_nr, 12);
  ASSERT_EQ(v.inputs.size(), 2u);
  EXPECT_EQ(v.inputs[0].key, "a");
  EXPECT_EQ(v.inputs[1].key, "b");
  EXPECT_EQ(v.inputs[1].value.type, "int_b");
  EXPECT_EQ(v.inputs[1].value.default_value, "d_b");
  ASSERT_EQ(v.outputs.size(), 1u);
  EXPECT_EQ(v.outputs[0].key, "y");
  EXPECT_EQ(v.outputs[0].value.type, "double");
  EXPECT_EQ(v.outputs[0].value.raster, "block");
  std::vector<vesk::property> props = gen.get_properties();
  ASSERT_EQ(props.size(), 3u);
  EXPECT_EQ(props[0].def.dump(), "\"1\"");
  EXPECT_EQ(gen.get_libs(), std::vector<std::string>{"m"});
  EXPECT_EQ(gen.get_headers(), std::vector<std::string>{"nodes/f.h"});
}

TEST_F(func_fixture, function_not_found) {
  gen.set_config(vesk::json::parse(R"({"func": "scale", "prj": "p1"})"));
  vesk::view_config v = gen.get_view_config();
  EXPECT_TRUE(v.error);
  EXPECT_EQ(v.error_string, "Node not found. Function_name: 'scale' prj: 'p1'");
  EXPECT_EQ(v.default_name, "scale");
  EXPECT_EQ(v.raster, "auto");
  EXPECT_EQ(v.line_nr, 0);
  EXPECT_TRUE(v.inputs.empty() && v.outputs.empty());
  EXPECT_TRUE(gen.get_properties().empty());
  EXPECT_TRUE(gen.get_sources().empty());
  EXPECT_EQ(gen_test::tick_text(gen), "scale();\n");
}

TEST_F(func_fixture, sources_beside_the_header) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("vesk_func_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  lists.functions[0].header = (dir / "f.h").string();
  gen.set_config(vesk::json::parse(R"({"func": "limit", "prj": "p1"})"));
  std::ofstream(dir / "f.cpp") << "";
  EXPECT_EQ(gen.get_sources(), std::vector<std::string>{"extra.cpp"});
  std::ofstream(dir / "f.h") << "";
  EXPECT_EQ(gen.get_sources(), (std::vector<std::string>{"extra.cpp", (dir / "f.cpp").string()}));
  fs::remove_all(dir);
}

TEST(anno_func_generator, null_lists_report_not_found) {
  vesk::anno_func_generator gen(nullptr);
  gen.set_config(vesk::json());
  EXPECT_EQ(gen.get_view_config().error_string, "Node not found. Function_name: '' prj: ''");
}

}  // namespace
