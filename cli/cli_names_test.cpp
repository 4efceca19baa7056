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
  const auto in = [&of_m](const std::string& block) { return " in block '" + block + "'" + of_m + " "; };
  const std::string no_id = e + "The block name is no C++ identifier (letters, digits and '_', not beginning with a "
                                "digit) (key \"name\") in block ";
  const std::string vcfg = "demo/demo.vcfg", plain = R"({"model":"m","runtime":"sim"})";
  const std::string project_keys = "a project configuration file reads model, runtime, runtime_configs, runtime_config";
  const std::string no_form = "Error parsing {ws}/rt_sim/config_def.json. It must be an array.";
  const std::string no_model = e + "The model is no JSON object (a model file holds {\"nodes\": [...]}) in model file "
                                   "{ws}/" + m;
  struct row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // below "ws/", as in CliProgram.BadInputFailsTheRun
    std::string line;      // the one expected new "w: " or "e: " line; "{ws}" stands for the workspace folder
    int status;            // vesk-cli's exit status
    std::string same_as;   // for a "w: " row: the last file's text with the lenient reading written out, which
                           // builds the same sources; empty for an "e: " row: nothing is generated
    std::vector<std::string> args = {};  // before the configuration file
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
           "is unknown, so the block has no pins and computes nothing: the kinds are delay, rt, fifo, parameter, "
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
       "w: Runtime setting \"print_intervall_ms\" in {ws}/demo/demo.vcfg is unknown to runtime 'sim' and is ignored: "
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
      {"name as a number", {{m, model_of(named("5"))}}, no_id + "'5.000000'" + of_m, 1, ""},
      {"name that is a keyword", {{m, model_of(named("\"int\""))}},
       e + "The block name is a C++ keyword (key \"name\") in block 'int'" + of_m, 1, ""},
      {"inner name",
       {{m, model_of(R"({"name":"s","type":"base","cfg":{"node":"subsystem","nodes":[)" + named("\"x-y\"") + "]}}")}},
       no_id + "'x-y' of subsystem 's'" + of_m, 1, ""},
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
      {"configuration given twice", {{vcfg, plain}},
       "w: Argument \"other.vcfg\" is ignored: only the last argument names the project configuration file", 0, plain,
       {"other.vcfg"}},
  };
  for (const row& r : rows) {
    workspace w, same;
    for (const auto& [rel, text] : r.files) w.put("ws/" + rel, text);
    if (!r.same_as.empty()) {
      for (const auto& [rel, text] : r.files) same.put("ws/" + rel, text);
      same.put("ws/" + r.files.back().first, r.same_as);
    }
    std::vector<std::string> args = r.args;
    args.push_back(w.vcfg.string());
    const auto res = w.run(args), base = same.run({same.vcfg.string()});
    // The row's reports are those of its lenient reading written out, and its lines more.
    std::vector<std::string> expected = reports(base.out);
    std::istringstream lines(replace_all(r.line, "{ws}", w.ws.string()));
    for (std::string l; std::getline(lines, l);) expected.push_back(l);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, reports(res.out)) << r.name << "\n" << res.out;
    EXPECT_EQ(r.status, res.status) << r.name << "\n" << res.out;
    EXPECT_EQ(0, base.status) << r.name << "\n" << base.out;
    EXPECT_EQ(r.same_as.empty() ? decltype(generated(w)){} : generated(same), generated(w)) << r.name;
    EXPECT_EQ(!r.same_as.empty(), fs::exists(w.build_dir)) << r.name;
  }
}

}  // namespace
