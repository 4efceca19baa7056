// Names typed by hand into a model that the programs do not know: each is told where it
// is read, as a warning when the build goes on with the lenient reading, as an error
// when it could only end in the C++ compiler.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "cli/cli_test_util.h"
#include "foundation/helpers.h"

namespace {

using cli_test::lines_with;
using cli_test::workspace;
namespace fs = std::filesystem;

std::string model_of(const std::string& blocks) { return "{\"nodes\":[" + blocks + "]}"; }

// The generated sources of the last build, by file name.
std::map<std::string, std::string> generated(const workspace& w) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& f : fs::directory_iterator(w.build_dir / "model", ec))
    files[f.path().filename().string()] = read_file(f.path().string());
  return files;
}

const char* const gain_header =
    "#pragma once\n/* @node: auto */\nclass gain {\n public:\n  double in_u = 0;\n  double param_gain = 2;\n"
    "  double out_y = 0;\n  void tick() { out_y = param_gain * in_u; }\n};\n";
const char* const scale_header = "#pragma once\n/* @node: auto */\ndouble scale(double in_u, double param_k = 3);\n";

std::string state_machine(const std::string& target) {
  return R"({"name":"sm","type":"state_machine","raster":"r10ms","cfg":{"states":[{"name":"init","transitions":[)" +
         (target.empty() ? "" : R"({"c":"true","t":")" + target + "\"}") + R"(]},{"name":"high"}]}})";
}

TEST(CliNames, NamesTypedByHandAreCheckedWhereTheyAreRead) {
  const std::string counter = cli_test::counter_block("a", "r10ms");
  const std::string m = "demo/models/m.vmdl";
  const std::string file = " in block 'B' of model file {ws}/demo/models/m.vmdl ";
  const auto in = [&file](const std::string& block) { return replace_all(file, "'B'", "'" + block + "'"); };
  struct row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // below "ws/", as in CliProgram.BadInputFailsTheRun
    std::string line;      // the one expected new "w: " or "e: " line; "{ws}" stands for the workspace folder
    int status;            // vesk-cli's exit status
    std::string same_as;   // for a "w: " row: a model text that builds the same generated sources (the lenient reading written out); empty for an "e: " row: nothing is generated
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
      {"checkbox text", {{m, model_of(R"({"name":"e","type":"expression","cfg":{"function":"1","disable_output":"ture"}})")}},
       "w: Value \"ture\" of key \"disable_output\"" + in("e") + "is read as false: a checkbox is true, false or a number",
       0, model_of(R"({"name":"e","type":"expression","cfg":{"function":"1","disable_output":false}})")},
  };
  for (const row& r : rows) {
    workspace w;
    for (const auto& [rel, text] : r.files) w.put("ws/" + rel, text);
    const auto res = w.run({"-b", w.vcfg.string()});
    EXPECT_EQ(r.status, res.status) << r.name << "\n" << res.out;
    const std::string prefix = r.line.substr(0, 3);
    std::vector<std::string> lines = lines_with(res.out, prefix);
    const auto built = generated(w);
    if (r.same_as.empty()) {
      EXPECT_TRUE(built.empty()) << r.name;
    } else {
      w.put("ws/" + m, r.same_as);
      const auto lenient = w.run({"-b", w.vcfg.string()});
      EXPECT_EQ(0, lenient.status) << r.name << "\n" << lenient.out;
      EXPECT_EQ(generated(w), built) << r.name;
      for (const std::string& known : lines_with(lenient.out, prefix))
        lines.erase(std::remove(lines.begin(), lines.end(), known), lines.end());
    }
    EXPECT_EQ(std::vector<std::string>{replace_all(r.line, "{ws}", w.ws.string())}, lines) << r.name << "\n"
                                                                                          << res.out;
  }
}

}  // namespace
