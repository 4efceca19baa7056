#include "generators/sm_generator.h"

#include <cstdlib>
#include <fstream>

#include "foundation/test_util.h"
#include "generators/generator_test_util.h"
#include "generators/src_stream.h"

using namespace gen_test;

// The two-state example machine: "init" counts ticks and moves to "on" after
// ten; "on" lights the LED and moves back after twenty.
const char* const blink_cfg = R"({"vars": "bool out_led = false;\nint count = 0;", "includes": ["vector"],
  "namespaces": ["std"], "states": [{"name": "init", "init": "out_led = false;", "tick": "count++;", "final": "",
     "transitions": [{"c": "count > 10", "t": "on"}]},
    {"name": "on", "init": "out_led = true;\ncount = 0;", "tick": "", "final": "",
     "transitions": [{"c": "count > 20", "t": "init"}, {"c": "false", "t": "nowhere"}]}]})";

const char* const blink_header = R"gold(
#ifndef SM_BLINK_H_
#define SM_BLINK_H_ SM_BLINK_H_

#include <string>
#include <functional>
#include <cstdint>
#include <cmath>
#include <vesk/time.h>

#include <vector>


class sm_blink {
public:
  struct state{
    std::string name;
    std::function<void()> init  = []{};
    std::function<void()> tick  = []{};
    std::function<void()> final = []{};
    std::function<void()> check = []{};
  };

  // state variables
  bool out_led = false;
  int count = 0;

  struct {
    state states[2];

    state* current_state;
    std::string out_state;
    vesk::time t_enter;
    vesk::time last_tick;
  } _internal_variables;

  sm_blink();
  void init();
  void tick();
  void final();

private:
  bool after(vesk::time t);
  void set_state(int num);
};

#endif // SM_BLINK_H_


)gold";

const char* const blink_source = R"gold(
#include "sm_blink.h"

using namespace std;


sm_blink::sm_blink(){

  _internal_variables.states[0].name = "init";
  _internal_variables.states[0].init = [this]{
    out_led = false;
  };
  _internal_variables.states[0].tick = [this]{
    count++;
  };
  _internal_variables.states[0].final = [this]{
    
  };
  _internal_variables.states[0].check = [this]{
    if ( count > 10 ){
      set_state(1); // to on
    }

  };
  
  _internal_variables.states[1].name = "on";
  _internal_variables.states[1].init = [this]{
    out_led = true;
    count = 0;
  };
  _internal_variables.states[1].tick = [this]{
    
  };
  _internal_variables.states[1].final = [this]{
    
  };
  _internal_variables.states[1].check = [this]{
    if ( count > 20 ){
      set_state(0); // to init
    }

  };
  

  _internal_variables.current_state = &_internal_variables.states[0];
  _internal_variables.out_state = _internal_variables.current_state->name;
}

void sm_blink::init(){
  _internal_variables.t_enter = vesk::time::now();
  _internal_variables.last_tick = vesk::time::now();
  _internal_variables.current_state->init();
}

void sm_blink::tick(){
  _internal_variables.current_state->check(); // could change current_state
  _internal_variables.last_tick = vesk::time::now();
  _internal_variables.current_state->tick();
}

void sm_blink::final(){
  _internal_variables.current_state->final();
}

bool sm_blink::after(vesk::time t){
  auto now = vesk::time::now();
  auto interval = now - _internal_variables.last_tick;
  if( (now + (interval/2) ) >= (_internal_variables.t_enter + t) ){
    return true;
  }
  return false;
}

void sm_blink::set_state(int num){
  _internal_variables.current_state->final();
  _internal_variables.current_state = &_internal_variables.states[num];
  _internal_variables.out_state = _internal_variables.current_state->name;
  _internal_variables.t_enter = vesk::time::now();
  _internal_variables.current_state->init();
}



)gold";

struct sm_fixture : ::testing::Test {
  std::map<std::string, src_stream> files;
  vesk::sm_generator gen{&files};
  std::ostringstream out;  // what write_init wrote

