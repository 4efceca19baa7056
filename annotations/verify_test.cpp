#include "annotations/verify.h"

#include <gtest/gtest.h>

#include "foundation/log_capture.h"

namespace vesk::annotations {
namespace {

using lines = std::vector<std::string>;
const std::string F = "Nodeverification failed: ";

/// Runs verify on a node placed at node.h:5 and returns the log_err lines without the
/// common "node.h:5 Nodeverification failed: " in front.
lines verify_lines(block_base& n, bool expected_ok) {
  n.file_name = "node.h";
  n.src_line = 5;
  log_capture err(log_err);
  EXPECT_EQ(n.verify(), expected_ok);
  lines out;
  for (const std::string& line : err.lines) {
    EXPECT_EQ(line.rfind("node.h:5 " + F, 0), 0u) << line;
    out.push_back(line.substr(std::min(line.size(), 9 + F.size())));
  }
  return out;
}

TEST(VerifyClass, Messages) {
  const std::string ctor = "Constructors can have only arguments that are constants or parameters.";
  const std::string one_poll = "Nodes that are raster-sources must have one poll-function (not more).";
  const std::string no_ticks =
      "Raster-sources can't have tick_calls because of predictability. Do everything within "
      "poll(). (Background: The raster_source-nodes are not compiled in resimulation_models, "
      "so the tick() can not be called then.)";
  const std::string poll_type = "The return type of the poll function must be vesk::time.";
  const std::tuple<const char*, lines, bool, lines> cases[] = {
      // json, return types of poll calls, result, messages
      {R"({"class":"a","inputs":[{"var_name":"x","type":"d"}],"constants":[{"var_name":"x"}]})",
       {}, false, {"Nameconflict: Pin with name 'x' registered twice..."}},
      {R"({"class":"a","constants":[{}],"parameters":[{}],"outputs":[{}],"inputs":[{},{"name":"n"}]})",
       {}, false,
       {"Input without name!", "Input without name!", "Output without name!",
        "Parameter without name!", "Constant without name!", "Input  has no type!",
        "Input  has no type!", "Output  has no type!"}},
      {R"({"class":"a","inputs":[{"var_name":"u","type":"d"}],"outputs":[{"var_name":"v"}]})",
       {}, false, {"Output v has no type!"}},
      {R"({"inputs":[{}]})", {}, false,
       {"Name not set!", "Class-Name not set!", "Input without name!", "Input  has no type!"}},
      {R"({"class":"a","inputs":[{"var_name":"i","type":"d"}],"parameters":[{"var_name":"p"}],
          "constants":[{"var_name":"c"}],"construct":{"args":[{"name":"i"},{"name":"p"},
          {"name":"c"},{"name":"z"}]}})",
       {}, false, {ctor, ctor}},
      // Calls are checked in init, tick, final order, against pin names.
      {R"({"class":"a","outputs":[{"var_name":"y","type":"d"}],
          "inputs":[{"name":"speed","var_name":"u","type":"d"}],
          "final_calls":[{"method_name":"fin","args":[{"name":"u"}]}],
          "tick_calls":[{"method_name":"tick","return_to":"q"},{"method_name":"t","args":[{"name":"speed"}]}],
          "init_calls":[{"method_name":"ini","args":[{"name":"i"},{"name":"y"}]}]})",
       {"nope"}, false,
       {"Argument 'i' for functioncall 'ini' not defined.",
        "Return-value of functioncall 'tick' is asigned to undefined variable 'q'.",
        "Argument 'u' for functioncall 'fin' not defined."}},
      {R"({"class":"a","raster":"source"})", {}, false, {one_poll}},
      {R"({"class":"a","raster":"source"})", {"double", "double"}, false, {one_poll}},
      {R"({"class":"a","raster":"source","inputs":[{"var_name":"a","type":"d"}],
          "tick_calls":[{"method_name":"t","args":[{"name":"a"}]}]})",
       {"double"}, false,
       {poll_type, no_ticks, "Raster-sources can't have inputs because of predictability."}},
      {R"({"class":"a","raster":"source"})", {"vesk::time"}, true, {}},
      {R"({"class":"a","raster":"Source"})", {}, true, {}},
      {R"({"class":"a","parameters":[{"var_name":"k"}],
          "tick_calls":[{"method_name":"t","args":[{"name":"k"}],"return_to":"k"},{"method_name":"u"}]})",
       {}, true, {}},
  };
  for (const auto& [json, polls, ok, messages] : cases) {
    block_class n(vesk::json::parse(json));
    for (const std::string& type : polls) {
      n.poll_calls.emplace_back();
      n.poll_calls.back().return_type = type;
    }
    EXPECT_EQ(verify_lines(n, ok), messages) << json;
  }
}

TEST(VerifyClass, CompletesNamesAndTypes) {
  block_class a(vesk::json::parse(R"({"name":"Adder"})"));
  verify_lines(a, true);
  EXPECT_EQ(a.class_name, "Adder");
  block_class b(vesk::json::parse(R"({"class":"adder","construct":{"method_name":"m"},
      "inputs":[{"var_name":"a"}],"outputs":[{"var_name":"y"}],
      "tick_calls":[{"method_name":"s","args":[{"name":"a","type":"int"}],
                     "return_to":"y","return_type":"float"}]})"));
  verify_lines(b, true);
  EXPECT_EQ(b.name + "|" + b.construct.method_name + "|" + b.inputs[0].name, "adder||a");
  EXPECT_EQ(b.inputs[0].type + "|" + b.outputs[0].type, "int|float");
  EXPECT_EQ(b.pin_names.size(), 2u);
}

TEST(VerifyFunction, Messages) {
  block_function f(vesk::json::parse(R"({"function":{"method_name":"step","args":[{"name":"x"}],
      "return_to":"y"},"inputs":[{"var_name":"x","type":"d"}],"outputs":[{"var_name":"y","type":"d"}]})"));
  EXPECT_TRUE(verify_lines(f, true).empty());
  EXPECT_EQ(f.name, "step");
  block_function g(vesk::json::parse(R"({"name":"scale","function":{"return_to":"r"}})"));
  EXPECT_EQ(verify_lines(g, false),
            lines{"Return-value of functioncall 'scale' is asigned to undefined variable 'r'."});
  block_function h;
  EXPECT_EQ(verify_lines(h, false), (lines{"Name not set!", "Funcion-Name not set!"}));
}

TEST(Verify, RebuiltFromJsonReportsLineZeroAndRerunsAreStable) {
  block_class n(vesk::json::parse(R"({"class":"a","file_name":"x.h","inputs":[{"var_name":"u"},{"var_name":"u"}]})"));
  n.inputs[0].type = n.inputs[1].type = "d";
  log_capture err(log_err);
  EXPECT_FALSE(n.verify() || n.verify());
  const std::string line = "x.h:0 " + F + "Nameconflict: Pin with name 'u' registered twice...";
  EXPECT_EQ(err.lines, (lines{line, line}));
}

}  // namespace
}  // namespace vesk::annotations
