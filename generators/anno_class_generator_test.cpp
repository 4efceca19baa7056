#include "generators/anno_class_generator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "foundation/bt_exception.h"
#include "generators/generator_test_util.h"

namespace {

using vesk::annotations::block_class;

vesk::annotations::call make_call(const std::string& method, std::vector<std::string> args,
                                  const std::string& ret = "") {
  vesk::annotations::call c;
  c.method_name = method;
  for (const auto& a : args) c.args.emplace_back(a);
  c.return_to = ret;
  return c;
}

// A controller class as the annotation parser would describe it.
block_class make_pid() {
  return block_class(vesk::json::parse(R"({
    "class": "pid", "name": "pid", "project": "p1", "nspace": "ctrl::", "header": "nodes/pid.h",
    "raster": "r10ms", "file_name": "nodes/pid.h", "line_nr": 12,
    "inputs": [{"name": "u", "var_name": "u", "type": "double", "default": "0.5"},
               {"name": "v", "var_name": "in_v", "type": "double", "is_member": true}],
    "outputs": [{"name": "y", "var_name": "y_", "type": "float"},
                {"name": "z", "var_name": "out_z", "type": "float", "is_member": true}],
    "parameters": [{"name": "k", "var_name": "k_", "type": "double", "form": "text",
                    "default": "2.5", "opts": "{\"step\": 0.1}"},
                   {"name": "on", "var_name": "on", "type": "bool", "form": "checkbox"},
                   {"name": "s", "var_name": "s", "type": "std::string", "form": "text"}],
    "constants": [{"name": "N", "var_name": "N", "value": "16"},
                  {"name": "eps", "var_name": "eps", "value": "1e-3"}],
    "construct": {"args": [{"name": "k_"}, {"name": "eps"}]},
    "init_calls": [{"method_name": "reset"}],
    "tick_calls": [{"method_name": "step", "return_to": "y",
                    "args": [{"name": "u"}, {"name": "N"}, {"name": "k_"}]}],
    "final_calls": [{"method_name": "stop", "args": [{"name": "missing"}]}],
    "libs": ["m", "pthread"], "additional_files": ["extra.cpp"]})"));
}

struct class_fixture : ::testing::Test {
  vesk::annotations::block_lists lists;
  vesk::anno_class_generator gen{&lists};

