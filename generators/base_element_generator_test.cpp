#include "generators/base_element_generator.h"

#include <fstream>

#include "foundation/helpers.h"
#include "foundation/test_util.h"
#include "generators/generator_test_util.h"

using namespace gen_test;

static vesk::base_element_generator base_block(const std::string& cfg, const std::string& ws = "/no-ws") {
  vesk::base_element_generator g(ws);
  g.set_config(vesk::json::parse(cfg));
  return g;
}

// A subsystem of `n` inputs and `n` outputs, interleaved, the first input repeated last;
// and its view's pins.
static std::pair<std::string, std::string> many_ports(int n) {
  std::string nodes, ins, outs;
  for (int i = 0; i <= n; ++i) {
    const std::string k = std::to_string(i % n);
    nodes += (i ? "," : "") + std::string(R"({"type":"base","name":"i)") + k + R"(","cfg":{"node":"input"}})";
    if (i == n) break;
    nodes += R"(,{"type":"base","name":"o)" + k + R"(","cfg":{"node":"output"}})";
    ins += (i ? ",\"i" : "\"i") + k + R"(":{"type":"auto","default_value":""})";
    outs += (i ? ",\"o" : "\"o") + k + R"(":{"type":"auto","raster":"block"})";
  }
  return {R"({"node":"subsystem","nodes":[)" + nodes + "]}",
          R"({"default_name":"subsystem","inputs":{)" + ins + R"(},"outputs":{)" + outs + "}}"};
}

// The stored configuration shows the form's defaults in form order.
TEST(BaseElementGenerator, DefaultsAndViewPerKind) {
  const std::string in = R"("inputs":{"in":{"type":"auto","default_value":""}})";
  const std::string out = R"("outputs":{"out":{"type":"double","raster":"block"}})";
  const auto [many, many_view] = many_ports(3000);
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {R"({"node":"delay"})", R"({"node":"delay","data_type":"double","start_value":"0"})",
       R"({"default_name":"delay","raster":"auto",)" + in + "," + out + "}"},
      {R"({"node":"rt"})", R"({"node":"rt","data_type":"double","start_value":"0","type_header":"",)"
                           R"("behavior":"last"})", R"({"default_name":"rt",)" + in + "," + out + "}"},
      {R"({"node":"parameter","data_type":"int"})",
       R"({"node":"parameter","data_type":"int","default":"0","type_header":""})",
       R"({"default_name":"parameter","raster":"auto","outputs":{"value":{"type":"int","raster":"block"}}})"},
      {R"({"node":"input"})", nullptr,
       R"({"default_name":"in","raster":"auto","outputs":{"out":{"type":"auto","raster":"block"}}})"},
      {R"({"node":"output"})", nullptr, R"({"default_name":"out","raster":"auto",)" + in + "}"},
      {R"({"node":5})", nullptr, R"({"default_name":"no name","raster":"auto"})"},
      // Subsystem pins come from its inner base ports; other items are skipped.
      {R"({"node":"subsystem","nodes":[{"type":"base","name":"u","cfg":{"node":"input"}}, 7, "text", null,
          {"type":"base","name":"y","cfg":{"node":"output"}}, {"type":"function","name":"f","cfg":{"node":"input"}},
          {"type":"base","name":"u","cfg":{"node":"input"}}, {"type":"base","name":"z","cfg":"odd"}]})",
       nullptr, R"({"default_name":"subsystem","inputs":{"u":{"type":"auto","default_value":""}},)"
                R"("outputs":{"y":{"type":"auto","raster":"block"}}})"},
      // Many ports keep their order and names; a repeat stays where it first appeared.
      {many.c_str(), nullptr, many_view},
  };
  for (const auto& c : cases) {
    vesk::base_element_generator g = base_block(std::get<0>(c));
    // Without a form the configuration is stored unchanged.
    EXPECT_EQ(g.cfg.dump(), vesk::json::parse(std::get<1>(c) ? std::get<1>(c) : std::get<0>(c)).dump());
    EXPECT_EQ(view_json(g), std::get<2>(c)) << std::get<0>(c);
  }
  EXPECT_EQ(base_block(R"({"node":"rt"})").get_properties()[3].to_json().dump(),
            R"({"key":"behavior","default":"last","form":"select","form_opts":{"options":)"
            R"j({"last":"keep last value","fifo":"fifo: push_back() / clear()",)j"
            R"("add":"add: += / start_value"}},"lbl":"behavior","min":null,"max":null})");
}

