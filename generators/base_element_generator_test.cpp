#include "generators/base_element_generator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/helpers.h"
#include "foundation/log_capture.h"
#include "generators/generator_test_util.h"

using gen_test::keys;
using gen_test::names;

namespace {

struct base_block {
  vesk::base_element_generator g{"/nonexistent-workspace"};
  explicit base_block(const std::string& json_text) { g.set_config(vesk::json::parse(json_text)); }
  std::string init() { return gen_test::init_text(g); }
  std::string tick() { return gen_test::tick_text(g); }
};

}  // namespace

TEST(BaseElementGenerator, DelayDefaultsViewAndCode) {
  base_block b(R"({"node":"delay"})");
  EXPECT_EQ(b.g.cfg.dump(), R"({"node":"delay","data_type":"double","start_value":"0"})");
  vesk::view_config v = b.g.get_view_config();
  EXPECT_EQ(v.default_name, "delay");
  EXPECT_EQ(v.raster, "auto");
  EXPECT_EQ(v.line_nr, 0);
  EXPECT_EQ(keys(v.inputs), names{"in"});
  EXPECT_EQ(keys(v.outputs), names{"out"});
  EXPECT_EQ(v.outputs.front().value.type, "double");
  ASSERT_EQ(keys(v.members), names{"mem"});
  const vesk::data_member& m = v.members.front().value;
  EXPECT_EQ(m.type, "double");
  EXPECT_EQ(m.name, "mem");
  EXPECT_EQ(m.init_value, "0");
  EXPECT_EQ(m.mapped_name, "");
  b.g.set_mappings({{}, {{"mem", "d1"}}, {{"out", "y"}}});
  EXPECT_EQ(b.init(), "d1 = 0;\n");
  EXPECT_EQ(b.tick(), "y = d1;\n");
}

TEST(BaseElementGenerator, DelayStartValue) {
  base_block b(R"({"node":"delay","start_value":" 5 ","data_type":"float"})");
  b.g.set_mappings({{}, {{"mem", "d1"}}, {}});
  EXPECT_EQ(b.init(), "d1 = 5;\n");
  EXPECT_EQ(b.g.cfg["start_value"].get_string(), "5");
  EXPECT_EQ(b.g.get_view_config().members.front().value.type, "float");
  base_block empty(R"({"node":"delay","start_value":""})");
  EXPECT_EQ(empty.init(), "");
  base_block number(R"({"node":"delay","start_value":5})");
  EXPECT_EQ(number.init(), "");
  EXPECT_EQ(number.g.get_view_config().members.front().value.init_value, "5.000000");
}

TEST(BaseElementGenerator, RateTransition) {
  base_block b(R"({"node":"rt"})");
  names props;
  for (auto& p : b.g.get_properties()) props.push_back(p.key);
  EXPECT_EQ(props, (names{"data_type", "start_value", "type_header", "behavior"}));
  EXPECT_EQ(b.g.get_properties()[3].to_json().dump(),
            R"({"key":"behavior","default":"last","form":"select","form_opts":{"options":)"
            R"j({"last":"keep last value","fifo":"fifo: push_back() / clear()",)j"
            R"("add":"add: += / start_value"}},"lbl":"behavior","min":null,"max":null})");
  vesk::view_config v = b.g.get_view_config();
  EXPECT_EQ(v.default_name, "rt");
  EXPECT_EQ(v.raster, "");
  EXPECT_EQ(keys(v.inputs), names{"in"});
  EXPECT_EQ(keys(v.outputs), names{"out"});
  ASSERT_EQ(keys(v.members), names{"rt"});
  EXPECT_EQ(v.members.front().value.type, "not needed");
  EXPECT_EQ(v.members.front().value.init_value, "not needed");
  EXPECT_EQ(b.init(), "");
  EXPECT_EQ(b.tick(), "");
}

TEST(BaseElementGenerator, PortsAndParameter) {
  base_block in(R"({"node":"input"})");
  EXPECT_TRUE(in.g.get_properties().empty());
  vesk::view_config vi = in.g.get_view_config();
  EXPECT_EQ(vi.default_name, "in");
  EXPECT_TRUE(vi.inputs.empty());
  EXPECT_EQ(keys(vi.outputs), names{"out"});
  EXPECT_EQ(vi.outputs.front().value.type, "auto");

  vesk::view_config vo = base_block(R"({"node":"output"})").g.get_view_config();
  EXPECT_EQ(vo.default_name, "out");
  EXPECT_EQ(keys(vo.inputs), names{"in"});
  EXPECT_TRUE(vo.outputs.empty());

  base_block p(R"({"node":"parameter","data_type":"int"})");
  EXPECT_EQ(p.g.cfg.dump(), R"({"node":"parameter","data_type":"int","default":"0","type_header":""})");
  vesk::view_config vp = p.g.get_view_config();
  EXPECT_EQ(vp.default_name, "parameter");
  EXPECT_EQ(keys(vp.outputs), names{"value"});
  EXPECT_EQ(vp.outputs.front().value.type, "int");
}