  void SetUp() override { lists.classes.push_back(make_pid()); }
  void configure(const std::string& cfg_text) {
    gen.set_name("gain1");
    gen.set_config(vesk::json::parse(cfg_text));
    gen.set_mappings({{{"u", "sig_3"}}, {{"obj", "inst"}}, {{"y", "out_1"}}});
  }
  std::string init() { return gen_test::init_text(gen); }
  std::string tick() { return gen_test::tick_text(gen); }
};

TEST_F(class_fixture, properties_and_inserted_defaults) {
  configure(R"({"class": "pid", "prj": "p1", "on": true})");
  std::vector<vesk::property> props = gen.get_properties();
  ASSERT_EQ(props.size(), 3u);
  EXPECT_EQ(props[0].to_json().dump(),
            R"({"key":"k","default":"2.5","form":"text","form_opts":{"step":0.100000},"lbl":null,"min":null,"max":null})");
  EXPECT_EQ(props[1].key, "on");
  EXPECT_EQ(props[1].form, "checkbox");
  EXPECT_TRUE(props[2].form_opts.is_null());
  // Missing parameter values are appended after the present members.
  EXPECT_EQ(gen.cfg.dump(), R"({"class":"pid","prj":"p1","on":true,"k":"2.5","s":""})");
}

TEST_F(class_fixture, write_init_assigns_in_order) {
  lists.classes[0].has_raster_interval_var = true;
  lists.classes[0].has_node_name_var = true;
  configure(R"({"class": "pid", "prj": "p1", "k": 2.5, "on": "true", "s": "abc"})");
  EXPECT_EQ(init(),
            "inst.raster_interval = this->interval;\n"
            "inst.node_name = \"gain1\";\n"
            "inst.k_ = 2.5;\n"
            "inst.on = true;\n"
            "inst.s = \"abc\";\n"
            "inst.reset();\n");
  EXPECT_TRUE(gen.cfg["on"].is_bool());
  EXPECT_TRUE(gen.cfg["on"].get_bool());
  // A C++ default of 1 stays true; any other text is false.
  configure(R"({"class": "pid", "prj": "p1", "on": "1"})");
  EXPECT_NE(init().find("inst.on = true;\n"), std::string::npos);
  configure(R"({"class": "pid", "prj": "p1", "on": "yes"})");
  EXPECT_NE(init().find("inst.on = false;\n"), std::string::npos);
  EXPECT_FALSE(gen.cfg["on"].get_bool());
}

TEST_F(class_fixture, text_values_stay_inside_their_literal) {
  lists.classes[0].has_node_name_var = true;
  configure(R"({"class": "pid", "prj": "p1"})");
  gen.cfg["s"] = vesk::json(std::string("a\"b\nc\\n\\\"d\x01\\"));
  gen.set_name("n\"1");
  std::string text = init();
  EXPECT_NE(text.find("inst.node_name = \"n\\\"1\";\n"), std::string::npos);
  EXPECT_NE(text.find("inst.s = \"a\\\"b\\nc\\n\\\"d\\001\\\\\";\n"), std::string::npos) << text;
}

TEST_F(class_fixture, missing_values_and_mappings) {
  configure(R"({"class": "pid", "prj": "p1", "k": null, "s": null})");
  gen.set_mappings({});
  std::string text = init();
  EXPECT_NE(text.find(".k_ = ;\n"), std::string::npos);
  EXPECT_NE(text.find(".s = \"\";\n"), std::string::npos);
  EXPECT_NE(text.find(".on = false;\n"), std::string::npos);
  EXPECT_EQ(gen_test::final_text(gen), ".stop(Error: mapping not found);\n");
}

TEST_F(class_fixture, write_tick_skips_member_pins) {
  configure(R"({"class": "pid", "prj": "p1", "k": 0.5})");
  EXPECT_EQ(tick(),
            "inst.u = sig_3;\n"
            "out_1 = inst.step(sig_3, 16, 0.5);\n"
            "out_1 = inst.y_;\n");
}

TEST_F(class_fixture, call_arguments_match_items_by_variable_or_name) {
  // Form name and variable differ: the value is found under the form name.
  lists.classes[0].parameters[0].name = "gain";
  lists.classes[0].constants[0].var_name = "kN";
  lists.classes[0].tick_calls = {make_call("step", {"k_", "gain", "kN", "N"})};
  lists.classes[0].construct = make_call("", {"k_"});
  configure(R"({"class": "pid", "prj": "p1", "gain": 7})");
  EXPECT_NE(tick().find("inst.step(7, 7, 16, 16);\n"), std::string::npos);
  EXPECT_EQ(gen.get_view_config().members["obj"].init_value, "7");
}

TEST_F(class_fixture, view_of_found_class) {
  configure(R"({"class": "pid", "prj": "p1", "k": 3})");
  vesk::view_config v = gen.get_view_config();
  EXPECT_FALSE(v.error);
  EXPECT_EQ(v.default_name, "pid");
  EXPECT_EQ(v.search_str, "pid::step");
  EXPECT_EQ(v.raster, "r10ms");
  EXPECT_EQ(v.file_name, "nodes/pid.h");
  EXPECT_EQ(v.line_nr, 12);
  ASSERT_EQ(v.inputs.size(), 2u);
  EXPECT_EQ(v.inputs[0].key, "u");
  EXPECT_EQ(v.inputs[0].value.default_value, "0.5");
  EXPECT_EQ(v.inputs[0].value.is_member, 0u);
  EXPECT_EQ(v.inputs[1].value.is_member, 1u);
  EXPECT_EQ(v.inputs[1].value.var_name, "in_v");
  ASSERT_EQ(v.outputs.size(), 2u);
  EXPECT_EQ(v.outputs[0].value.type, "float");
  EXPECT_EQ(v.outputs[0].value.raster, "block");
  EXPECT_TRUE(v.outputs[1].value.is_member);
  const vesk::data_member& obj = v.members["obj"];
  EXPECT_EQ(obj.type, "ctrl::pid");
  EXPECT_EQ(obj.name, "obj");
  EXPECT_EQ(obj.init_value, "3, 1e-3");
}

TEST_F(class_fixture, instance_type_is_the_class_not_the_display_name) {
  lists.classes[0].name = "Controller";
  lists.classes[0].tick_calls.clear();
  configure(R"({"class": "pid", "prj": "p1"})");
  vesk::view_config v = gen.get_view_config();
  EXPECT_EQ(v.members["obj"].type, "ctrl::pid");
  EXPECT_EQ(v.search_str, "pid::");
}

TEST_F(class_fixture, unknown_constructor_argument_throws) {
  lists.classes[0].construct = make_call("", {"u"});
  configure(R"({"class": "pid", "prj": "p1"})");
  try {
    gen.get_view_config();
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Unable to get fetch constant: u");
  }
}

TEST_F(class_fixture, class_not_found) {
  configure(R"({"class": "pid", "prj": "p2"})");
  vesk::view_config v = gen.get_view_config();
  EXPECT_TRUE(v.error);
  EXPECT_EQ(v.error_string, "Node not found. Class name: 'pid' prj: 'p2'");
  EXPECT_EQ(v.default_name, "pid");
  EXPECT_EQ(v.search_str, "pid::");
  EXPECT_TRUE(v.inputs.empty());
  EXPECT_EQ(v.members["obj"].type, "");
  EXPECT_TRUE(gen.get_properties().empty());
  EXPECT_TRUE(gen.get_sources().empty());
  EXPECT_TRUE(gen.get_headers().empty());
  EXPECT_TRUE(gen.get_libs().empty());
  EXPECT_FALSE(gen.has_raster_interval());
  EXPECT_EQ(init() + tick(), "");

  gen.set_config(vesk::json());
  EXPECT_EQ(gen.get_view_config().error_string, "Node not found. Class name: '' prj: ''");
  EXPECT_TRUE(gen.cfg["class"].is_null());
}

TEST(anno_class_generator, without_lists_or_with_bad_configuration) {
  vesk::anno_class_generator gen(nullptr);
  gen.set_config(vesk::json::parse(R"({"class": "pid"})"));
  EXPECT_TRUE(gen.get_view_config().error);
  // The lookup reads the configuration's members, so a text is refused.
  EXPECT_THROW(gen.set_config(vesk::json("text")), vesk::util::bt_exception);
  EXPECT_THROW(gen.get_view_config(), vesk::util::bt_exception);
  EXPECT_THROW(gen_test::init_text(gen), vesk::util::bt_exception);
}

TEST_F(class_fixture, headers_libs_and_sources) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("vesk_class_test_" + std::to_string(getpid()));
  fs::create_directories(dir / "nodes");
  lists.classes[0].header = (dir / "nodes/pid.h").string();
  configure(R"({"class": "pid", "prj": "p1"})");
  EXPECT_EQ(gen.get_headers(), std::vector<std::string>{lists.classes[0].header});
  EXPECT_EQ(gen.get_libs(), (std::vector<std::string>{"m", "pthread"}));
  // Header missing: only the additional files.
  std::ofstream(dir / "nodes/pid.cpp") << "";
  EXPECT_EQ(gen.get_sources(), std::vector<std::string>{"extra.cpp"});
  std::ofstream(dir / "nodes/pid.h") << "";
  EXPECT_EQ(gen.get_sources(),
            (std::vector<std::string>{"extra.cpp", (dir / "nodes/pid.cpp").string()}));
  fs::remove(dir / "nodes/pid.cpp");
  EXPECT_EQ(gen.get_sources(), std::vector<std::string>{"extra.cpp"});
  fs::remove_all(dir);
}

}  // namespace
