#include "annotations/verify.h"

#include <gtest/gtest.h>

#include "foundation/log_capture.h"

namespace vesk::annotations {
namespace {

const std::string F = "Nodeverification failed: ";

/// Node from JSON text, placed at node.h:5 as the messages show it.
template <class Node>
Node node(const char* json_text, std::vector<std::string> poll_types = {}) {
  Node n(vesk::json::parse(json_text));
  n.file_name = "node.h";
  n.src_line = 5;
  if constexpr (std::is_same_v<Node, block_class>) {
    for (const std::string& type : poll_types) {
      call poll;
      poll.method_name = "poll";
      poll.return_type = type;
      n.poll_calls.push_back(poll);
    }
  }
  return n;
}

/// Runs verify and returns the log_err lines with the common location cut off.
template <class Node>
std::vector<std::string> verify_lines(Node& n, bool expected_ok) {
  log_capture err(log_err);
  EXPECT_EQ(n.verify(), expected_ok);
  std::vector<std::string> out;
  for (const std::string& line : err.lines) {
    EXPECT_EQ(line.rfind("node.h:5 " + F, 0), 0u) << line;
    out.push_back(line.substr(std::min(line.size(), 9 + F.size())));
  }
  return out;
}

struct class_case {
  const char* json;
  std::vector<std::string> polls;
  bool ok;
  std::vector<std::string> lines;
};

TEST(VerifyClass, Messages) {
  const std::string ctor = "Constructors can have only arguments that are constants or parameters.";
  const std::string one_poll = "Nodes that are raster-sources must have one poll-function (not more).";
  const std::string no_ticks =
      "Raster-sources can't have tick_calls because of predictability. Do everything within "
      "poll(). (Background: The raster_source-nodes are not compiled in resimulation_models, "
      "so the tick() can not be called then.)";
  const class_case cases[] = {
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
          "constants":[{"var_name":"c"}],"construct":{"method_name":"x","args":[{"name":"i"},
          {"name":"p"},{"name":"c"},{"name":"z"}]}})",
       {}, false, {ctor, ctor}},
      {R"({"class":"a","outputs":[{"var_name":"y","type":"d"}],
          "final_calls":[{"method_name":"fin","args":[{"name":"f"}]}],
          "tick_calls":[{"method_name":"tick","return_to":"q"}],
          "init_calls":[{"method_name":"ini","args":[{"name":"i"},{"name":"y"}]}]})",
       {"nope"}, false,
       {"Argument 'i' for functioncall 'ini' not defined.",
        "Return-value of functioncall 'tick' is asigned to undefined variable 'q'.",
        "Argument 'f' for functioncall 'fin' not defined."}},
      {R"({"class":"a","raster":"source"})", {}, false, {one_poll}},
      {R"({"class":"a","raster":"source"})", {"double", "double"}, false, {one_poll}},
      {R"({"class":"a","raster":"source","inputs":[{"var_name":"a","type":"d"}],
          "tick_calls":[{"method_name":"t","args":[{"name":"a"}]}]})",
       {"double"}, false,
       {"The return type of the poll function must be vesk::time.", no_ticks,
        "Raster-sources can't have inputs because of predictability."}},
      {R"({"class":"a","raster":"source"})", {"vesk::time"}, true, {}},
      {R"({"class":"a","raster":"Source"})", {}, true, {}},
      {R"({"class":"a","parameters":[{"var_name":"k"}],
          "tick_calls":[{"method_name":"t","args":[{"name":"k"}],"return_to":"k"},{"method_name":"u"}]})",
       {}, true, {}},
  };
  for (const class_case& c : cases) {
    block_class n = node<block_class>(c.json, c.polls);
    EXPECT_EQ(verify_lines(n, c.ok), c.lines) << c.json;
  }
}

TEST(VerifyClass, CompletesNamesAndTypes) {
  block_class a = node<block_class>(R"({"name":"Adder"})");
  verify_lines(a, true);
  EXPECT_EQ(a.class_name, "Adder");
  block_class b = node<block_class>(R"({"class":"adder","construct":{"method_name":"m"},
      "inputs":[{"var_name":"a"}],"outputs":[{"var_name":"y"}],
      "tick_calls":[{"method_name":"s","args":[{"name":"a","type":"int"}],
                     "return_to":"y","return_type":"float"}]})");
  verify_lines(b, true);
  EXPECT_EQ(b.name, "adder");
  EXPECT_EQ(b.construct.method_name, "");
  EXPECT_EQ(b.inputs[0].name, "a");
  EXPECT_EQ(b.inputs[0].type, "int");
  EXPECT_EQ(b.outputs[0].type, "float");
  EXPECT_EQ(b.pin_names.size(), 2u);
}

TEST(VerifyClass, PinNamesNotVariablesAreCallable) {
  block_class n = node<block_class>(R"({"class":"a","inputs":[{"name":"speed","var_name":"u","type":"d"}],
      "tick_calls":[{"method_name":"step","args":[{"name":"u"}]}]})");
  EXPECT_EQ(verify_lines(n, false),
            std::vector<std::string>{"Argument 'u' for functioncall 'step' not defined."});
  n.tick_calls[0].args[0].name = "speed";
  EXPECT_TRUE(verify_lines(n, true).empty());
}

TEST(VerifyFunction, Messages) {
  block_function f = node<block_function>(R"({"function":{"method_name":"step","args":[{"name":"x"}],
      "return_to":"y"},"inputs":[{"var_name":"x","type":"d"}],"outputs":[{"var_name":"y","type":"d"}]})");
  EXPECT_TRUE(verify_lines(f, true).empty());
  EXPECT_EQ(f.name, "step");

  block_function g = node<block_function>(R"({"name":"scale","function":{"return_to":"r"}})");
  EXPECT_EQ(verify_lines(g, false),
            std::vector<std::string>{
                "Return-value of functioncall 'scale' is asigned to undefined variable 'r'."});
  EXPECT_EQ(g.function.method_name, "scale");

  block_function h = node<block_function>("{}");
  EXPECT_EQ(verify_lines(h, false),
            (std::vector<std::string>{"Name not set!", "Funcion-Name not set!"}));
}

TEST(Verify, RebuiltFromJsonReportsLineZeroAndRerunsAreStable) {
  block_class n(vesk::json::parse(
      R"({"class":"a","file_name":"x.h","inputs":[{"var_name":"u","type":"d"},{"var_name":"u","type":"d"}]})"));
  log_capture err(log_err);
  EXPECT_FALSE(n.verify());
  EXPECT_FALSE(n.verify());
  const std::string line = "x.h:0 " + F + "Nameconflict: Pin with name 'u' registered twice...";
  EXPECT_EQ(err.lines, (std::vector<std::string>{line, line}));
  EXPECT_EQ(n.pin_names.size(), 1u);
}

}  // namespace
}  // namespace vesk::annotations
