// Names typed into a model file or a runtime setting that vesk-cli does not know, each
// checked where it is read: the real program in throw-away workspaces.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "cli/cli_test_util.h"
#include "foundation/helpers.h"

namespace {

using cli_test::workspace;
namespace fs = std::filesystem;

TEST(CliNames, NamesTypedByHandAreCheckedWhereTheyAreRead) {
  const auto model = [](std::string blocks) { return "{\"nodes\":[" + blocks + "]}"; };
  const auto named = [](const std::string& name, const std::string& more = "") {
    return R"({"name":)" + name + R"(,"type":"class","cfg":{"class":"counter","prj":"demo"})" + more + "}";
  };
  // a (r10ms) -> rate transition q -> b (r1s).
  const auto via_rt = [&](const std::string& cfg) {
    return model(cli_test::counter_block("a", "r10ms") + R"(,{"name":"q","type":"base","cfg":{"node":"rt")" + cfg +
                 R"(},"inputs":{"in":{"node":"a","pin":"value"}}},)" +
                 named("\"b\"", R"(,"raster":"r1s","inputs":{"step":{"node":"q","pin":"out"}})"));
  };
  const std::string m = "demo/models/m.vmdl", of_m = " of model file {ws}/" + m, e = "e: An exception occured: ";
  const std::string no_id = e + "The block name is no C++ identifier (letters, digits and '_', not beginning with a "
                                "digit) (key \"name\") in block ";
  const std::string no_model = e + "The model is no JSON object (a model file holds {\"nodes\": [...]}) in model file "
                                   "{ws}/" + m;
  struct row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // below "ws/", as in CliProgram.BadInputFailsTheRun
    std::string line;      // the one expected new "w: " or "e: " line; "{ws}" stands for the workspace folder
    int status;            // vesk-cli's exit status
    std::string same_as;   // for a "w: " row: a model text that builds the same generated sources (the lenient reading written out); empty for an "e: " row: nothing is generated
  } rows[] = {
      {"rt behavior", {{m, via_rt(R"(,"behavior":"lats")")}},
       "w: Behavior \"lats\" (key \"behavior\") in block 'q'" + of_m +
           " is read as \"last\": the behaviors are \"last\", \"fifo\" and \"add\"",
       0, via_rt(R"(,"behavior":"last")")},
      {"fifo of a number type", {{m, via_rt(R"(,"behavior":"fifo")")}}, e + "Behavior \"fifo\" needs a container data "
       "type such as std::vector<double>, not 'double' (key \"data_type\") in block 'q'" + of_m, 1, ""},
      {"block key", {{m, model(named("\"a\"", R"(,"rastr":"r1s")"))}}, "w: Key \"rastr\" in block 'a'" + of_m +
       " is ignored: a block has the keys name, type, cfg, pos, raster, rotate, comment_out, inputs, default_values", 0,
       model(named("\"a\""))},
      {"runtime setting", {{"rt_sim/config_def.json", R"([{"key":"print_interval_ms","default":1000}])"},
        {"demo/demo.vcfg", R"({"model":"m","runtime":"sim","runtime_configs":{"sim":{"print_intervall_ms":5}}})"}},
       "w: Runtime setting \"print_intervall_ms\" in {ws}/demo/demo.vcfg is unknown to runtime 'sim' and is ignored: "
       "its settings are print_interval_ms", 0, model(cli_test::counter_block("a", "r10ms"))},
      {"model array", {{m, "[]"}}, no_model, 1, ""},
      {"model number", {{m, "42"}}, no_model, 1, ""},
      {"model text", {{m, "\"text\""}}, no_model, 1, ""},
      {"model without blocks", {{m, R"({"node":[]})"}}, "w: The model has no \"nodes\" and so no blocks in model file {ws}/" + m,
       0, R"({"nodes":[]})"},
      {"model blocks", {{m, R"({"nodes": 5})"}},
       e + "The blocks of the model are no JSON array (key \"nodes\") in model file {ws}/" + m, 1, ""},
      {"name with a dash", {{m, model(named("\"meter-1\""))}}, no_id + "'meter-1'" + of_m, 1, ""},
      {"name with a digit first", {{m, model(named("\"2nd\""))}}, no_id + "'2nd'" + of_m, 1, ""},
      {"name with a blank", {{m, model(named("\"a b\""))}}, no_id + "'a b'" + of_m, 1, ""},
      {"name as a number", {{m, model(named("5"))}}, no_id + "'5.000000'" + of_m, 1, ""},
      {"inner name",
       {{m, model(R"({"name":"s","type":"base","cfg":{"node":"subsystem","nodes":[)" + named("\"x-y\"") + "]}}")}},
       no_id + "'x-y' of subsystem 's'" + of_m, 1, ""},
  };
  // The "w: " and "e: " lines of a run, sorted; the files the build generated.
  const auto reports = [](const std::string& out) {
    std::vector<std::string> lines = cli_test::lines_with(out, "w: "), errors = cli_test::lines_with(out, "e: ");
    lines.insert(lines.end(), errors.begin(), errors.end());
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  const auto generated = [](const workspace& w) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(w.build_dir / "model", ec))
      files[f.path().filename()] = read_file(f.path());
    return files;
  };
  for (const row& r : rows) {
    workspace w, same;
    for (const auto& [rel, text] : r.files) w.put("ws/" + rel, text);
    if (!r.same_as.empty()) same.put("ws/" + m, r.same_as);
    const auto res = w.run({w.vcfg.string()}), base = same.run({same.vcfg.string()});
    // The row's reports are those of its lenient reading written out, and one line more.
    std::vector<std::string> expected = reports(base.out);
    expected.push_back(replace_all(r.line, "{ws}", w.ws.string()));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, reports(res.out)) << r.name << "\n" << res.out;
    EXPECT_EQ(r.status, res.status) << r.name << "\n" << res.out;
    EXPECT_EQ(0, base.status) << r.name << "\n" << base.out;
    EXPECT_EQ(r.same_as.empty() ? decltype(generated(w)){} : generated(same), generated(w)) << r.name;
    EXPECT_EQ(!r.same_as.empty(), fs::exists(w.build_dir)) << r.name;
  }
}

}  // namespace
