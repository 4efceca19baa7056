#include "compiler/rasters.h"

#include <gtest/gtest.h>

#include "compiler/compiler_test_util.h"
#include "foundation/bt_exception.h"

using namespace compiler_test;

namespace {

TEST(Rasters, IntervalsAreReadAndNamedCanonically) {
  struct row {
    const char* text;
    uint64_t ns;
    const char* name;
  };
  const row rows[] = {
      {"r10ms", 10000000, "r10ms"},      {"10ms", 10000000, "r10ms"},   {"rr10ms", 10000000, "r10ms"},
      {"r1000ms", 1000000000, "r1s"},    {"r1500ms", 1500000000, "r1500ms"},
      {"r90s", 90000000000, "r90s"},     {"r120s", 120000000000, "r2m"}, {"r7200s", 7200000000000, "r2h"},
      {"r1001us", 1001000, "r1001us"},   {"r10min", 600000000000, "r10m"}, {"r7ns", 7, "r7ns"},
      {"r0ms", 0, ""},  {"rfoo", 0, ""},  {"x10ms", 0, ""},  {"a_src", 0, ""},  {"", 0, ""},  {"r", 0, ""},
      {"r10", 0, ""},
      // Beyond 64 bits: no interval rather than a wrapped one.
      {"r18446744073709551615ns", 18446744073709551615ULL, "r18446744073709551615ns"},
      {"r18446744073709551616ns", 0, ""},
      {"r18446744073709552ms", 0, ""},
      {"r99999999999999999999999h", 0, ""},
  };
  for (const row& r : rows) {
    EXPECT_EQ(vesk::parse_interval(r.text), r.ns) << r.text;
    if (r.ns != 0) {
      EXPECT_EQ(vesk::raster_name(r.ns), r.name) << r.text;
    }
  }
}

TEST(Rasters, UnknownRastersAreReportedAndReplacedByTheDefault) {
  fixture f;
  f.compile(model({expr("a", "1", "{}", ",\"raster\":\"rfoo\""), expr("s", "1", "{}", ",\"raster\":\"source\""),
                   expr("z", "1", "{}", ",\"raster\":\"r18446744073709551616ns\"")}));
  EXPECT_TRUE(f.c.error);
  // An expression has no object whose poll() could run a raster of its own.
  EXPECT_EQ(f.err.lines, (std::vector<std::string>{"Unknown raster 'rfoo' for block a",
                                                   "Raster 'source' for block s needs a block object with a poll(), "
                                                   "which a \"expression\" block has not",
                                                   "Unknown raster 'r18446744073709551616ns' for block z"}));
  EXPECT_EQ(f.messages, (std::vector<std::string>{R"({"cmd":"mdl_error","node":"a"})",
                                                  R"({"cmd":"mdl_error","node":"s"})",
                                                  R"({"cmd":"mdl_error","node":"z"})",
                                                  R"({"cmd":"set_text_right","name":"a","text":"10ms"})",
                                                  R"({"cmd":"set_text_right","name":"s","text":"a_s"})",
                                                  R"({"cmd":"set_text_right","name":"z","text":"10ms"})"}));
  EXPECT_TRUE(f.c.nodes["s"]->raster_source);
}

TEST(Rasters, AutoIsInheritedAlongAndAgainstTheDataFlow) {
  fixture f;
  f.compile(model({expr("a", "1", "{}", ",\"raster\":\"5ms\""), expr("b", "x", "{" + in("x", "a") + "}"),
                   expr("c", "x", "{" + in("x", "b") + "}"), expr("d", "1"), expr("e", "x", "{" + in("x", "d") + "}", ",\"raster\":\"r1s\""),
                   expr("p", "1"), expr("q", "x", "{" + in("x", "p") + "}")}));
  EXPECT_FALSE(f.c.error);
  std::string got;
  for (auto& [name, n] : f.c.nodes) got += name + "=" + n->raster + " ";
  EXPECT_EQ(got, "a=r5ms b=r5ms c=r5ms d=r1s e=r1s p=r10ms q=r10ms ");
}

TEST(Rasters, CrossRasterConnectionsAreFaultsUnlessThroughARateTransition) {
  fixture f;
  f.compile(model({expr("a", "1", "{}", ",\"raster\":\"r1ms\""), expr("b", "x", "{" + in("x", "a") + "}", ",\"raster\":\"r2ms\"")}));
  EXPECT_TRUE(f.c.error);
  EXPECT_EQ(f.err.lines, (std::vector<std::string>{
                             "found node with error",
                             "The nodes with the name a and b are connected, but they run in different rasters. Use a "
                             "rt-node (rate_transition) to solve this problem."}));
  EXPECT_EQ(f.messages.back(), R"({"cmd":"mdl_error","node":"b","input_pin":"x"})");

  fixture g;
  g.compile(model({expr("a", "1", "{}", ",\"raster\":\"r1ms\""), base("t", "rt", "{" + in("in", "a") + "}"),
                   expr("b", "x", "{" + in("x", "t") + "}", ",\"raster\":\"r2ms\"")}));
  EXPECT_FALSE(g.c.error);
}

TEST(Rasters, ResettingTransitionsAcceptOneReaderOnly) {
  for (const char* behavior : {"fifo", "add"}) {
    fixture f;
    const std::string cfg = std::string(",\"behavior\":\"") + behavior + "\",\"data_type\":\"std::vector<double>\"";
    try {
      f.compile(model({expr("a", "1", "{}", ",\"raster\":\"r1ms\""), base("t", "rt", "{" + in("in", "a") + "}", cfg),
                       expr("b", "x", "{" + in("x", "t") + "}", ",\"raster\":\"r2ms\""),
                       expr("c", "x", "{" + in("x", "t") + "}", ",\"raster\":\"r2ms\"")}));
      ADD_FAILURE() << behavior << ": no exception";
    } catch (const vesk::util::bt_exception& e) {
      EXPECT_EQ(std::string(e.what()), std::string("[t]: rate transitions of type '") + behavior +
                                           "' can only be connected once because of its reset behavior. You can use "
                                           "an expression to copy its output.");
    }
  }
}

TEST(Rasters, ParametersAndMembersGetTheirVariables) {
  fixture f;
  f.compile(model({base("ctrl__gain", "parameter"), base("d", "delay", "{" + in("in", "ctrl__gain", "value") + "}")}));
  EXPECT_EQ(f.c.parameter_entries, std::vector<std::string>{"{ \"ctrl.gain\", &parameter.ctrl__gain}"});
  EXPECT_EQ(f.c.nodes["ctrl__gain"]->output_pins["value"].mapped_name, "parameter.ctrl__gain");
  EXPECT_EQ(f.c.nodes["d"]->members["mem"].mapped_name, "d__mem");
  EXPECT_EQ(f.c.nodes["d"]->output_pins["out"].mapped_name, "d__out");
  EXPECT_EQ(f.c.nodes["d"]->member_copy.size(), 1u);
}

}  // namespace
