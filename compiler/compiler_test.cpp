#include "compiler/compiler.h"

#include <gtest/gtest.h>

#include "compiler/compiler_test_util.h"

using namespace compiler_test;

namespace {

/// The tick body of a raster: the assignments of its blocks, in emitted order.
std::string tick_body(fixture& f, const std::string& raster) {
  std::string text = f.file(raster + ".cpp");
  size_t begin = text.find("::tick(){\n");
  size_t end = text.find("} // tick()");
  return begin == std::string::npos ? std::string() : text.substr(begin + 10, end - begin - 10);
}

TEST(Compiler, OrdersBlocksAsTheReverseWalkPlacesThem) {
  struct row {
    const char* what;
    std::vector<std::string> nodes;
    const char* order;
  };
  const row rows[] = {
      {"data flow against name order: one pass", {expr("a", "x", "{" + in("x", "b") + "}"), expr("b", "x", "{" + in("x", "c") + "}"), expr("c", "1")}, "c b a"},
      {"data flow in name order: a pass each", {expr("a", "1"), expr("b", "x", "{" + in("x", "a") + "}"), expr("c", "x", "{" + in("x", "b") + "}")}, "a b c"},
      {"independent blocks: later names first", {expr("a", "1"), expr("b", "2"), expr("c", "3")}, "c b a"},
      {"a delay breaks the cycle and goes first", {expr("a", "x", "{" + in("x", "b") + "}"), base("b", "delay", "{" + in("in", "a") + "}")}, "b a"},
      {"mixed passes", {expr("a", "x", "{" + in("x", "d") + "}"), expr("b", "1"), expr("c", "x+y", "{" + in("x", "a") + "," + in("y", "b") + "}"), expr("d", "2")}, "d b a c"},
  };
  for (const row& r : rows) {
    fixture f;
    f.compile(model(r.nodes));
    EXPECT_FALSE(f.c.error) << r.what;
    EXPECT_EQ(placed_order(f), r.order) << r.what;
  }
}

TEST(Compiler, ALoopIsReportedWithItsBlocksAndStopsTheCompile) {
  fixture f;
  f.compile(model({expr("a", "x", "{" + in("x", "b") + "}"), expr("b", "x", "{" + in("x", "a") + "}"), expr("c", "1")}));
  EXPECT_TRUE(f.c.error);
  EXPECT_EQ(f.err.lines, std::vector<std::string>{"There is a Loop. Use a delay-node to resolve it. Nodes in Loop:"});
  EXPECT_EQ(f.info.lines, (std::vector<std::string>{"a", "b"}));
  ASSERT_GE(f.messages.size(), 2u);
  EXPECT_EQ(f.messages[f.messages.size() - 2], R"({"cmd":"set_text_left","name":"a","text":"Loop"})");
  EXPECT_EQ(f.messages.back(), R"({"cmd":"set_text_left","name":"b","text":"Loop"})");
  EXPECT_TRUE(f.c.files.empty());
}

TEST(Compiler, SourcesOutsideTheRasterNeverHoldABlockBack) {
  fixture f;
  // b reads a (a later raster) through a rate transition and a parameter: both are free.
  f.compile(model({expr("a", "1", "{}", ",\"raster\":\"r1s\""), base("k", "parameter"),
                   base("t", "rt", "{" + in("in", "a") + "}"),
                   expr("b", "x+y", "{" + in("x", "t") + "," + in("y", "k", "value") + "}", ",\"raster\":\"r10ms\"")}));
  ASSERT_FALSE(f.c.error);
  EXPECT_EQ(f.c.raster_names, (std::vector<std::string>{"r10ms", "r1s"}));
  EXPECT_EQ(tick_body(f, "r10ms"), "  b__x = shared.t__rt.get();\n  b__y = parameter.k.get();\n  b__out = b__x+b__y;\n");
  EXPECT_EQ(tick_body(f, "r1s"), "  a__out = 1;\n  shared.t__rt.set(a__out);\n");
}

TEST(Compiler, NodeErrorsAreReportedButRastersStillResolve) {
  fixture f;
  f.compile(model({node("c", "class", R"({"class":"Missing","prj":"prj"})"), expr("e", "1")}));
  EXPECT_TRUE(f.c.error);
  EXPECT_EQ(f.err.lines.at(0), "Node c has an error: Node not found. Class name: 'Missing' prj: 'prj'");
  EXPECT_EQ(f.messages, (std::vector<std::string>{R"({"cmd":"mdl_error","node":"c"})",
                                                  R"({"cmd":"set_text_right","name":"c","text":"10ms"})",
                                                  R"({"cmd":"set_text_right","name":"e","text":"10ms"})"}));
  EXPECT_TRUE(f.c.files.empty());
}

TEST(Compiler, MissingBlocksAndPinsAreWarnedAboutAndDropped) {
  fixture f;
  // f reads a missing output of src through an "output" block.
  f.compile(model({expr("src", "1"), expr("d", "x", "{" + in("x", "gone") + "}"),
                   expr("e", "x", "{" + in("x", "src", "nope") + "," + in("y", "src") + "}"),
                   base("o", "output", "{" + in("in", "src", "typo") + "}"), expr("f", "x", "{" + in("x", "o") + "}")}));
  EXPECT_FALSE(f.c.error);
  EXPECT_EQ(f.warn.lines,
            (std::vector<std::string>{"Couldn't find Node with id 'gone'. Node 'd' wants to connect a pin. Connection is ignored...",
                                      "Output or inputpin not found: src.nope -> e.x; Connection ignored...",
                                      "Output or inputpin not found: src.out -> e.y; Connection ignored...",
                                      "Output or inputpin not found: src.typo -> f.x; Connection ignored..."}));
  for (const char* name : {"d", "e", "f"}) EXPECT_TRUE(f.c.nodes[name]->inputs.empty()) << name;
  ASSERT_EQ(f.c.nodes["src"]->output_pins.size(), 1u);
  EXPECT_EQ(f.c.nodes["src"]->output_pins[0].key, "out");
}

TEST(Compiler, ConsumersFollowReaderNameThenPinOrder) {
  fixture f;
  f.compile(model({expr("src", "1"), expr("b", "x+y", "{" + in("y", "src") + "," + in("x", "src") + "}"), expr("a", "x", "{" + in("x", "src") + "}")}));
  std::string got;
  for (auto& c : f.c.nodes["src"]->output_pins["out"].consumers) got += c.node + "." + c.pin + " ";
  EXPECT_EQ(got, "a.x b.x b.y ");
}

// A block of many pins, every one connected and given a default value, compiles with each
// connection linked and bound; a connection to a pin it lacks and a default value of one
// are still reported, once each, and the dropped connection is no reader of its source.
TEST(Compiler, ABlockOfManyPinsCompilesWithEachLinked) {
  fixture f;
  const size_t n = 5000;
  std::string names, inputs, defaults;
  for (size_t i = 0; i < n; ++i) {
    const std::string pin = "x" + std::to_string(i);
    names += (i ? "," : "") + pin;
    inputs += in(pin, "src") + ",";
    defaults += "\"" + pin + "\":\"1\",";
  }
  f.compile(model({expr("src", "1"), node("g", "function", "{\"function\":\"sum\",\"inputs\":\"" + names + "\"}",
                                         "{" + inputs + in("y", "src") + "}",
                                         ",\"default_values\":{" + defaults + "\"z\":\"2\"}")}));
  EXPECT_FALSE(f.c.error);
  ASSERT_EQ(f.c.nodes["src"]->output_pins["out"].consumers.size(), n);
  EXPECT_EQ(f.c.nodes["src"]->output_pins["out"].consumers[n - 1].pin, "x999");  // pin name order
  EXPECT_EQ(f.c.nodes["g"]->inputs.size(), n);
  for (const auto& pin : f.c.nodes["g"]->input_pins) ASSERT_EQ(pin.value.attachment, f.c.nodes["src"]) << pin.key;
  ASSERT_EQ(f.warn.lines.size(), 2u);
  EXPECT_EQ(f.warn.lines[0].rfind("Default value \"2\" of input \"z\" is ignored: the block has no such input; its "
                                  "inputs are x0, x1, x2,",
                                  0),
            0u);
  EXPECT_EQ(f.warn.lines[1], "Output or inputpin not found: src.out -> g.y; Connection ignored...");
}

TEST(Compiler, EmptyModelStillWritesTheModelFiles) {
  fixture f;
  f.compile("{}");
  EXPECT_FALSE(f.c.error);
  EXPECT_TRUE(f.c.raster_names.empty());
  EXPECT_EQ(f.c.compile_info.dump(),
            R"({"libs":[],"headers":["model/model.h","model/parameters_and_shared_data.h"],"sources":["model/model.cpp"]})");
  const std::string h = f.file("model.h");
  EXPECT_NE(h.find("  vesk::rt::raster* raster_array[0] = {  };\n"), std::string::npos) << h;
  EXPECT_NE(h.find("  vesk::rt::signal_exporter signal_array[0] = {\n    \n  };\n"), std::string::npos) << h;
  EXPECT_NE(f.file("model.cpp").find("model::model()\n  \n{\n};\n"), std::string::npos) << f.file("model.cpp");
  ASSERT_FALSE(f.debug.lines.empty());
  EXPECT_EQ(f.debug.lines.back().rfind("finished: ", 0), 0u);
}

TEST(Compiler, FindRasterIndexNamesAMissingRaster) {
  fixture f;
  f.c.raster_names = {"r10ms", "r1s"};
  EXPECT_EQ(f.c.find_raster_index("r1s"), 1u);
  expect_throw_what<std::runtime_error>([&] { f.c.find_raster_index("r5ms"); }, "Raster with name r5ms not found");
}

}  // namespace