  // Configures the block "blink" and generates its files.
  void generate(const std::string& cfg_text) {
    files.clear();
    gen.set_name("blink");
    gen.set_config(vesk::json::parse(cfg_text));
    gen.set_mappings({{}, {{"obj", "blink__obj"}}, {}});
    gen.write_init(out);
  }
  std::string file(const std::string& name) { return files.at(name).text.str(); }
  bool source_has(const std::string& text) { return file("sm_blink.cpp").find(text) != std::string::npos; }
};

TEST_F(sm_fixture, example_machine_generates_exact_files_and_appends_on_repeat) {
  generate(blink_cfg);
  EXPECT_EQ(out.str(), "blink__obj.init();\n");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(file("sm_blink.h"), blink_header);
  EXPECT_EQ(file("sm_blink.cpp"), blink_source);
  gen.write_init(out);
  EXPECT_EQ(file("sm_blink.h"), std::string(blink_header) + blink_header);
}

TEST_F(sm_fixture, missing_init_state_or_malformed_states_throw_and_store_nothing) {
  vesk::json cfg = vesk::json::parse(blink_cfg);
  cfg["states"][vesk::json(0)]["comment_out"] = true;
  EXPECT_EQ(thrown([&] { generate(cfg.dump()); }), "Error: Statemachine 'blink' has no init state!");
  for (const char* bad : {R"({"states": []})", "{}", R"({"states": [3]})", R"({"states": [{"name": {}}]})"})
    EXPECT_THROW(generate(bad), vesk::util::bt_exception) << bad;
  EXPECT_TRUE(files.empty());
  EXPECT_EQ(out.str(), "");
}

TEST_F(sm_fixture, states_are_numbered_by_list_position_and_names_stay_literal) {
  vesk::json cfg = vesk::json::parse(blink_cfg);
  cfg["states"][vesk::json(1)]["comment_out"] = 1.0;
  generate(cfg.dump());
  // An excluded state keeps its slot but gets no block, and transitions to it go.
  EXPECT_NE(file("sm_blink.h").find("    state states[2];\n"), std::string::npos);
  EXPECT_FALSE(source_has("states[1]"));
  EXPECT_TRUE(source_has("check = [this]{\n    \n\n  };\n  \n\n  _internal_variables.current"));

  generate(R"({"states": [{"name": "a", "transitions": [{"c": "x", "t": "dup"}]},
    {"name": "init", "transitions": [{"t": "a"}, {"c": 1, "t": "a"}]}, {"name": "dup"}, {"name": "dup"}]})");
  EXPECT_TRUE(source_has("current_state = &_internal_variables.states[1];"));
  // Both "dup" blocks exist; transitions to the name go to the later one.
  EXPECT_TRUE(source_has("states[2].name = \"dup\";"));
  EXPECT_TRUE(source_has("    if ( x ){\n      set_state(3); // to dup\n    }\n"));
  // A missing condition leaves the parentheses empty; a number is written plainly.
  EXPECT_TRUE(source_has("    if (  ){\n      set_state(0); // to a\n    } else if ( 1 ){\n"
                         "      set_state(0); // to a\n    }\n\n  };"));

  generate(R"({"states": {"x": {"name": "b"}, "y": {"name": "init"}}})");
  EXPECT_TRUE(source_has("states[0].name = \"b\";") && source_has("&_internal_variables.states[1];"));

  // State names cannot break out of literals or comments.
  generate(R"({"states": [{"name": "init", "transitions": [{"c": "true", "t": "a\"b\n// c\\"}]},
    {"name": "a\"b\n// c\\"}, {"name": "say \\n \"hi\"\t"}, {"name": "a#tick#b#n_states#"}]})");
  EXPECT_TRUE(source_has("states[1].name = \"a\\\"b\\n// c\\\\\";"));
  EXPECT_TRUE(source_has("set_state(1); // to a\"b // c\n"));
  EXPECT_TRUE(source_has("states[2].name = \"say \\n \\\"hi\\\"\\t\";"));
  // Placeholders in a name must not be filled in by later template keys.
  EXPECT_TRUE(source_has("states[3].name = \"a\\043tick\\043b\\043n_states\\043\";\n"));
}

