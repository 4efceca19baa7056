#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <random>

#include "foundation/bt_exception.h"
#include "foundation/json.h"
#include "foundation/log_capture.h"
#include "foundation/memview.h"
#include "foundation/test_util.h"

using vesk::json;

namespace {

TEST(JsonWriter, CompactAndIndentedLayout) {
  json v;
  v["name"] = "x";
  v["list"].push_back(json(1.0));
  v["list"].push_back(json(2.0));
  v["empty"] = json::make_object();
  EXPECT_EQ("{\"name\":\"x\",\"list\":[1.000000,2.000000],\"empty\":{}}", v.dump());
  EXPECT_EQ(
      "{\n"
      "  \"name\": \"x\",\n"
      "  \"list\": [\n"
      "    1.000000,\n"
      "    2.000000\n"
      "  ],\n"
      "  \"empty\": {\n"
      "  }\n"
      "}",
      v.dump("  "));
  EXPECT_EQ("{\n}", json::make_object().dump("  "));
  EXPECT_EQ("{\"a\":[true,null]}", json::parse("{\"a\":[true,null]}").dump());
}

TEST(JsonWriter, StringEscapesAndRawKeys) {
  EXPECT_EQ("\"a\\\"b\"", json("a\"b").dump());
  EXPECT_EQ("\"\\\\ \\b\\f\\n\\r\\t / \x01 \xc3\xa4\"", json("\\ \b\f\n\r\t / \x01 \xc3\xa4").dump());
  json k;
  k["q\"k"] = 1.0;
  EXPECT_EQ("{\"q\"k\":1.000000}", k.dump());
}

TEST(JsonWriter, NumbersArePrintfOfTheValueNarrowedToFloat) {
  // Chosen values, random float bit patterns, random doubles that narrowing rounds, and
  // values near the rounding boundary of the sixth decimal.
  std::vector<double> values = {1, 0.5, -3, 123.456789, 16777217, -0.0, -1e-9, 1e-7, 2.5e-6, 999999999.0, 4294967296.0};
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> wide(-1e9, 1e9), narrow(-10, 10);
  for (int i = 0; i < 200000; ++i) {
    uint32_t b = static_cast<uint32_t>(rng());
    float f;
    std::memcpy(&f, &b, sizeof f);
    if (std::isfinite(f) && std::fabs(f) < 1e18f) values.push_back(f);
    values.push_back(i % 2 ? wide(rng) : narrow(rng));
  }
  for (int k = 0; k < 100000; ++k) values.push_back(static_cast<float>(k) * 0.0000005f);
  for (double d : values) {
    char expect[20];
    std::snprintf(expect, sizeof expect, "%f", static_cast<double>(static_cast<float>(d)));
    ASSERT_EQ(expect, json(d).dump()) << d;
  }
}

TEST(JsonWriter, ValuesThatFixedFormCannotHoldStayReadable) {
  // NaN and infinities are no JSON numbers; huge values would lose integer digits.
  EXPECT_EQ("null", json(std::nan("")).dump());
  EXPECT_EQ("[null,null]", (json{json(HUGE_VAL), json(-HUGE_VAL)}).dump());
  for (double d : {1e19, -1e18, 3e38, 1e300, -1e300, 1e39}) {
    std::string text = json(d).dump();
    EXPECT_LE(text.size(), 19u) << text;
    double back = json::parse(text).get_double();
    EXPECT_NEAR(1.0, back / d, 1e-6) << text;
  }
}

#define VALUE "expecting object, array, string, number, true, false or null..."

TEST(JsonParser, ForgivingAndFatalCases) {
  // Text, compact dump of the result, the logged errors "line,column  what" ('|' between).
  const char* const cases[][3] = {
      {"", "null", ""}, {" \n\t ", "null", ""}, {"1 2", "1.000000", ""}, {"[1] x", "[1.000000]", ""},
      {"[1,]", "[1.000000]", ""}, {"[]", "[]", ""}, {"{}", "{}", ""},
      {"{\"a\":1 x}", "{\"a\":1.000000}", "0,7  expecting , or }"},
      {"[1 x]", "[1.000000]", "0,3  expecting , or ]"},
      {"{\"a\" 1}", "null", "0,5  expecting : after key|0,6  expecting : after key"},
      {"{\"a\":1,}", "null", "0,7  expecting key (\"key\")"},
      {"{1}", "null", "0,1  expecting key (\"key\")"},
      {"tru", "null", "0,0  " VALUE " 2"}, {"[fals]", "null", "0,1  " VALUE " 3"},
      {"nul", "null", "0,0  " VALUE " 4"}, {"x", "null", "0,0  " VALUE}, {"]", "null", "0,0  " VALUE},
      {"\"a\\u0041b\"", "\"ab\"", ""}, {"\"a\\qb\"", "\"ab\"", "0,3  un allowed escape"},
      {"{\"a\":[1,2]", "null", ""}, {"[{},\"x\"]", "[{},\"x\"]", ""}, {"\"abc", "\"abc\"", ""},
      {"[\"abc", "null", ""}, {"{\"a", "null", ""}, {"{\"a\"", "null", ""}, {"\"\\u12", "\"\"", ""},
      {"[1.2.3,1-2,-0.5,1e2]", "[1.200000,1.000000,-0.500000,100.000000]", ""},
      {"{\"a\":\n  1\n x}", "{\"a\":1.000000}", "2,2  expecting , or }"},
      {"{\"k\":{\"x\":tru}}", "null", "0,10  " VALUE " 2"},
  };
  for (const auto& c : cases) {
    log_capture errors(log_err);
    EXPECT_EQ(c[1], json::parse(c[0]).dump()) << c[0];
    std::vector<std::string> want;
    std::string where;
    for (std::istringstream in(c[2]); std::getline(in, where, '|');) want.push_back("json_parse_error in line: " + where);
    EXPECT_EQ(want, errors.lines) << c[0];
  }
}

TEST(JsonParser, DuplicateKeysAreKeptAndTheFirstIsFound) {
  json v = json::parse("{\"a\":1,\"a\":2}");
  EXPECT_EQ(2u, v.size());
  EXPECT_EQ(1, v["a"].get_double());
}

TEST(JsonParser, EscapesAndRoundTrip) {
  json v = json::parse("[\"\\n\\r\\\"\\t\\\\\\/\\b\\f\"]");
  EXPECT_EQ("\n\r\"\t\\/\b\f", v[json(0.0)].get_string());
  std::string doc = "{\"s\":\"line\\nnext \\\"q\\\"\",\"n\":[0.500000,-2.000000],\"o\":{\"t\":true,\"f\":false,\"z\":null}}";
  EXPECT_EQ(doc, json::parse(doc).dump());
  EXPECT_EQ(doc, json::parse(json::parse(doc).dump("  ")).dump());
  // Keys with escapes, in objects that stay open while inner containers open and close.
  const char* keys = "{\"a\\n\":[{\"b\\t\":{\"c\\\\\":1}},[{\"\\u0041d\":2}]],\"e\\\"\":3,\"f\":4}";
  EXPECT_EQ("{\"a\n\":[{\"b\t\":{\"c\\\":1.000000}},[{\"d\":2.000000}]],\"e\"\":3.000000,\"f\":4.000000}",
            json::parse(keys).dump());
}

TEST(JsonParser, ExceptionsPassToTheCaller) {
  EXPECT_THROW(json::parse("-"), std::invalid_argument);
  EXPECT_THROW(json::parse("[1e999]"), std::out_of_range);
  expect_throw_what<vesk::util::bt_exception>([] { json::parse("\"ab\\"); }, "Unable to convert memview. Size error");
}

TEST(JsonParser, NoReadPastTheEndOfAnyPrefix) {
  // Every prefix of a document exercises each state meeting the end of the text; the
  // copy on the heap lets AddressSanitizer see a read one byte too far.
  std::string doc = "{\"a\\u00e4\":[1.5e3,true,false,null,\"x\\\"y\"],\"b\":{\"c\":-2}}";
  log_capture errors(log_err);
  for (size_t n = 0; n <= doc.size(); ++n) {
    std::vector<char> heap(doc.begin(), doc.begin() + n);
    try {
      json::parse(heap.data(), heap.size());
    } catch (const std::exception&) {
    }
  }
  EXPECT_EQ("{\"a\":[1500.000000,true,false,null,\"x\\\"y\"],\"b\":{\"c\":-2.000000}}", json::parse(doc).dump());
}

TEST(Memview, BoundsAreChecked) {
  const char data[] = "abcdef";
  EXPECT_EQ('c', memview_get_u8(data, 6, 2));
  EXPECT_THROW(memview_get_u8(data, 6, 6), vesk::util::bt_exception);
  EXPECT_EQ("cdef", memview_to_string(data, 6, 2, 0));
  EXPECT_EQ("", memview_to_string(data, 6, 6, 0));
  EXPECT_EQ("bc", memview_to_string(data, 6, 1, 2));
  expect_throw_what<vesk::util::bt_exception>([&] { memview_to_string(data, 6, 7, 0); },
                                              "Offset can not be bigger then size.");
  expect_throw_what<vesk::util::bt_exception>([&] { memview_to_string(data, 6, 5, SIZE_MAX); },
                                              "unable to create object, because of size limit");
}

TEST(JsonStream, PrintsTextsRawAndContainersIndented) {
  std::ostringstream os;
  os << json("raw \"t\"") << '|' << json(0.5) << '|' << json(true) << '|' << json() << '|'
     << json::parse("[1]");
  EXPECT_EQ("raw \"t\"|0.5|1||[\n  1.000000\n]\n", os.str());
}

}  // namespace
