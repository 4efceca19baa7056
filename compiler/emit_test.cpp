#include <gtest/gtest.h>

#include "compiler/compiler_test_util.h"
#include "foundation/bt_exception.h"

using namespace compiler_test;

namespace {

std::string section(const std::string& text, const std::string& from, const std::string& to) {
  size_t b = text.find(from);
  if (b == std::string::npos) return "<no " + from + ">";
  size_t e = text.find(to, b);
  return text.substr(b, e == std::string::npos ? std::string::npos : e + to.size() - b);
}

TEST(Emit, ParametersHeaderHoldsSharedDataAndParameters) {
  fixture f;
  f.compile(model({expr("a", "1"), base("r1", "rt", "{" + in("in", "a") + "}"), base("k", "parameter", "{}", ",\"default\":\"1.5\""),
                   base("q", "rt", "{}", ",\"behavior\":\"fifo\",\"data_type\":\"std::vector<int>\""), base("ff", "fifo")}));
  ASSERT_FALSE(f.c.error);
  EXPECT_EQ(f.file("parameters_and_shared_data.h"),
            "#ifndef VESK_CODE_GEN_PARAM_AND_SHARED_H_\n"
            "#define VESK_CODE_GEN_PARAM_AND_SHARED_H_ VESK_CODE_GEN_PARAM_AND_SHARED_H_\n"
            "\n"
            "#include <cstdint>\n#include <cmath>\n#include <string>\n#include <vesk/rt/shared_data.h>\n"
            "#include <vesk/rt/model.h>\n#include <vesk/rt/raster.h>\n#include <vesk/serialize.h>\n"
            "\n"
            "\n"
            "struct shared_data{\n"
            "  vesk::shared_data<std::vector<int>> q__rt;\n"
            "  vesk::shared_data<double> r1__rt = { 0 };\n"
            "}; // shared_data\n"
            "\n"
            "struct parameter_data{\n"
            "  vesk::rt::parameter<double> k = {1.5};\n"
            "}; // parameter_data\n"
            "\n"
            "#endif // VESK_CODE_GEN_PARAM_AND_SHARED_H_\n");
}

TEST(Emit, HeadersInsideTheWorkspaceAreIncludedThroughWs) {
  fixture f;
  const std::string ws = f.workspace;
  f.compile("{\"nodes\":[" + base("a", "parameter", "{}", ",\"type_header\":\"" + ws + "/prj/nodes/pid.h\"") + "," +
            base("b", "parameter", "{}", ",\"type_header\":\"/usr/include/x.h\"") + "," +
            base("c", "parameter", "{}", ",\"type_header\":\"" + ws + "2/sibling.h\"") + "," +
            base("d", "parameter", "{}", ",\"type_header\":\"" + ws + "/prj/nodes/pid.h\"") + "," +
            base("e", "parameter", "{}", ",\"type_header\":\"" + ws + "/h\"") +
            "],\"types\":[{\"header\":\"  my/types.h\\t\"},{\"header\":null},{}]}");
  ASSERT_FALSE(f.c.error);
  const std::string h = f.file("parameters_and_shared_data.h");
  // Sorted by the text as given; a sibling folder whose name starts like the workspace is outside.
  EXPECT_NE(h.find("#include \"../ws/h\"\n#include \"../ws/prj/nodes/pid.h\"\n#include <" + ws +
                   "2/sibling.h>\n#include </usr/include/x.h>\n#include <my/types.h>\n\n"),
            std::string::npos)
      << h;
  EXPECT_EQ(f.c.compile_info["headers"].dump(),
            "[\"ws/h\",\"ws/prj/nodes/pid.h\",\"" + ws +
                "2/sibling.h\",\"/usr/include/x.h\",\"my/types.h\",\"model/model.h\","
                "\"model/parameters_and_shared_data.h\",\"model/r10ms.h\"]");
}

TEST(Emit, StringSharedDataMustNotStartFromZero) {
  fixture f;
  expect_throw_what<vesk::util::bt_exception>(
      [&] { f.compile(model({base("s", "rt", "{}", ",\"data_type\":\" std::string\",\"start_value\":\"0 \"")})); },
      "[s]: initalizing std::string with 0 leads to segmentation fault. You may want to change the start_value to \"\".");
  fixture g;
  g.compile(model({base("s", "rt", "{}", ",\"data_type\":\"std::string\",\"start_value\":\"\\\"\\\"\"")}));
  EXPECT_NE(g.file("parameters_and_shared_data.h").find("vesk::shared_data<std::string> s__rt = { \"\" };"), std::string::npos);
}

TEST(Emit, ModelHeaderListsRastersSignalsAndParameters) {
  fixture f;
  f.compile(model({expr("a", "1", "{}", ",\"raster\":\"r10ms\",\"cfg\":{\"function\":\"1\"}"), expr("b", "2", "{}", ",\"raster\":\"r1s\"")}));
  ASSERT_FALSE(f.c.error);
  EXPECT_EQ(section(f.file("model.h"), "#include \"r10ms.h\"", "#endif // VESK_CODE_GEN_MODEL_H_\n"),
            "#include \"r10ms.h\"\n#include \"r1s.h\"\n\n"
            "class  model: public vesk::rt::model{\n"
            "  public:\n  \n  \n  \n"
            "  shared_data shared;\n  parameter_data parameter;\n"
            "  r10ms instance_r10ms;\n  r1s instance_r1s;\n"
            "  vesk::rt::raster* raster_array[2] = { &instance_r10ms, &instance_r1s };\n  \n"
            "  vesk::rt::signal_exporter signal_array[2] = {\n"
            "    { \"a.out\", instance_r10ms.a__out, 0 },\n"
            "    { \"b.out\", instance_r1s.b__out, 1 }\n"
            "  };\n  \n"
            "  vesk::rt::parameter_list_element parameter_array[0] = {\n    \n  };\n  \n"
            "  model();\n"
            "}; // class model\n\n#endif // VESK_CODE_GEN_MODEL_H_\n");
  EXPECT_EQ(f.file("model.cpp"),
            "#include \"model.h\"\n\n"
            "model::model():\n  instance_r10ms(shared, parameter),\n  instance_r1s(shared, parameter)\n"
            "{\n  rasters    = { raster_array };\n  signals    = { signal_array };\n};\n\n"
            "// global getter (see: shared/vesk/model.h)\n"
            "vesk::rt::model* vesk::rt::get_model(){\n  static ::model m;\n  return &m;\n}\n");
}

TEST(Emit, RasterClassDeclaresMembersAndWritesTheBodies) {
  fixture f;
  f.compile(model({expr("b", "x+y", "{" + in("x", "d") + "}", ",\"default_values\":{\"y\":\"3\",\"x\":\"9\"}"),
                   base("d", "delay", "{" + in("in", "b") + "}", ",\"start_value\":\"1\""),
                   expr("u", "z", "{}", ",\"default_values\":{\"z\":\"\"}")}));
  ASSERT_FALSE(f.c.error);
  EXPECT_EQ(f.file("r10ms.h"),
            "#ifndef VESK_CODE_GEN_R10MS_H_\n#define VESK_CODE_GEN_R10MS_H_ VESK_CODE_GEN_R10MS_H_\n\n"
            "#include \"./parameters_and_shared_data.h\"\n\n"
            "class r10ms: public vesk::rt::raster {\npublic:\n  \n"
            "  shared_data& shared;\n  parameter_data& parameter;\n  \n"
            // An "auto" input takes its source's type; an unconnected one without default is a double.
            "  double u__z = {};\n  decltype(u__z) u__out;\n"
            "  double d__mem = {1};\n  double d__out;\n"
            "  double b__x = {9};\n  decltype(3) b__y = 3;\n  decltype(b__x+b__y) b__out;\n  \n"
            "  virtual void init_tick();\n  virtual void tick();\n  virtual void final();\n  \n"
            "  r10ms(shared_data& s, parameter_data& p);\n}; // class r10ms\n#endif // VESK_CODE_GEN_R10MS_H_\n");
  // The delay's start value survives init_tick: nothing computed b there.
  EXPECT_EQ(section(f.file("r10ms.cpp"), "r10ms::r10ms", "} // final()\n\n"),
            "r10ms::r10ms(shared_data& s, parameter_data& p):shared(s), parameter(p){\n"
            "  name = \"r10ms\";\n  interval = vesk::time::ns(10000000ULL);\n  is_sync = true;\n};\n\n"
            "void r10ms::init_tick(){\n"
            "  d__mem = 1;\n"
            "  b__x = d__out; //  d.out\n"
            "  b__y = 3;\n"
            "} // init_tick()\n\n"
            "void r10ms::tick(){\n"
            "  u__out = u__z;\n"
            "  d__out = d__mem;\n"
            "  b__x = d__out; //  d.out\n"
            "  b__out = b__x+b__y;\n"
            "  d__mem = b__out; //  b.out\n"
            "} // tick() \n\n"
            "void r10ms::final(){\n} // final()\n\n");
}

TEST(Emit, RateTransitionsAreReadAndWrittenByBehavior) {
  fixture f;
  f.compile(model({expr("a", "1", "{}", ",\"raster\":\"r1ms\""),
                   base("f", "rt", "{" + in("in", "a") + "}", ",\"behavior\":\"fifo\",\"data_type\":\"std::vector<double>\""),
                   base("s", "rt", "{" + in("in", "a") + "}", ",\"behavior\":\"add\",\"start_value\":\"5\""),
                   expr("x", "v.size()+w", "{" + in("v", "f") + "," + in("w", "s") + "}", ",\"raster\":\"r2ms\"")}));
  ASSERT_FALSE(f.c.error);
  EXPECT_EQ(section(f.file("r1ms.cpp"), "void r1ms::tick(){", "} // tick() "),
            "void r1ms::tick(){\n  a__out = 1;\n"
            "  shared.f__rt.lock.lock();\n  shared.f__rt.data.push_back( a__out );\n  shared.f__rt.lock.unlock();\n"
            "  shared.s__rt.lock.lock();\n  shared.s__rt.data += a__out;\n  shared.s__rt.lock.unlock();\n"
            "} // tick() ");
  EXPECT_EQ(section(f.file("r2ms.cpp"), "void r2ms::tick(){", "} // tick() "),
            "void r2ms::tick(){\n"
            "  shared.f__rt.lock.lock();\n  x__v = shared.f__rt.data;\n  shared.f__rt.data.clear();\n  shared.f__rt.lock.unlock();\n"
            "  shared.s__rt.lock.lock();\n  x__w = shared.s__rt.data;\n  shared.s__rt.data = { 5 };\n  shared.s__rt.lock.unlock();\n"
            "  x__out = x__v.size()+x__w;\n"
            "} // tick() ");
  // Nothing is computed before the first tick, so init_tick writes nothing into them.
  EXPECT_EQ(section(f.file("r1ms.cpp"), "void r1ms::init_tick(){", "} // init_tick()"), "void r1ms::init_tick(){\n} // init_tick()");
}

TEST(Emit, GeneratedFilesAreListedInTheCompileInformation) {
  fixture f;
  f.compile(model({node("m", "state_machine", R"({"states":[{"name":"init"}]})"), expr("a", "1", "{}", ",\"raster\":\"r1s\"")}));
  ASSERT_FALSE(f.c.error) << (f.err.lines.empty() ? "" : f.err.lines[0]);
  std::string sources = f.c.compile_info["sources"].dump();
  EXPECT_NE(sources.find("\"model/sm_m.cpp\""), std::string::npos) << sources;
  EXPECT_NE(sources.find("\"model/r1s.cpp\""), std::string::npos) << sources;
}

}  // namespace
