#include "generators/sm_generator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/bt_exception.h"
#include "foundation/json.h"
#include "generators/generator_test_util.h"
#include "generators/sm_templates.h"
#include "generators/src_stream.h"

namespace {

// The two-state example machine: "init" counts ticks and moves to "on" after
// ten; "on" lights the LED and moves back after twenty.
const char* const blink_cfg = R"({
  "vars": "bool out_led = false;\nint count = 0;",
  "includes": ["vector"],
  "namespaces": ["std"],
  "states": [
    {"name": "init", "init": "out_led = false;", "tick": "count++;", "final": "",
     "transitions": [{"c": "count > 10", "t": "on"}]},
    {"name": "on", "init": "out_led = true;\ncount = 0;", "tick": "", "final": "",
     "transitions": [{"c": "count > 20", "t": "init"}, {"c": "false", "t": "nowhere"}]}
  ]
})";

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

  void configure(const std::string& cfg_text, const std::string& node = "blink") {
    gen.set_name(node);
    gen.set_config(vesk::json::parse(cfg_text));
    gen.set_mappings({{}, {{"obj", "blink__obj"}}, {}});
  }
  std::string init_line() { return gen_test::init_text(gen); }
  std::string file(const std::string& file_name) { return files.at(file_name).text.str(); }
  // The constructor body between the class line and the current-state line.
  std::string construct_of(const std::string& node = "blink") {
    std::string src = file("sm_" + node + ".cpp");
    std::string open = "sm_" + node + "::sm_" + node + "(){\n";
    size_t b = src.find(open) + open.size();
    return src.substr(b, src.find("  _internal_variables.current_state =") - b);
  }
};

TEST_F(sm_fixture, example_machine_generates_exact_files) {
  configure(blink_cfg);
  EXPECT_EQ(init_line(), "blink__obj.init();\n");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(file("sm_blink.h"), blink_header);
  EXPECT_EQ(file("sm_blink.cpp"), blink_source);
}

TEST(sm_templates, sizes) {
  EXPECT_EQ(vesk::sm_header_template.size(), 782u);
  EXPECT_EQ(vesk::sm_source_template.size(), 1267u);
  EXPECT_EQ(vesk::sm_state_template.size(), 328u);
}

TEST_F(sm_fixture, second_generation_appends_to_existing_streams) {
  configure(blink_cfg);
  init_line();
  init_line();
  EXPECT_EQ(file("sm_blink.h"), std::string(blink_header) + blink_header);
}

TEST_F(sm_fixture, no_init_state_throws_and_stores_nothing) {
  vesk::json cfg = vesk::json::parse(blink_cfg);
  cfg["states"][vesk::json(0)]["comment_out"] = true;
  gen.set_name("blink");
  gen.set_config(cfg);
  std::ostringstream os;
  try {
    gen.write_init(os);
    FAIL() << "no exception";
  } catch (const vesk::util::bt_exception& e) {
    EXPECT_STREQ(e.what(), "Error: Statemachine 'blink' has no init state!");
  }
  EXPECT_TRUE(files.empty());
  EXPECT_EQ(os.str(), "");

  gen.set_config(vesk::json::parse(R"({"states": []})"));
  EXPECT_THROW(gen.write_init(os), vesk::util::bt_exception);
  gen.set_config(vesk::json::parse("{}"));
  EXPECT_THROW(gen.write_init(os), vesk::util::bt_exception);
  EXPECT_TRUE(files.empty());
}

TEST_F(sm_fixture, excluded_state_keeps_its_slot_but_gets_no_block) {
  vesk::json cfg = vesk::json::parse(blink_cfg);
  cfg["states"][vesk::json(1)]["comment_out"] = 1.0;
  gen.set_name("blink");
  gen.set_config(cfg);
  init_line();
  EXPECT_NE(file("sm_blink.h").find("    state states[2];\n"), std::string::npos);
  std::string construct = construct_of();
  EXPECT_EQ(construct.find("states[1]"), std::string::npos);
  // The transition to the excluded state is dropped: empty check body.
  EXPECT_NE(construct.find("check = [this]{\n    \n\n  };\n  \n"), std::string::npos);
}