TEST(sm_generator, form_view_and_writers_without_files_or_mapping) {
  vesk::sm_generator gen(nullptr);
  gen.set_name("m1");
  EXPECT_EQ(properties_json(gen),
            R"({"key":"vars","default":"","form":"code","form_opts":null,"lbl":"State variables","min":null,"max":null}
{"key":"includes","default":[],"form":"array_text","form_opts":null,"lbl":"Includes","min":null,"max":null}
{"key":"namespaces","default":[],"form":"array_text","form_opts":null,"lbl":"Used namespaces","min":null,"max":null}
)");
  // A namespace line must not need an open bracket; "out_state" replaces the
  // built-in state pin in its place.
  gen.set_config(vesk::json::parse(R"({"vars": "namespace x\ndouble in_speed = 2.5;\nint out_count;\n)"
                                   R"(  bool helper;\nstd::string out_state;\nint in_limit;"})"));
  EXPECT_EQ(view_json(gen),
            R"({"default_name":"state_machine","raster":"auto","inputs":{"speed":{"type":"double",)"
            R"("default_value":"2.5"},"limit":{"type":"int","default_value":""}},"outputs":{"state":)"
            R"({"type":"std::string","raster":"block"},"count":{"type":"int","raster":"block"}}})");
  vesk::view_config v = gen.get_view_config();
  EXPECT_EQ(v.inputs[0].value.var_name + "," + v.outputs[0].value.var_name, "in_speed,out_state");
  EXPECT_TRUE(v.inputs[0].value.is_member && v.outputs[0].value.is_member);
  EXPECT_EQ(v.members["obj"].type, "sm_m1");
  gen.set_config(vesk::json());  // no states: harmless without files
  EXPECT_EQ(gen.get_view_config().outputs["state"].var_name, "_internal_variables.out_state");
  EXPECT_EQ(init_text(gen) + tick_text(gen) + final_text(gen), ".init();\n.tick();\n.final();\n");
  EXPECT_EQ(gen.get_headers(), names{"model/sm_m1.h"});
  EXPECT_TRUE(gen.get_sources().empty());
}

// Compiles the example's files, with a state whose name would break the literal
// if it were not escaped, against the runtime library stand-in and runs the
// machine through its transition.
TEST_F(sm_fixture, generated_files_compile_and_run) {
  vesk::json cfg = vesk::json::parse(blink_cfg);
  const std::string odd = R"("odd \"name\"\n#tick#\\")";
  cfg["states"].push_back(vesk::json::parse(R"({"tick": "count--; (void)\"t\";", "name": )" + odd + "}"));
  cfg["states"][vesk::json(0)]["transitions"].push_back(vesk::json::parse(R"({"c": "count < 0", "t": )" + odd + "}"));
  generate(cfg.dump());
  temp_dir dir;
  for (const auto& f : files) std::ofstream(dir.path / f.first) << f.second.text.str();
  std::ofstream(dir.path / "main.cpp") << R"(#include "sm_blink.h"
int main() {
  sm_blink m;
  m.init();
  if (m._internal_variables.out_state != "init" || m.out_led) return 1;
  for (int i = 0; i < 12; ++i) m.tick();
  return m._internal_variables.out_state == "on" && m.out_led && m.count == 0 ? 0 : 2;
}
)";
  std::string cmd = "cd '" + dir.path.string() + "' && g++ -std=c++17 -Wall -Werror -I '" + VESK_SOURCE_DIR +
                    "/shared' sm_blink.cpp main.cpp -o blink > build.log 2>&1";
  int rc = std::system(cmd.c_str());
  std::ifstream log(dir.path / "build.log");
  ASSERT_EQ(rc, 0) << std::string(std::istreambuf_iterator<char>(log), {});
  EXPECT_EQ(std::system(("'" + (dir.path / "blink").string() + "'").c_str()), 0);
}

