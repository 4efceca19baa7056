#include "generators/anno_class_generator.h"

#include <fstream>

#include "foundation/test_util.h"
#include "generators/generator_test_util.h"

using namespace gen_test;
using vesk::annotations::call;

// A controller class as the annotation parser would describe it.
const char* const pid_json = R"({"class": "pid", "name": "pid", "project": "p1", "nspace": "ctrl::",
  "header": "nodes/pid.h", "raster": "r10ms", "file_name": "nodes/pid.h", "line_nr": 12, "libs": ["m", "pthread"],
  "inputs": [{"name": "u", "var_name": "u", "type": "double", "default": "0.5"},
             {"name": "v", "var_name": "in_v", "type": "double", "is_member": true}],
  "outputs": [{"name": "y", "var_name": "y_", "type": "float"},
              {"name": "z", "var_name": "out_z", "type": "float", "is_member": true}],
  "parameters": [{"name": "k", "var_name": "k_", "type": "double", "form": "text", "default": "2.5",
                  "opts": "{\"step\": 0.1}"}, {"name": "on", "var_name": "on", "type": "bool", "form": "checkbox"},
                 {"name": "s", "var_name": "s", "type": "std::string", "form": "text"}],
  "constants": [{"name": "N", "var_name": "N", "value": "16"}, {"name": "eps", "var_name": "eps", "value": "1e-3"}],
  "construct": {"args": [{"name": "k_"}, {"name": "eps"}]}, "init_calls": [{"method_name": "reset"}],
  "tick_calls": [{"method_name": "step", "return_to": "y", "args": [{"name": "u"}, {"name": "N"}, {"name": "k_"}]}],
  "final_calls": [{"method_name": "stop", "args": [{"name": "missing"}]}], "additional_files": ["extra.cpp"]})";

struct class_fixture : ::testing::Test {
  vesk::annotations::block_lists lists;
  vesk::anno_class_generator gen{&lists};
  vesk::annotations::block_class& pid() { return lists.classes[0]; }

  void SetUp() override { lists.classes.emplace_back(vesk::json::parse(pid_json)); }
  void configure(const std::string& cfg_text) {
    gen.set_name("gain1");
    gen.set_config(vesk::json::parse(cfg_text));
    gen.set_mappings({{{"u", "sig_3"}}, {{"obj", "inst"}}, {{"y", "out_1"}}});
  }
};

TEST_F(class_fixture, init_tick_and_final_code) {
  pid().has_raster_interval_var = true;
  pid().has_node_name_var = true;
  configure(R"({"class": "pid", "prj": "p1", "k": 2.5, "on": "true", "s": "abc"})");
  EXPECT_EQ(init_text(gen), "inst.raster_interval = this->interval;\ninst.node_name = \"gain1\";\n"
                            "inst.k_ = 2.5;\ninst.on = true;\ninst.s = \"abc\";\ninst.reset();\n");
  EXPECT_EQ(tick_text(gen), "inst.u = sig_3;\nout_1 = inst.step(sig_3, 16, 2.5);\nout_1 = inst.y_;\n");
  EXPECT_TRUE(gen.cfg["on"].get_bool());  // the checkbox text became its bool
  // Text values and the node name stay inside their literals.
  gen.cfg["s"] = vesk::json(std::string("a\"b\nc\\n\\\"d\x01\\"));
  gen.set_name("n\"1");
  EXPECT_NE(init_text(gen).find("inst.node_name = \"n\\\"1\";\ninst.k_ = 2.5;\ninst.on = true;\n"
                                "inst.s = \"a\\\"b\\nc\\n\\\"d\\001\\\\\";\n"), std::string::npos);
  // Missing values and mappings still give whole statements.
  configure(R"({"class": "pid", "prj": "p1", "k": null, "s": null})");
  gen.set_mappings({});
  EXPECT_NE(init_text(gen).find("\n.k_ = ;\n.on = false;\n.s = \"\";\n.reset();\n"), std::string::npos);
  EXPECT_EQ(final_text(gen), ".stop(Error: mapping not found);\n");
}

