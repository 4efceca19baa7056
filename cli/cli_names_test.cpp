// Names typed by hand into a model file or a runtime setting that vesk-cli does not know:
// each is told where it is read, as a warning when the build goes on with the lenient
// reading, as an error when it could only end in the C++ compiler. The real program in
// throw-away workspaces.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "cli/cli_test_util.h"
#include "foundation/helpers.h"

namespace {

using cli_test::workspace;
namespace fs = std::filesystem;

std::string model_of(const std::string& blocks) { return "{\"nodes\":[" + blocks + "]}"; }

const char* const gain_header =
    "#pragma once\n/* @node: auto */\nclass gain {\n public:\n  double in_u = 0;\n  double param_gain = 2;\n"
    "  double out_y = 0;\n  void tick() { out_y = param_gain * in_u; }\n};\n";
const char* const scale_header = "#pragma once\n/* @node: auto */\ndouble scale(double in_u, double param_k = 3);\n";

std::string state_machine(const std::string& target) {
  return R"({"name":"sm","type":"state_machine","raster":"r10ms","cfg":{"states":[{"name":"init","transitions":[)" +
         (target.empty() ? "" : R"({"c":"true","t":")" + target + "\"}") + R"(]},{"name":"high"}]}})";
}

/// A class node "low_pass" whose line 5 is `line`.
std::string low_pass(const std::string& line) {
  return "#pragma once\n//@node: class\nclass low_pass {\n public:\n" + line +
         "\n  double y = 0;\n  //@tick: step()\n  void step() {}\n};\n";
}

/// A block of class "counter" named by the JSON text `name`.
std::string named(const std::string& name, const std::string& more = "") {
  return R"({"name":)" + name + R"(,"type":"class","cfg":{"class":"counter","prj":"demo"})" + more + "}";
}

/// a (r10ms) -> rate transition q of `cfg` -> b (r1s).
std::string via_rt(const std::string& cfg) {
  return model_of(cli_test::counter_block("a", "r10ms") + R"(,{"name":"q","type":"base","cfg":{"node":"rt")" + cfg +
                  R"(},"inputs":{"in":{"node":"a","pin":"value"}}},)" +
                  named("\"b\"", R"(,"raster":"r1s","inputs":{"step":{"node":"q","pin":"out"}})"));
}

/// A block of class "gain" whose "gain" is the JSON text `value`.
std::string gained(const std::string& value) {
  return R"({"name":"g","type":"class","raster":"r10ms","cfg":{"class":"gain","prj":"demo","gain":)" + value + "}}";
}

/// A state machine "sm" of the JSON states `states`.
std::string machine(const std::string& states) {
  return R"({"name":"sm","type":"state_machine","raster":"r10ms","cfg":{"states":[)" + states + "]}}";
}

/// The "w: " and "e: " lines of a run, sorted.
std::vector<std::string> reports(const std::string& out) {
  std::vector<std::string> lines = cli_test::lines_with(out, "w: "), errors = cli_test::lines_with(out, "e: ");
  lines.insert(lines.end(), errors.begin(), errors.end());
  std::sort(lines.begin(), lines.end());
  return lines;
}

/// The generated sources of the last build, by file name.
std::map<std::string, std::string> generated(const workspace& w) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& f : fs::directory_iterator(w.build_dir / "model", ec))
    files[f.path().filename().string()] = read_file(f.path().string());
  return files;
}

