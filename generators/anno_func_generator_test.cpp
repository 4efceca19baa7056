#include "generators/anno_func_generator.h"

#include "generators/generator_test_util.h"

using namespace gen_test;

// ctl::limit(u, N, k) -> y, as the annotation parser would describe it.
const char* const limit_json = R"({"name": "limit", "project": "p1", "nspace": "ctl::", "header": "nodes/f.h",
  "raster": "r1", "file_name": "nodes/f.h", "line_nr": 12, "libs": ["m"], "additional_files": ["extra.cpp"],
  "inputs": [{"name": "a", "var_name": "a", "type": "int_a", "default": "d_a"},
             {"name": "b", "var_name": "b", "type": "int_b", "default": "d_b"}],
  "outputs": [{"name": "y", "var_name": "y", "type": "double"}],
  "constants": [{"name": "N", "var_name": "N", "value": "16"}],
  "parameters": [{"name": "k", "var_name": "k", "type": "double", "form": "text", "default": "1"},
    {"name": "on", "var_name": "on", "type": "bool", "form": "checkbox"},
    {"name": "s", "var_name": "s", "type": "std::string"}],
  "function": {"method_name": "limit", "return_to": "y", "args": [{"name": "u"}, {"name": "N"}, {"name": "k"}]}})";

struct func_fixture : ::testing::Test {
  vesk::annotations::block_lists lists;
  vesk::anno_func_generator gen{&lists};
  vesk::annotations::block_function& limit() { return lists.functions[0]; }

  void SetUp() override { lists.functions.emplace_back(vesk::json::parse(limit_json)); }
  std::string tick(const std::string& cfg_text) {
    gen.set_config(vesk::json::parse(cfg_text));
    gen.set_mappings({{{"u", "v_u"}}, {}, {{"y", "v_y"}}});
    return tick_text(gen);
  }
};

TEST_F(func_fixture, call_arguments_by_kind) {
  EXPECT_EQ(tick(R"({"func": "limit", "prj": "p1", "k": 0.5})"), "v_y = ctl::limit(v_u, 16, 0.5);\n");
  limit().function.args.clear();
  for (const char* a : {"on", "s", "missing"}) limit().function.args.emplace_back(a);
  EXPECT_EQ(tick(R"({"func": "limit", "prj": "p1", "on": "1", "s": "x\"y"})"),
            "v_y = ctl::limit(true, \"x\\\"y\", Error: mapping not found);\n");
  EXPECT_EQ(tick(R"({"func": "limit", "prj": "p1", "on": "yes", "s": null})"),
            "v_y = ctl::limit(false, \"\", Error: mapping not found);\n");
  EXPECT_FALSE(gen.cfg["on"].get_bool());
  // A parameter named apart from its variable is found by either.
  limit().parameters[0].name = "gain";
  limit().parameters[0].var_name = "param_k";
  limit().function.args = {vesk::annotations::call_arg("param_k"), vesk::annotations::call_arg("gain")};
  EXPECT_EQ(tick(R"({"func": "limit", "prj": "p1", "gain": 3})"), "v_y = ctl::limit(3, 3);\n");
  // No result, no arguments, no namespace.
  limit().function = vesk::annotations::call(vesk::json::parse(R"({"method_name": "limit"})"));
  limit().nspace.clear();
  EXPECT_EQ(tick(R"({"func": "limit", "prj": "p1"})"), "limit();\n");
}

TEST_F(func_fixture, view_and_form_of_found_or_missing_function) {
  gen.set_config(vesk::json::parse(R"({"func": "limit", "prj": "p1"})"));
  EXPECT_EQ(view_json(gen),
            R"({"default_name":"limit","raster":"r1","file_name":"nodes/f.h","search_str":"limit",)"
            R"("line_nr":12.000000,"inputs":{"a":{"type":"int_a","default_value":"d_a"},"b":{"type":)"
            R"("int_b","default_value":"d_b"}},"outputs":{"y":{"type":"double","raster":"block"}}})");
  EXPECT_EQ(gen.cfg.dump(), R"({"func":"limit","prj":"p1","k":"1","on":"","s":""})");
  EXPECT_EQ(gen.get_libs(), names{"m"});
  EXPECT_EQ(gen.get_headers(), names{"nodes/f.h"});

  gen.set_config(vesk::json::parse(R"({"func": "scale", "prj": "p1"})"));
  EXPECT_EQ(view_json(gen), R"({"default_name":"scale","raster":"auto","search_str":"scale","error":true,)"
                            R"("error_string":"Node not found. Function_name: 'scale' prj: 'p1'"})");
  EXPECT_TRUE(gen.get_properties().empty() && gen.get_sources().empty());
  EXPECT_EQ(tick_text(gen), "scale();\n");
  EXPECT_EQ(vesk::anno_func_generator(nullptr).get_view_config().error_string,
            "Node not found. Function_name: '' prj: ''");
}