TEST_F(class_fixture, form_view_and_files_of_found_class) {
  temp_dir dir;
  pid().header = (dir.path / "pid.h").string();
  configure(R"({"class": "pid", "prj": "p1", "on": true})");
  EXPECT_EQ(properties_json(gen),
            R"({"key":"k","default":"2.5","form":"text","form_opts":{"step":0.100000},"lbl":null,"min":null,"max":null}
{"key":"on","default":"","form":"checkbox","form_opts":null,"lbl":null,"min":null,"max":null}
{"key":"s","default":"","form":"text","form_opts":null,"lbl":null,"min":null,"max":null}
)");
  // Missing parameter values are appended after the present members.
  EXPECT_EQ(gen.cfg.dump(), R"({"class":"pid","prj":"p1","on":true,"k":"2.5","s":""})");
  gen.cfg["k"] = 3;
  EXPECT_EQ(view_json(gen),
            R"({"default_name":"pid","raster":"r10ms","file_name":"nodes/pid.h","search_str":"pid::step",)"
            R"("line_nr":12.000000,"inputs":{"u":{"type":"double","default_value":"0.5"},"v":{"type":"double",)"
            R"("default_value":""}},"outputs":{"y":{"type":"float","raster":"block"},"z":{"type":"float",)"
            R"("raster":"block"}}})");
  // Member pins carry their variable: tick code does not copy them.
  vesk::view_config v = gen.get_view_config();
  EXPECT_TRUE(!v.inputs[0].value.is_member && v.inputs[1].value.is_member);
  EXPECT_TRUE(!v.outputs[0].value.is_member && v.outputs[1].value.is_member);
  EXPECT_EQ(v.inputs[1].value.var_name + "," + v.outputs[1].value.var_name, "in_v,out_z");
  vesk::data_member obj = v.members["obj"];
  EXPECT_EQ(obj.type + "|" + obj.name + "|" + obj.init_value, "ctrl::pid|obj|3, 1e-3");
  EXPECT_EQ(gen.get_headers(), names{pid().header});
  EXPECT_EQ(gen.get_libs(), (names{"m", "pthread"}));
  // The source beside the header counts only while both exist.
  std::ofstream(dir.path / "pid.cpp") << "";
  EXPECT_EQ(gen.get_sources(), names{"extra.cpp"});
  std::ofstream(dir.path / "pid.h") << "";
  EXPECT_EQ(gen.get_sources(), (names{"extra.cpp", (dir.path / "pid.cpp").string()}));
}

TEST_F(class_fixture, instance_and_call_arguments_use_the_matched_items) {
  pid().name = "Controller";  // the instance type is the C++ class, not this name
  // Form name and variable differ: the value is found under the form name.
  pid().parameters[0].name = "gain";
  pid().constants[0].var_name = "kN";
  pid().tick_calls = {call(vesk::json::parse(R"({"method_name": "f", "args": [{"name": "k_"}, {"name": "gain"},
                                   {"name": "kN"}, {"name": "N"}]})"))};
  pid().construct = call(vesk::json::parse(R"({"args": [{"name": "k_"}]})"));
  configure(R"({"class": "pid", "prj": "p1", "gain": 7})");
  EXPECT_EQ(tick_text(gen), "inst.u = sig_3;\ninst.f(7, 7, 16, 16);\nout_1 = inst.y_;\n");
  vesk::data_member obj = gen.get_view_config().members["obj"];
  EXPECT_EQ(obj.type + "|" + obj.init_value, "ctrl::pid|7");
  pid().construct = call(vesk::json::parse(R"({"args": [{"name": "u"}]})"));
  EXPECT_EQ(thrown([&] { gen.get_view_config(); }), "Unable to get fetch constant: u");
}

TEST_F(class_fixture, class_not_found_or_malformed_configuration) {
  configure(R"({"class": "pid", "prj": "p2"})");
  EXPECT_EQ(view_json(gen), R"({"default_name":"pid","raster":"auto","search_str":"pid::","error":true,)"
                            R"("error_string":"Node not found. Class name: 'pid' prj: 'p2'"})");
  EXPECT_EQ(gen.get_view_config().members["obj"].type, "");
  EXPECT_TRUE(gen.get_properties().empty() && gen.get_sources().empty() && gen.get_headers().empty() &&
              gen.get_libs().empty() && !gen.has_raster_interval());
  EXPECT_EQ(init_text(gen) + tick_text(gen), "");
  EXPECT_EQ(vesk::anno_class_generator(nullptr).get_view_config().error_string,
            "Node not found. Class name: '' prj: ''");
  // The lookup reads the configuration's members, so a text is refused.
  EXPECT_THROW(gen.set_config(vesk::json("text")), vesk::util::bt_exception);
  EXPECT_THROW(gen.get_view_config(), vesk::util::bt_exception);
  EXPECT_THROW(init_text(gen), vesk::util::bt_exception);
}