TEST(CliNames, NamesTypedByHandAreCheckedWhereTheyAreRead) {
  const std::string counter = cli_test::counter_block("a", "r10ms");
  const std::string m = "demo/models/m.vmdl", of_m = " of model file {ws}/" + m, e = "e: An exception occured: ";
  const auto at = [&of_m](const std::string& block) { return " in block '" + block + "'" + of_m; };
  const auto in = [&at](const std::string& block) { return at(block) + " "; };
  const std::string no_id = e + "The block name is no C++ identifier (letters, digits and '_', not beginning with a "
                                "digit) (key \"name\") in block ";
  const std::string vcfg = "demo/demo.vcfg", plain = R"({"model":"m","runtime":"sim"})";
  const std::string project_keys =
      "a project configuration file reads model, runtime, runtime_configs, runtime_config, model_hosts";
  const std::string no_form = "Error parsing {ws}/rt_sim/config_def.json. It must be an array.";
  const std::string no_model = e + "The model is no JSON object (a model file holds {\"nodes\": [...]}) in model file "
                                   "{ws}/" + m;
  struct row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // below "ws/", as in CliProgram.BadInputFailsTheRun
    std::string line;      // the expected new "w: " and "e: " lines, one per "\n"-separated part (none when
                           // empty); "{ws}" stands for the workspace folder
    int status;            // vesk-cli's exit status
    std::string same_as;   // for a "w: " row: the last file's text with the lenient reading written out, which
                           // builds the same sources; empty for an "e: " row: nothing is generated
    std::vector<std::string> args = {};  // before the configuration file
    std::string config = "demo/demo.vcfg";  // the configuration file, below "ws/"
    std::string same_path = "";  // for a row about a file's name: where the lenient text goes instead of the last file
  } rows[] = {
      {"transition to no state", {{m, model_of(state_machine("hihg"))}},
       "w: Transition of state \"init\" to \"hihg\"" + in("sm") +
           "is dropped: no state that is not commented out has that name",
       0, model_of(state_machine(""))},
      {"class key that is no parameter",
       {{"demo/nodes/gain.h", gain_header},
        {m, model_of(R"({"name":"g","type":"class","raster":"r10ms","cfg":{"class":"gain","prj":"demo","gian":5}})")}},
       "w: Key \"gian\"" + in("g") + "is ignored: the parameters of class \"gain\" are gain", 0,
       model_of(R"({"name":"g","type":"class","raster":"r10ms","cfg":{"class":"gain","prj":"demo"}})")},
      {"function key that is no parameter",
       {{"demo/nodes/scale.h", scale_header},
        {m, model_of(R"({"name":"f","type":"func","raster":"r10ms","cfg":{"func":"scale","prj":"demo","kk":1}})")}},
       "w: Key \"kk\"" + in("f") + "is ignored: the parameters of function \"scale\" are k", 0,
       model_of(R"({"name":"f","type":"func","raster":"r10ms","cfg":{"func":"scale","prj":"demo"}})")},
      {"unknown base kind", {{m, model_of(counter + R"(,{"name":"d","type":"base","cfg":{"node":"dealy"}})")}},
       "w: Kind \"dealy\"" + in("d") +
           "is unknown, so the block has no pins and computes nothing: the kinds are delay, rt, parameter, "
           "input, output, subsystem, reference",
       0, model_of(counter)},
      {"delay key that its kind does not read",
       {{m, model_of(counter + R"(,{"name":"d","type":"base","cfg":{"node":"delay","start_vlaue":"1"}})")}},
       "w: Key \"start_vlaue\"" + in("d") +
           "is ignored: a \"delay\" block reads node, type_header, container_header, data_type, start_value",
       0, model_of(counter + R"(,{"name":"d","type":"base","cfg":{"node":"delay"}})")},
      {"checkbox text",
       {{m, model_of(R"({"name":"e","type":"expression","cfg":{"function":"1","disable_output":"ture"}})")}},
       "w: Value \"ture\" of key \"disable_output\"" + in("e") + "is read as false: a checkbox is true, false or a number",
       0, model_of(R"({"name":"e","type":"expression","cfg":{"function":"1","disable_output":false}})")},
      {"rt behavior", {{m, via_rt(R"(,"behavior":"lats")")}},
       "w: Behavior \"lats\" (key \"behavior\") in block 'q'" + of_m +
           " is read as \"last\": the behaviors are \"last\", \"fifo\" and \"add\"",
       0, via_rt(R"(,"behavior":"last")")},
      {"fifo of a number type", {{m, via_rt(R"(,"behavior":"fifo")")}},
       e + "Behavior \"fifo\" needs a container data type such as std::vector<double>, not 'double' (key "
           "\"data_type\") in block 'q'" + of_m,
       1, ""},
      {"block key", {{m, model_of(named("\"a\"", R"(,"rastr":"r1s")"))}},
       "w: Key \"rastr\" in block 'a'" + of_m +
           " is ignored: a block has the keys name, type, cfg, pos, raster, rotate, comment_out, inputs, default_values",
       0, model_of(named("\"a\""))},
      {"runtime setting",
       {{"rt_sim/config_def.json", R"([{"key":"print_interval_ms","default":1000}])"},
        {"demo/demo.vcfg", R"({"model":"m","runtime":"sim","runtime_configs":{"sim":{"print_intervall_ms":5}}})"}},
       "w: Runtime setting \"print_intervall_ms\" in {ws}/demo/demo.vcfg is unknown to runtime 'sim', which does not "
       "read it (it is written to config.json all the same): "
       "its settings are print_interval_ms",
       0, R"({"model":"m","runtime":"sim","runtime_configs":{"sim":{}}})"},
      {"model array", {{m, "[]"}}, no_model, 1, ""},
      {"model number", {{m, "42"}}, no_model, 1, ""},
      {"model text", {{m, "\"text\""}}, no_model, 1, ""},
      {"model without blocks", {{m, R"({"node":[]})"}},
       "w: The model has no \"nodes\" and so no blocks in model file {ws}/" + m, 0, R"({"nodes":[]})"},
      {"model blocks", {{m, R"({"nodes": 5})"}},
       e + "The blocks of the model are no JSON array (key \"nodes\") in model file {ws}/" + m, 1, ""},
      {"name with a dash", {{m, model_of(named("\"meter-1\""))}}, no_id + "'meter-1'" + of_m, 1, ""},
      {"name with a digit first", {{m, model_of(named("\"2nd\""))}}, no_id + "'2nd'" + of_m, 1, ""},
      {"name with a blank", {{m, model_of(named("\"a b\""))}}, no_id + "'a b'" + of_m, 1, ""},
      {"name as a number", {{m, model_of(named("5"))}},
       e + "Value 5 of key \"name\" in block 1" + of_m + " is a number, expected a text", 1, ""},
      {"name that is a keyword", {{m, model_of(named("\"int\""))}},
       e + "The block name is a C++ keyword (key \"name\") in block 'int'" + of_m, 1, ""},
      {"inner name",
       {{m, model_of(R"({"name":"s","type":"base","cfg":{"node":"subsystem","nodes":[)" + named("\"x-y\"") + "]}}")}},
       no_id + "'x-y' of subsystem 's'" + of_m, 1, ""},
      // What a block holds is read as written or named with its block and file.
      {"inputs as a text", {{m, model_of(counter + R"(,{"name":"b","type":"class","cfg":{"class":"counter","prj":"demo"},"inputs":"a.value"})")}},
       e + "Value \"a.value\" of key \"inputs\"" + in("b") + "is a text, expected an object or null", 1, ""},
      {"inputs as a list",
       {{m, model_of(counter + R"(,{"name":"b","type":"class","cfg":{"class":"counter","prj":"demo"},"inputs":[{"node":"a","pin":"value"}]})")}},
       e + "Value [{\"node\":\"a\",\"pin\":\"value\"}] of key \"inputs\"" + in("b") + "is an array, expected an object or null", 1, ""},
      {"numbers as written",
       {{"demo/nodes/gain.h", gain_header},
        {m, model_of(gained("0.123456789") + R"(,{"name":"p","type":"base","cfg":{"node":"parameter","default":0.123456789}},)"
                     R"({"name":"d","type":"base","cfg":{"node":"delay","start_value":123456789.5}})")}},
       "", 0,
       model_of(gained("\"0.123456789\"") + R"(,{"name":"p","type":"base","cfg":{"node":"parameter","default":"0.123456789"}},)"
                R"({"name":"d","type":"base","cfg":{"node":"delay","start_value":"123456789.5"}})")},
      {"default of no pin", {{m, model_of(R"({"name":"e","type":"expression","cfg":{"function":"x + 1.0"},"default_values":{"xx":"5"}})")}},
       "w: Default value \"5\" of input \"xx\"" + in("e") + "is ignored: the block has no such input; its inputs are x", 0,
       model_of(R"({"name":"e","type":"expression","cfg":{"function":"x + 1.0"}})")},
      {"key twice", {{"demo/nodes/gain.h", gain_header}, {m, model_of(gained(R"("0.2","gain":"0.7")"))}},
       "w: Key \"gain\"" + in("g") + "is given more than once: the first value \"0.2\" counts, \"0.7\" is ignored", 0,
       model_of(gained("\"0.2\""))},
      {"true for a text", {{"demo/nodes/gain.h", gain_header}, {m, model_of(gained("true"))}},
       e + "Value true of key \"gain\"" + in("g") + "is a bool, expected a text, a number or null", 1, ""},
      {"object for a text", {{"demo/nodes/gain.h", gain_header}, {m, model_of(gained(R"({"v":1})"))}},
       e + "Value {\"v\":1} of key \"gain\"" + in("g") + "is an object, expected a text, a number or null", 1, ""},
      {"raster as a number", {{m, model_of(named("\"a\"", R"(,"raster":100)"))}},
       e + "Value 100 of key \"raster\"" + in("a") + "is a number, expected a text", 1, ""},
      {"bool as a text", {{m, model_of(named("\"a\"", R"(,"comment_out":"yes")"))}},
       e + "Value \"yes\" of key \"comment_out\"" + in("a") + "is a text, expected a bool or a number", 1, ""},
      {"no such block", {{m, model_of(counter + "," + named("\"b\"", R"(,"inputs":{"step":{"node":"ax","pin":"value"}})"))}},
       "w: Couldn't find Node with id 'ax'. Node 'b' wants to connect a pin. Connection is ignored..." + at("b"), 0,
       model_of(counter + "," + named("\"b\""))},
      {"no such pin", {{m, model_of(counter + "," + named("\"b\"", R"(,"inputs":{"step":{"node":"a","pin":"output"}})"))}},
       "w: Output or inputpin not found: a.output -> b.step; Connection ignored..." + at("b"), 0,
       model_of(counter + "," + named("\"b\""))},
      {"unknown raster", {{m, model_of(named("\"a\"", R"(,"raster":"fast")"))}},
       "e: Unknown raster 'fast' for block a" + at("a"), 255, ""},
      {"unknown raster of a node source",
       {{"demo/nodes/fast.h", "#pragma once\n/* @node: auto\n   @raster: fast */\nclass fast {\n public:\n  void tick() {}\n};\n"},
        {m, model_of(R"({"name":"f","type":"class","cfg":{"class":"fast","prj":"demo"}})")}},
       "e: Unknown raster 'fast' for block f (the raster of its node source {ws}/demo/nodes/fast.h:3)" + at("f"), 255, ""},
      {"node not found", {{m, model_of(R"({"name":"f","type":"class","cfg":{"class":"lowpass","prj":"nf"}})")}},
       "e: Node f has an error: Node not found. Class name: 'lowpass' prj: 'nf'" + at("f"), 255, ""},
      {"no such port",
       {{m, model_of(counter + R"(,{"name":"s","type":"base","cfg":{"node":"subsystem","nodes":[]},"inputs":{"xx":{"node":"a","pin":"value"}}})")}},
       e + "Subsystem s has no input with name xx" + at("s"), 1, ""},
      {"rasters apart", {{m, model_of(counter + "," + named("\"b\"", R"(,"raster":"r1s","inputs":{"step":{"node":"a","pin":"value"}})"))}},
       "e: found node with error" + at("b") + "\ne: The nodes with the name a and b are connected, but they run in different "
       "rasters. Use a rt-node (rate_transition) to solve this problem." + at("b"), 255, ""},
      {"source raster of no object", {{m, model_of(R"({"name":"e","type":"expression","raster":"source","cfg":{"function":"1"}})")}},
       "e: Raster 'source' for block e needs a block object with a poll(), which a \"expression\" block has not" + at("e"),
       255, ""},
      {"empty expression", {{m, model_of(R"({"name":"e","type":"expression","cfg":{"function":""}})")}},
       e + "Value \"\" of key \"function\"" + in("e") + "is empty: the generated code would call or compute nothing", 1, ""},
      {"pins that are no number", {{m, model_of(R"({"name":"t","type":"test","cfg":{"num_pins":"abc"}})")}},
       "w: Value \"abc\" of key \"num_pins\"" + in("t") + "is no number: the block has 0 pins", 0,
       model_of(R"({"name":"t","type":"test","cfg":{"num_pins":0}})")},
      {"fifo kind", {{m, model_of(counter + R"(,{"name":"q","type":"base","cfg":{"node":"fifo"}})")}},
       "w: Kind \"fifo\"" + in("q") + "is unknown, so the block has no pins and computes nothing: the kinds are delay, rt, "
       "parameter, input, output, subsystem, reference", 0, model_of(counter)},
      {"state named twice", {{m, model_of(machine(R"({"name":"init","transitions":[{"c":"true","t":"run"}]},{"name":"run"},{"name":"run"})"))}},
       e + "State name \"run\"" + in("sm") + "is given to more than one state: a transition could reach only the last of them",
       1, ""},
      {"state left out by a text", {{m, model_of(machine(R"({"name":"init"},{"name":"high","comment_out":"ture"})"))}},
       "w: Value \"ture\" of key \"comment_out\" of state \"high\"" + in("sm") +
           "is read as false: a checkbox is true, false or a number",
       0, model_of(machine(R"({"name":"init"},{"name":"high","comment_out":false})"))},
      {"transitions as an object", {{m, model_of(machine(R"({"name":"init","transitions":{"c":"true","t":"init"}})"))}},
       e + "Value {\"c\":\"true\",\"t\":\"init\"} of key \"transitions\" of state \"init\"" + in("sm") +
           "is an object, expected an array or null",
       1, ""},
      {"blocks twice", {{m, R"({"nodes":null,"nodes":[]})"}},
       "w: Key \"nodes\" in model file {ws}/" + m + " is given more than once: the first value null counts, [] is ignored",
       0, R"({"nodes":null})"},
      {"no init state", {{m, model_of(machine(R"({"name":"run"})"))}},
       e + "Error: Statemachine 'sm' has no init state!" + at("sm"), 1, ""},
      // Node sources: each line begins with the file and line it is about.
      {"annotation key that no field has", {{"demo/nodes/lp.h", low_pass("  //@output: y; tpye: double")}},
       "e: {ws}/demo/nodes/lp.h:5 Internal Error: Parameter 'tpye' not found!!!! This annotation takes name, "
       "var_name, type, is_member",
       0, low_pass("  //@output: y")},
      {"late @link", {{"demo/nodes/lp.h", low_pass("  //@link: m")}},
       "w: {ws}/demo/nodes/lp.h:5 For readability global annotations like @link should be declared at the "
       "beginning of a file.",
       0, "//@link: m\n" + low_pass("")},
      {"block left open", {{"demo/nodes/lp.h", low_pass("  void f() {")}},
       "w: {ws}/demo/nodes/lp.h:3 Not all {}-blocks are closed or to many closed blocks. Bracketcounter: 1 (the "
       "first block still open begins here)",
       0, low_pass("  void f() {}")},
      {"unknown node kind", {{"demo/nodes/k.h", "//@node: klass\nclass k {};\n"}},
       "e: {ws}/demo/nodes/k.h:1 Unknown blocktype: Expect class or function. Example @node: auto; found \"klass\"",
       0, "class k {};\n"},
      {"class declared by two sources",
       {{"demo/nodes/a.h", low_pass("")},
        {m, model_of(cli_test::counter_block("f", "r10ms", "low_pass"))},
        {"demo/nodes/b.h", low_pass("")}},
       "w: {ws}/demo/nodes/b.h:2 Node class 'low_pass' of project 'demo' is declared twice: the one of "
       "{ws}/demo/nodes/a.h:2 is taken, this one is not used",
       0, "#pragma once\n"},
      // The project's settings and the runtimes' forms, named with their file.
      {"misspelt project key", {{vcfg, R"({"model":"m","runtime":"sim","runtime_cfgs":{"sim":{}}})"}},
       "w: Key \"runtime_cfgs\" in {ws}/" + vcfg + " is ignored: " + project_keys, 0, plain},
      {"project key given twice", {{vcfg, R"({"model":"m","runtime":"sim","model":"n"})"}},
       "w: Key \"model\" in {ws}/" + vcfg + " is given more than once: the first value \"m\" counts, \"n\" is ignored",
       0, plain},
      {"runtime settings as a list", {{vcfg, R"({"model":"m","runtime":"sim","runtime_configs":[{"sim":{}}]})"}},
       e + "Error reading {ws}/" + vcfg +
           ": Value [{\"sim\":{}}] of key \"runtime_configs\" is an array, expected an object or null",
       1, ""},
      {"runtime settings as a list, then twice",
       {{vcfg, R"({"model":"m","runtime":"sim","runtime_configs":{"sim":[1],"sim":{}}})"}},
       "w: Value [1] of key \"sim\" of \"runtime_configs\" in {ws}/" + vcfg +
           " is an array, expected an object or null: the runtime gets its defaults alone\nw: Key \"sim\" of "
           "\"runtime_configs\" in {ws}/" + vcfg + " is given more than once: the first value [1] counts, {} is ignored",
       0, plain},
      {"misspelt model key", {{vcfg, R"({"modle":"m","runtime":"sim"})"}},
       "w: Key \"modle\" in {ws}/" + vcfg + " is ignored: " + project_keys +
           "\ne: No model to execute selected in your project configuration. in {ws}/" + vcfg,
       1, ""},
      {"unknown runtime", {{vcfg, R"({"model":"m","runtime":"Dry"})"}},
       "e: Selected runtime 'Dry' does not exists. in {ws}/" + vcfg, 255, ""},
      {"broken form of another runtime", {{"rt_broken/config_def.json", R"([{"key":}])"}},
       "w: Runtime folder '{ws}/rt_broken' is skipped: {ws}/rt_broken/config_def.json:1:9: syntax error in JSON text",
       0, "[]"},
      {"broken form of the selected runtime", {{"rt_sim/config_def.json", "{}"}},
       "w: Runtime folder '{ws}/rt_sim' is skipped: " + no_form + "\n" + e + no_form, 1, ""},
      {"form key that is no text", {{"rt_sim/config_def.json", R"([{"key":true,"default":1}])"}},
       "w: Value true of key \"key\" of entry 1 in {ws}/demo/build-demo-sim/config_def.json is a bool, expected a "
       "text: the entry supplies no default",
       0, R"([{"default":1}])"},
      // What only the C++ compiler would have refused is named at its block or line first.
      {"source raster of a class without poll()",
       {{"demo/nodes/lp.h", "#pragma once\n/* @node: auto */\nclass low_pass {\n public:\n  void tick() {}\n};\n"},
        {m, model_of(R"({"name":"f","type":"class","raster":"source","cfg":{"class":"low_pass","prj":"demo"}})")}},
       "e: Raster 'source' for block f needs a block object with a poll(), which class \"low_pass\" does not declare (a "
       "raster source declares vesk::time poll(), no tick() and no inputs)" + at("f"), 255, ""},
      {"raster no source runs", {{m, model_of(named("\"a\"", R"(,"raster":"a_nosuch")"))}},
       "e: Raster a_nosuch has nodes but no source nodes. (A raster a_x is run by block x of raster 'source'; no block "
       "nosuch has that raster.)" + at("a"), 255, ""},
      {"empty condition", {{m, model_of(machine(R"({"name":"init","transitions":[{"c":"","t":"init"}]})"))}},
       e + "Value \"\" of key \"c\" of a transition of state \"init\"" + in("sm") +
           "is empty: the transition needs a condition, such as true", 1, ""},
      {"input named twice", {{m, model_of(R"({"name":"f","type":"function","cfg":{"function":"hypot","inputs":"x, x"}})")}},
       e + "Value \"x, x\" of key \"inputs\"" + in("f") + "names the input \"x\" more than once: each name is one pin "
           "and one argument of the call; name each input once", 1, ""},
      {"inputs as lines", {{m, model_of(R"({"name":"f","type":"function","cfg":{"function":"hypot","inputs":["x"]}})")}},
       e + "Value [\"x\"] of key \"inputs\"" + in("f") + "is an array, expected a text, a number or null", 1, ""},
      {"vars as lines",
       {{m, model_of(R"({"name":"sm","type":"state_machine","cfg":{"vars":["double x;"],"states":[{"name":"init"}]}})")}},
       e + "Value [\"double x;\"] of key \"vars\"" + in("sm") + "is an array, expected a text, a number or null", 1, ""},
      {"call and pin the class lacks",
       {{"demo/nodes/lp.h", "#pragma once\n//@node: class\nclass low_pass {\n public:\n  //@input: u\n  double in = 0;\n"
                            "  //@tick: stpe()\n  void step() {}\n};\n"}},
       "e: {ws}/demo/nodes/lp.h:7 Nodeverification failed: Method 'stpe' of the @tick call is not declared in class "
       "'low_pass'.\ne: {ws}/demo/nodes/lp.h:5 Nodeverification failed: Input 'u' is bound to the member 'u', which "
       "class 'low_pass' does not declare.",
       0, "#pragma once\n//@node: class\nclass low_pass {\n public:\n  //@input: u\n  double u = 0;\n  //@tick: step()\n"
          "  void step() {}\n};\n"},
      {"header of another extension", {{"demo/nodes/lp.hpp", low_pass("")}},
       "w: Node source {ws}/demo/nodes/lp.hpp is not read: the node sources of a project are its files named *.h in "
       "its folder \"nodes\" and the folders within; rename it to read its nodes",
       0, low_pass(""), {}, "demo/demo.vcfg", "demo/nodes/lp.h"},
      {"project folder that is no identifier",
       {{"low-pass/nodes/lp.h", low_pass("")},
        {"low-pass/models/m.vmdl", model_of(R"({"name":"f","type":"class","cfg":{"class":"low_pass","prj":"low-pass"}})")},
        {"low-pass/low_pass.vcfg", plain}},
       "w: Project name 'low-pass' is invalid. A project name must follow the pattern '[a-zA-Z][a-zA-Z0-9_]*'. in "
       "{ws}/low-pass/low_pass.vcfg: the node sources of its folder \"nodes\" are not read\ne: Node f has an error: "
       "Node not found. Class name: 'low_pass' prj: 'low-pass' in block 'f' of model file {ws}/low-pass/models/m.vmdl",
       255, "", {}, "low-pass/low_pass.vcfg"},
      {"model with a byte order mark", {{m, "\xEF\xBB\xBF" + model_of(counter)}},
       "w: {ws}/" + m + " begins with a UTF-8 byte order mark, which is skipped: JSON text needs none", 0, model_of(counter)},
      {"configuration with a byte order mark", {{vcfg, "\xEF\xBB\xBF" + plain}},
       "w: {ws}/" + vcfg + " begins with a UTF-8 byte order mark, which is skipped: JSON text needs none", 0, plain},
      {"configuration given twice", {{vcfg, plain}},
       "w: Argument \"other.vcfg\" is ignored: only the last argument names the project configuration file", 0, plain,
       {"other.vcfg"}},
  };
  for (const row& r : rows) {
    workspace w, same;
    for (const auto& [rel, text] : r.files) w.put("ws/" + rel, text);
    if (!r.same_as.empty()) {
      for (const auto& [rel, text] : r.files)
        if (r.same_path.empty() || rel != r.files.back().first) same.put("ws/" + rel, text);
      same.put("ws/" + (r.same_path.empty() ? r.files.back().first : r.same_path), r.same_as);
    }
    std::vector<std::string> args = r.args;
    args.push_back((w.ws / r.config).string());
    const auto res = w.run(args), base = same.run({same.vcfg.string()});
    // The row's reports are those of its lenient reading written out, and its lines more.
    std::vector<std::string> expected = reports(base.out);
    std::istringstream parts(r.line);
    for (std::string l; std::getline(parts, l);) expected.push_back(replace_all(l, "{ws}", w.ws.string()));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, reports(res.out)) << r.name << "\n" << res.out;
    EXPECT_EQ(r.status, res.status) << r.name << "\n" << res.out;
    EXPECT_EQ(0, base.status) << r.name << "\n" << base.out;
    EXPECT_EQ(r.same_as.empty() ? decltype(generated(w)){} : generated(same), generated(w)) << r.name;
    EXPECT_EQ(!r.same_as.empty(), fs::exists(w.build_dir)) << r.name;
  }
}

}  // namespace