TEST_F(sm_fixture, state_numbers_follow_list_positions) {
  configure(R"({"states": [
    {"name": "a", "transitions": [{"c": "x", "t": "dup"}]},
    {"name": "init", "transitions": [{"t": "a"}, {"c": 1, "t": "a"}]},
    {"name": "dup"}, {"name": "dup"}]})");
  init_line();
  std::string src = file("sm_blink.cpp");
  EXPECT_NE(src.find("current_state = &_internal_variables.states[1];"), std::string::npos);
  EXPECT_NE(file("sm_blink.h").find("state states[4];"), std::string::npos);
  // Both "dup" blocks exist; transitions to the name go to the later one.
  EXPECT_NE(src.find("states[2].name = \"dup\";"), std::string::npos);
  EXPECT_NE(src.find("states[3].name = \"dup\";"), std::string::npos);
  EXPECT_NE(src.find("    if ( x ){\n      set_state(3); // to dup\n    }\n"), std::string::npos);
  // A missing condition leaves the parentheses empty; a number is written plainly.
  EXPECT_NE(src.find("    if (  ){\n      set_state(0); // to a\n    } else if ( 1 ){\n"
                     "      set_state(0); // to a\n    }\n\n  };"),
            std::string::npos);
}

TEST_F(sm_fixture, states_given_as_object_are_taken_in_member_order) {
  configure(R"({"states": {"x": {"name": "init"}, "y": {"name": "b"}}})");
  init_line();
  std::string src = file("sm_blink.cpp");
  EXPECT_LT(src.find("states[0].name = \"init\";"), src.find("states[1].name = \"b\";"));
}

TEST_F(sm_fixture, empty_lists_leave_empty_lines_and_trailing_newline_in_vars_indents) {
  configure(R"({"vars": "int a;\n", "states": [{"name": "init"}]})");
  init_line();
  std::string h = file("sm_blink.h");
  EXPECT_NE(h.find("#include <vesk/time.h>\n\n\n\nclass sm_blink {"), std::string::npos);
  EXPECT_NE(h.find("  // state variables\n  int a;\n  \n\n"), std::string::npos);
  EXPECT_EQ(file("sm_blink.cpp").rfind("\n#include \"sm_blink.h\"\n\n\n\nsm_blink::sm_blink(){", 0), 0u);
}

TEST_F(sm_fixture, user_text_cannot_break_out_of_literals_or_comments) {
  configure(R"({"states": [{"name": "init", "transitions": [{"c": "true", "t": "a\"b\n// c\\"}]},
                           {"name": "a\"b\n// c\\"},
                           {"name": "say \\n \"hi\"\t"}]})");
  init_line();
  std::string src = file("sm_blink.cpp");
  EXPECT_NE(src.find("states[1].name = \"a\\\"b\\n// c\\\\\";"), std::string::npos);
  EXPECT_NE(src.find("set_state(1); // to a\"b // c\n"), std::string::npos);
  EXPECT_NE(src.find("states[2].name = \"say \\n \\\"hi\\\"\\t\";"), std::string::npos);
}

TEST_F(sm_fixture, placeholder_in_a_state_name_stays_inside_the_literal) {
  configure(R"({"states": [{"name": "init", "tick": "x = \"q\";\ny++;"},
                           {"name": "a#tick#b#n_states#"}]})");
  init_line();
  std::string src = file("sm_blink.cpp");
  EXPECT_NE(src.find("states[1].name = \"a\\043tick\\043b\\043n_states\\043\";\n"),
            std::string::npos)
      << src;
}

TEST_F(sm_fixture, malformed_states_throw_instead_of_misbehaving) {
  configure(R"({"states": [3]})");
  EXPECT_THROW(init_line(), vesk::util::bt_exception);
  configure(R"({"states": [{"name": {"x": 1}}]})");
  EXPECT_THROW(init_line(), vesk::util::bt_exception);
  configure(R"({"states": [{"name": "init", "comment_out": "x"}]})");
  EXPECT_THROW(init_line(), std::invalid_argument);
  EXPECT_TRUE(files.empty());
}

TEST(sm_generator, writers_without_files_or_mapping) {
  vesk::sm_generator gen(nullptr);
  gen.set_name("m1");
  gen.set_config(vesk::json());  // no states: harmless without files
  std::ostringstream os;
  gen.write_init(os);
  gen.write_tick(os);
  gen.write_final(os);
  EXPECT_EQ(os.str(), ".init();\n.tick();\n.final();\n");
  EXPECT_EQ(gen.get_headers(), std::vector<std::string>{"model/sm_m1.h"});
  EXPECT_TRUE(gen.get_sources().empty());
}

TEST(sm_generator, properties_and_defaults) {
  vesk::sm_generator gen(nullptr);
  gen.set_config(vesk::json::parse(R"({"vars": "int x;", "states": []})"));
  std::vector<vesk::property> props = gen.get_properties();
  ASSERT_EQ(props.size(), 3u);
  EXPECT_EQ(props[0].to_json().dump(),
            R"({"key":"vars","default":"","form":"code","form_opts":null,"lbl":"State variables","min":null,"max":null})");
  EXPECT_EQ(props[1].key, "includes");
  EXPECT_EQ(props[1].form, "array_text");
  EXPECT_EQ(props[2].key, "namespaces");
  EXPECT_EQ(props[2].to_json()["lbl"].get_string(), "Used namespaces");
  EXPECT_EQ(gen.cfg.dump(), R"({"vars":"int x;","states":[],"includes":[],"namespaces":[]})");
}