TEST(BaseElementGenerator, DelayCodeMembersAndHeaders) {
  vesk::base_element_generator d = base_block(R"({"node":"delay","start_value":" 5 ","data_type":"float"})");
  d.set_mappings({{}, {{"mem", "d1"}}, {{"out", "y"}}});
  EXPECT_EQ(init_text(d) + tick_text(d), "d1 = 5;\ny = d1;\n");
  vesk::data_member m = d.get_view_config().members["mem"];  // the start value was trimmed in place
  EXPECT_EQ(m.type + "|" + m.name + "|" + m.init_value + "|" + m.mapped_name, "float|mem|5|");
  // Only a non-empty text start value is assigned.
  EXPECT_EQ(init_text(base_block(R"({"node":"delay","start_value":""})")), "");
  vesk::base_element_generator number = base_block(R"({"node":"delay","start_value":5})");
  EXPECT_EQ(init_text(number), "");
  EXPECT_EQ(number.get_view_config().members["mem"].init_value, "5.000000");
  vesk::base_element_generator rt = base_block(R"({"node":"rt","type_header":"  ","container_header":" b"})");
  vesk::data_member r = rt.get_view_config().members["rt"];
  EXPECT_EQ(r.type + "|" + r.init_value, "not needed|not needed");
  EXPECT_EQ(init_text(rt) + tick_text(rt), "");
  // The header is the trimmed type header, else the container header.
  EXPECT_EQ(rt.get_headers(), names{"b"});
  EXPECT_EQ(rt.cfg["type_header"].get_string(), "");
  EXPECT_EQ(base_block(R"({"node":"rt","type_header":" a.h ","container_header":"b"})").get_headers(), names{"a.h"});
}

TEST(BaseElementGenerator, ReferenceReadsPortsOfTheModelOrLogs) {
  log_capture cap(log_err);
  EXPECT_EQ(view_json(base_block(R"({"node":"reference","prj":"p","mdl":"m"})")), R"({"default_name":"m"})");
  EXPECT_EQ(cap.lines, names{"Unable to open referenced model: /no-ws/p/models/m.vmdl"});
  temp_dir ws;
  std::filesystem::create_directories(ws.path / "p" / "models");
  write_file((ws.path / "p/models/m.vmdl").string(), R"({"nodes":{"n1":{"type":"base","name":"a",)"
             R"("cfg":{"node":"input"}},"n2":{"type":"base","name":"b","cfg":{"node":"output"}}}})");
  write_file((ws.path / "p/models/arr.vmdl").string(), "[1,2]");
  EXPECT_EQ(view_json(base_block(R"({"node":"reference","prj":"p","mdl":"m"})", ws.path)),
            R"({"default_name":"m","inputs":{"a":{"type":"auto","default_value":""}},)"
            R"("outputs":{"b":{"type":"auto","raster":"block"}}})");
  EXPECT_EQ(view_json(base_block(R"({"node":"reference","prj":"p","mdl":"arr"})", ws.path)),
            R"({"default_name":"arr"})");
  // Read again when the file changed, also with another model read in between: other
  // bytes of the same size in the same file are read under the old modification time too
  // (its change time moved), and under a new one.
  const std::filesystem::path m = ws.path / "p/models/m.vmdl";
  const std::string ports = R"({"node":"reference","prj":"p","mdl":"m"})";
  view_json(base_block(ports, ws.path));
  view_json(base_block(R"({"node":"reference","prj":"p","mdl":"arr"})", ws.path));
  {
    vesk::model_read_budget unmoved(1 << 20);  // a file that did not change costs no reading
    view_json(base_block(ports, ws.path));
    EXPECT_EQ(unmoved.read, 0u);
  }
  const auto when = std::filesystem::last_write_time(m);
  std::string text = read_file(m.string());
  std::ofstream(m, std::ios::in | std::ios::out) << text.replace(text.find("\"a\""), 3, "\"d\"");
  std::filesystem::last_write_time(m, when);
  EXPECT_NE(view_json(base_block(ports, ws.path)).find("\"d\""), std::string::npos);
  std::ofstream(m, std::ios::in | std::ios::out) << text.replace(text.find("\"d\""), 3, "\"e\"");
  shift_write_time(m);
  EXPECT_NE(view_json(base_block(ports, ws.path)).find("\"e\""), std::string::npos);
  // A model past the bound is not read at all (a sparse file: nothing is written either).
  const std::filesystem::path big = ws.put("p/models/big.vmdl");
  std::filesystem::resize_file(big, max_project_file_bytes + 1);
  cap.lines.clear();
  EXPECT_EQ(view_json(base_block(R"({"node":"reference","prj":"p","mdl":"big"})", ws.path)),
            R"({"default_name":"big"})");
  EXPECT_EQ(cap.lines, names{"Unable to read file: " + big.string() + " (33554433 bytes, more than the limit of 33554432)"});
}
