#include "foundation/json_reader.h"

#include <gtest/gtest.h>

#include "foundation/json_link.h"
#include "foundation/log_capture.h"
#include "foundation/log_place.h"

using vesk::json;

namespace {

struct block_record : json_link {
  std::string name;
  double k = 0;
  bool off = false;
  void get_links(std::vector<json_link_element>& links) override {
    links.emplace_back("name", name);
    links.emplace_back("k", k);
    links.emplace_back("off", off);
  }
};

// Each row: an object read as a block_record, then the lines the reading writes in one
// place: errors ("e: ") first, then warnings ("w: ").
TEST(JsonReader, WhatIsNotReadAsWrittenIsNamedInItsPlace) {
  const std::string in = " in block 'b' of model file m.vmdl ";
  const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
      {R"({"name":"a","k":0.123456789,"off":true})", {}},
      {R"({"name":"a","nmae":"b"})", {"w: Key \"nmae\"" + in + "is ignored: a block reads name, k, off"}},
      {R"({"k":0.2,"k":0.7,"k":0.9})",
       {"w: Key \"k\"" + in + "is given more than once: the first value 0.2 counts, 0.7 is ignored",
        "w: Key \"k\"" + in + "is given more than once: the first value 0.2 counts, 0.9 is ignored"}},
      {R"({"name":5,"off":"yes"})",
       {"e: Value 5 of key \"name\"" + in + "is a number, expected a text",
        "e: Value \"yes\" of key \"off\"" + in + "is a text, expected a bool or a number"}},
      {R"(["name"])", {"e: Value [\"name\"]" + in + "is an array, expected an object"}},
      {R"({"x":1,"x":2})", {"w: Key \"x\"" + in + "is ignored: a block reads name, k, off"}},
  };
  for (const auto& [text, want] : rows) {
    SCOPED_TRACE(text);
    std::vector<std::string> lines;
    log_capture warn(log_warn), err(log_err);
    json source = json::parse(text);
    vesk::json_reader reader(source);
    block_record r;
    r.from_json(source, reader);
    reader.finish([] { return "a block reads name, k, off"; });
    {
      vesk::log_place place("block 'b' of model file m.vmdl");
      vesk::write_findings(reader.findings);
    }
    for (const auto& l : err.lines) lines.push_back("e: " + l);
    for (const auto& l : warn.lines) lines.push_back("w: " + l);
    EXPECT_EQ(want, lines);
    EXPECT_EQ(!want.empty() && want[0][0] == 'e', reader.failed());
  }
}

// A place is added once, where a line does not name it already, and the innermost counts.
TEST(JsonReader, PlacesAreAddedOnceAndNest) {
  log_capture err(log_err);
  {
    vesk::log_place file("model file m.vmdl");
    log_err << "Unknown raster 'fast'" << std::endl;
    {
      vesk::log_place block("block 'smooth' of model file m.vmdl");
      log_err << "Unknown raster 'slow'" << std::endl;
      log_err << "Bad pin in block 'smooth' of model file m.vmdl here" << std::endl;
    }
    const std::string source = "nodes/a.h";
    const unsigned long line_nr = 12;
    vesk::log_place line(source, line_nr);
    log_err << "Parameter 'tpye' not found" << std::endl;
    log_err << "nodes/a.h:9 already placed" << std::endl;
  }
  log_err << "no place" << std::endl;
  const std::vector<std::string> want = {"Unknown raster 'fast' in model file m.vmdl",
                                         "Unknown raster 'slow' in block 'smooth' of model file m.vmdl",
                                         "Bad pin in block 'smooth' of model file m.vmdl here",
                                         "nodes/a.h:12 Parameter 'tpye' not found",
                                         "nodes/a.h:9 already placed",
                                         "no place"};
  EXPECT_EQ(want, err.lines);
}

}  // namespace