TEST(sm_generator, view_of_empty_vars) {
  vesk::sm_generator gen(nullptr);
  gen.set_name("m1");
  gen.set_config(vesk::json());
  vesk::view_config v = gen.get_view_config();
  EXPECT_EQ(v.default_name, "state_machine");
  EXPECT_EQ(v.raster, "auto");
  EXPECT_EQ(v.line_nr, 0);
  EXPECT_FALSE(v.error);
  EXPECT_TRUE(v.inputs.empty());
  ASSERT_EQ(v.outputs.size(), 1u);
  EXPECT_EQ(v.outputs[0].key, "state");
  EXPECT_EQ(v.outputs[0].value.type, "std::string");
  EXPECT_EQ(v.outputs[0].value.raster, "block");
  EXPECT_TRUE(v.outputs[0].value.is_member);
  EXPECT_EQ(v.outputs[0].value.var_name, "_internal_variables.out_state");
  ASSERT_EQ(v.members.size(), 1u);
  EXPECT_EQ(v.members[0].key, "obj");
  EXPECT_EQ(v.members[0].value.type, "sm_m1");
}

TEST(sm_generator, view_pins_from_state_variables) {
  vesk::sm_generator gen(nullptr);
  gen.set_name("m1");
  gen.set_config(vesk::json::parse(
      R"({"vars": "namespace x\ndouble in_speed = 2.5;\nint out_count;\n  bool helper;\nstd::string out_state;\nint in_limit;"})"));
  vesk::view_config v = gen.get_view_config();
  ASSERT_EQ(v.inputs.size(), 2u);
  EXPECT_EQ(v.inputs[0].key, "speed");
  EXPECT_EQ(v.inputs[0].value.type, "double");
  EXPECT_EQ(v.inputs[0].value.default_value, "2.5");
  EXPECT_EQ(v.inputs[0].value.var_name, "in_speed");
  EXPECT_EQ(v.inputs[0].value.is_member, 1u);
  EXPECT_EQ(v.inputs[1].key, "limit");
  // "out_state" replaces the built-in state pin in its place.
  ASSERT_EQ(v.outputs.size(), 2u);
  EXPECT_EQ(v.outputs[0].key, "state");
  EXPECT_EQ(v.outputs[0].value.var_name, "out_state");
  EXPECT_EQ(v.outputs[1].key, "count");
  EXPECT_EQ(v.outputs[1].value.type, "int");
}

// Compiles the example's files with the real compiler against the runtime
// library stand-in and runs the machine through its transition.
TEST(sm_generator, generated_files_compile_and_run) {
  std::map<std::string, src_stream> files;
  vesk::sm_generator gen(&files);
  vesk::json cfg = vesk::json::parse(blink_cfg);
  // A state whose name would break the literal if it were not escaped.
  cfg["states"].push_back(vesk::json::parse(R"({"name": "odd \"name\"\n#tick#\\", "tick": "count--; (void)\"t\";"})"));
  cfg["states"][vesk::json(0)]["transitions"].push_back(
      vesk::json::parse(R"({"c": "count < 0", "t": "odd \"name\"\n#tick#\\"})"));
  gen.set_name("blink");
  gen.set_config(cfg);
  std::ostringstream os;
  gen.write_init(os);

  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("vesk_sm_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  for (const auto& f : files) std::ofstream(dir / f.first) << f.second.text.str();
  std::ofstream(dir / "main.cpp") << R"(#include "sm_blink.h"
int main() {
  sm_blink m;
  m.init();
  if (m._internal_variables.out_state != "init" || m.out_led) return 1;
  for (int i = 0; i < 12; ++i) m.tick();
  if (m._internal_variables.out_state != "on" || !m.out_led || m.count != 0) return 2;
  return 0;
}
)";
  std::string cmd = "cd '" + dir.string() + "' && g++ -std=c++17 -Wall -Werror -I '" +
                    std::string(VESK_SOURCE_DIR) + "/shared' sm_blink.cpp main.cpp -o blink" +
                    " > build.log 2>&1";
  int rc = std::system(cmd.c_str());
  std::ifstream log(dir / "build.log");
  std::string log_text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  ASSERT_EQ(rc, 0) << log_text;
  EXPECT_EQ(std::system(("'" + (dir / "blink").string() + "'").c_str()), 0);
  fs::remove_all(dir);
}

}  // namespace