TEST(BaseElementGenerator, SubsystemPinsFromInnerPorts) {
  base_block b(R"({"node":"subsystem","nodes":[
      {"type":"base","name":"u","cfg":{"node":"input"}},
      {"type":"base","name":"y","cfg":{"node":"output"}},
      {"type":"function","name":"f","cfg":{"node":"input"}},
      {"type":"base","name":"u","cfg":{"node":"input"}},
      7, "text", null, {"type":"base","name":"z","cfg":"odd"}]})");
  vesk::view_config v = b.g.get_view_config();
  EXPECT_EQ(v.default_name, "subsystem");
  EXPECT_EQ(v.raster, "");
  EXPECT_EQ(keys(v.inputs), names{"u"});
  EXPECT_EQ(keys(v.outputs), names{"y"});
  EXPECT_EQ(v.outputs.front().value.type, "auto");
  EXPECT_EQ(v.outputs.front().value.raster, "block");
}

TEST(BaseElementGenerator, UnknownOrMissingKind) {
  base_block b(R"({})");
  EXPECT_TRUE(b.g.cfg["node"].is_null());
  vesk::view_config v = b.g.get_view_config();
  EXPECT_EQ(v.default_name, "no name");
  EXPECT_EQ(v.raster, "auto");
  EXPECT_TRUE(v.inputs.empty() && v.outputs.empty() && v.members.empty());
  EXPECT_EQ(base_block(R"({"node":5})").g.get_view_config().default_name, "no name");
}

TEST(BaseElementGenerator, Headers) {
  base_block both(R"({"node":"rt","type_header":" a.h ","container_header":"b.h"})");
  EXPECT_EQ(both.g.get_headers(), names{"a.h"});
  base_block blank(R"({"node":"rt","type_header":"  ","container_header":" b.h"})");
  EXPECT_EQ(blank.g.get_headers(), names{"b.h"});
  EXPECT_EQ(blank.g.cfg["type_header"].get_string(), "");
  EXPECT_TRUE(base_block(R"({"node":"input"})").g.get_headers().empty());
}

TEST(BaseElementGenerator, ReferenceToMissingModelIsLogged) {
  log_capture cap(log_err);
  base_block b(R"({"node":"reference","prj":"p","mdl":"m"})");
  vesk::view_config v = b.g.get_view_config();
  EXPECT_EQ(v.default_name, "m");
  EXPECT_EQ(v.raster, "");
  EXPECT_TRUE(v.inputs.empty() && v.outputs.empty());
  EXPECT_FALSE(v.error);
  ASSERT_EQ(cap.lines.size(), 1u);
  EXPECT_EQ(cap.lines[0], "Unable to open referenced model: /nonexistent-workspace/p/models/m.vmdl");
}

TEST(BaseElementGenerator, ReferenceReadsPortsOfTheModel) {
  namespace fs = std::filesystem;
  fs::path ws = fs::path(VESK_BINARY_DIR) / "generators_ref_ws";
  fs::create_directories(ws / "p" / "models");
  write_file((ws / "p" / "models" / "m.vmdl").string(),
             R"({"nodes":{"n1":{"type":"base","name":"a","cfg":{"node":"input"}},)"
             R"("n2":{"type":"base","name":"b","cfg":{"node":"output"}}}})");
  write_file((ws / "p" / "models" / "arr.vmdl").string(), "[1,2]");
  vesk::base_element_generator g(ws.string());
  g.set_config(vesk::json::parse(R"({"node":"reference","prj":"p","mdl":"m"})"));
  vesk::view_config v = g.get_view_config();
  EXPECT_EQ(keys(v.inputs), names{"a"});
  EXPECT_EQ(keys(v.outputs), names{"b"});
  g.set_config(vesk::json::parse(R"({"node":"reference","prj":"p","mdl":"arr"})"));
  EXPECT_TRUE(g.get_view_config().inputs.empty());
  fs::remove_all(ws);
}
