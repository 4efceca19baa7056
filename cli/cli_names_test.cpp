// Names typed into a model file or a runtime setting that vesk-cli does not know: each is
// checked where it is read, against the real program in a throw-away workspace.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "cli/cli_test_util.h"
#include "foundation/helpers.h"

namespace {

using cli_test::lines_with;
using cli_test::workspace;
namespace fs = std::filesystem;

// Every file of the build directory's "model" folder: name -> text.
std::map<std::string, std::string> generated(const workspace& w) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(w.build_dir / "model", ec))
    files[e.path().filename().string()] = read_file(e.path().string());
  return files;
}

// The "w: " and "e: " lines of a run, sorted.
std::vector<std::string> reports(const std::string& out) {
  std::vector<std::string> lines = lines_with(out, "w: "), errors = lines_with(out, "e: ");
  lines.insert(lines.end(), errors.begin(), errors.end());
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string model_of(const std::vector<std::string>& blocks) {
  std::string text = "{\"nodes\":[";
  for (size_t i = 0; i < blocks.size(); ++i) text += (i ? "," : "") + blocks[i];
  return text + "]}";
}

TEST(CliNames, NamesTypedByHandAreCheckedWhereTheyAreRead) {
  const std::string a = cli_test::counter_block("a", "r10ms");
  const auto named = [](const std::string& name) {
    return R"({"name":)" + name + R"(,"type":"class","cfg":{"class":"counter","prj":"demo"}})";
  };
  // a (r10ms) -> rate transition q -> b (r1s), q's cfg completed by `rt`.
  const auto through_rt = [&](const std::string& rt) {
    return model_of({a, R"({"name":"q","type":"base","cfg":{"node":"rt")" + rt + R"(},"inputs":{"in":{"node":"a","pin":"value"}}})",
                     R"({"name":"b","type":"class","cfg":{"class":"counter","prj":"demo"},"raster":"r1s","inputs":{"step":{"node":"q","pin":"out"}}})"});
  };
  const std::string m = "demo/models/m.vmdl", in_m = " of model file {ws}/demo/models/m.vmdl";
  const std::string no_id = "e: An exception occured: The block name is no C++ identifier (letters, digits and '_', "
                            "not beginning with a digit) (key \"name\") in block ";
  const std::string no_model = "e: An exception occured: The model is no JSON object (a model file holds {\"nodes\": "
                               "[...]}) in model file {ws}/demo/models/m.vmdl";
  struct row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // below "ws/", as in CliProgram.BadInputFailsTheRun
    std::string line;      // the one expected new "w: " or "e: " line; "{ws}" stands for the workspace folder
    int status;            // vesk-cli's exit status
    std::string same_as;   // for a "w: " row: a model text that builds the same generated sources (the lenient reading written out); empty for an "e: " row: nothing is generated
  } rows[] = {
      {"rt behavior", {{m, through_rt(R"(,"behavior":"lats")")}},
       "w: Behavior \"lats\" (key \"behavior\") in block 'q'" + in_m +
           " is read as \"last\": the behaviors are \"last\", \"fifo\" and \"add\"",
       0, through_rt(R"(,"behavior":"last")")},
      {"fifo of a number type", {{m, through_rt(R"(,"behavior":"fifo")")}},
       "e: An exception occured: Behavior \"fifo\" needs a container data type such as std::vector<double>, not "
       "'double' (key \"data_type\") in block 'q'" + in_m, 1, ""},
      {"block key", {{m, model_of({R"({"name":"a","type":"class","cfg":{"class":"counter","prj":"demo"},"rastr":"r1s"})"})}},
       "w: Key \"rastr\" in block 'a'" + in_m +
           " is ignored: a block has the keys name, type, cfg, pos, raster, rotate, comment_out, inputs, default_values",
       0, model_of({named("\"a\"")})},
      {"runtime setting",
       {{"rt_sim/config_def.json", R"([{"key":"print_interval_ms","default":1000}])"},
        {"demo/demo.vcfg", R"({"model":"m","runtime":"sim","runtime_configs":{"sim":{"print_intervall_ms":5}}})"}},
       "w: Runtime setting \"print_intervall_ms\" in {ws}/demo/demo.vcfg is unknown to runtime 'sim' and is ignored: "
       "its settings are print_interval_ms",
       0, model_of({a})},
      {"model array", {{m, "[]"}}, no_model, 1, ""},
      {"model number", {{m, "42"}}, no_model, 1, ""},
      {"model text", {{m, "\"text\""}}, no_model, 1, ""},
      {"model blocks", {{m, R"({"nodes": 5})"}},
       "e: An exception occured: The blocks of the model are no JSON array (key \"nodes\") in model file "
       "{ws}/demo/models/m.vmdl", 1, ""},
      {"name with a dash", {{m, model_of({named("\"meter-1\"")})}}, no_id + "'meter-1'" + in_m, 1, ""},
      {"name with a digit first", {{m, model_of({named("\"2nd\"")})}}, no_id + "'2nd'" + in_m, 1, ""},
      {"name with a blank", {{m, model_of({named("\"a b\"")})}}, no_id + "'a b'" + in_m, 1, ""},
      {"name as a number", {{m, model_of({named("5")})}}, no_id + "'5.000000'" + in_m, 1, ""},
      {"inner name", {{m, model_of({R"({"name":"s","type":"base","cfg":{"node":"subsystem","nodes":[)" + named("\"x-y\"") + "]}}"})}},
       no_id + "'x-y' of subsystem 's'" + in_m, 1, ""},
  };
  for (const row& r : rows) {
    workspace w, same;
    for (const auto& [rel, text] : r.files) w.put("ws/" + rel, text);
    const auto res = w.run({w.vcfg.string()});
    if (!r.same_as.empty()) same.put("ws/" + m, r.same_as);
    const auto base = same.run({same.vcfg.string()});
    // The row's reports are those of its lenient reading written out, and one line more.
    std::vector<std::string> expected = reports(base.out);
    expected.push_back(replace_all(r.line, "{ws}", w.ws.string()));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, reports(res.out)) << r.name << "\n" << res.out;
    EXPECT_EQ(r.status, res.status) << r.name << "\n" << res.out;
    if (r.same_as.empty()) {
      EXPECT_FALSE(fs::exists(w.build_dir)) << r.name;
    } else {
      EXPECT_EQ(0, base.status) << r.name << "\n" << base.out;
      EXPECT_FALSE(generated(w).empty()) << r.name;
      EXPECT_EQ(generated(same), generated(w)) << r.name;
    }
  }
}

}  // namespace
