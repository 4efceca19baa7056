// Whole models compiled by the compiler, built with the real g++ against the runtime
// library stand-in and run through a small driver: the values must be the computed ones.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "annotations/scanner.h"
#include "compiler/compiler_test_util.h"

using namespace compiler_test;

namespace {

/// Output lines of the driver grouped per round: round -> name -> value text.
std::vector<std::map<std::string, std::string>> rounds(const std::string& out) {
  std::vector<std::map<std::string, std::string>> r(1);
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line == "--") {
      r.emplace_back();
      continue;
    }
    size_t eq = line.find('=');
    if (eq != std::string::npos) r.back()[line.substr(0, eq)] = line.substr(eq + 1);
  }
  r.pop_back();
  return r;
}

const char* const integrator_h = R"(#pragma once
//@node: auto
class integrator {
 public:
  double in_x = 0;
  double out_y = 0;
  double param_gain = 1;
  void tick() { out_y += param_gain * in_x; }
};
)";

TEST(CompileRun, EveryMainBlockTypeComputesItsValues) {
  if (!have_gxx()) GTEST_SKIP() << "g++ not found";
  fixture f;
  const std::string header = f.put("prj/nodes/integrator.h", integrator_h);
  for (auto& b : vesk::annotations::parse_file(header, "prj")) {
    b->header = header;
    if (auto c = std::dynamic_pointer_cast<vesk::annotations::block_class>(b)) f.blocks.classes.push_back(*c);
  }
  ASSERT_EQ(f.blocks.classes.size(), 1u);

  const std::string sub_nodes = base("u", "input") + "," + expr("m", "v*10", "{" + in("v", "u") + "}") + "," +
                                base("y", "output", "{" + in("in", "m") + "}");
  f.compile(model({
      base("k", "parameter", "{}", ",\"default\":\"2\""),
      // A counter: cnt = previous cnt + k, starting from the delay's start value 1.
      expr("cnt", "x+k", "{" + in("x", "dly") + "," + in("k", "k", "value") + "}", ",\"raster\":\"r10ms\""),
      base("dly", "delay", "{" + in("in", "cnt") + "}", ",\"start_value\":\"1\""),
      base("sub", "subsystem", "{" + in("u", "cnt") + "}", ",\"nodes\":[" + sub_nodes + "]"),
      node("integ", "class", R"({"class":"integrator","prj":"prj","gain":"0.5"})", "{" + in("x", "sub", "y") + "}"),
      node("sm", "state_machine", R"({"vars":"int out_count = 0;","states":[{"name":"init","tick":"out_count++;"}]})"),
      base("t", "rt", "{" + in("in", "cnt") + "}"),
      expr("slow", "v", "{" + in("v", "t") + "}", ",\"raster\":\"r50ms\""),
  }));
  ASSERT_FALSE(f.c.error) << ::testing::PrintToString(f.err.lines);
  EXPECT_EQ(f.c.raster_names, (std::vector<std::string>{"r10ms", "r50ms"}));

  auto r = rounds(build_and_run(f, 3));
  ASSERT_EQ(r.size(), 4u);
  // Round 0 is after init_tick: nothing computed yet, the delay holds its start value.
  EXPECT_EQ(r[0]["cnt.out"], "0");
  struct row {
    const char *dly, *cnt, *sub, *integ, *sm;
  };
  const row want[] = {{"1", "3", "30", "15", "1"},  // integ.y sums 0.5 * sub.y
                      {"3", "5", "50", "40", "2"},
                      {"5", "7", "70", "75", "3"}};
  for (int i = 1; i <= 3; ++i) {
    const row& w = want[i - 1];
    EXPECT_EQ(r[i]["dly.out"], w.dly) << i;
    EXPECT_EQ(r[i]["cnt.out"], w.cnt) << i;
    EXPECT_EQ(r[i]["sub.y"], w.sub) << i;
    EXPECT_EQ(r[i]["integ.y"], w.integ) << i;
    EXPECT_EQ(r[i]["sm.count"], w.sm) << i;
  }
  // The slow raster runs after the fast one in each round and sees its last value.
  EXPECT_EQ(r[3]["slow.out"], "7");
}

TEST(CompileRun, TypedParametersAreReadThroughTheirGetter) {
  if (!have_gxx()) GTEST_SKIP() << "g++ not found";
  fixture f;
  f.compile(model({base("k", "parameter", "{}", ",\"default\":\"1.5\",\"data_type\":\"float\""),
                   expr("e", "p*2", "{" + in("p", "k", "value") + "}")}));
  ASSERT_FALSE(f.c.error);
  std::string out = build_and_run(f, 1);
  EXPECT_NE(out.find("e.out=3\n"), std::string::npos) << out;
  EXPECT_NE(f.file("model.h").find("{ \"k\", &parameter.k}"), std::string::npos);
}

}  // namespace
