#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <sstream>
#include <random>

#include "foundation/bt_exception.h"
#include "foundation/json.h"
#include "foundation/json_file.h"
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

TEST(JsonWriter, ControlCharactersAreEscapedInStringsAndKeysAndReadBack) {
  std::string controls;
  for (char c = 0; c < 32; ++c) controls += c;
  const std::pair<std::string, std::string> rows[] = {  // text, written form as key and as string
      {controls,
       "\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
       "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d\\u001e\\u001f"},
      {"q\"k\\ \x1b[31m", "q\\\"k\\\\ \\u001b[31m"},
      {"/ \x7f \xc3\xa4", "/ \x7f \xc3\xa4"},  // written as they are
  };
  for (const auto& [text, written] : rows) {
    const json v{text, text};
    EXPECT_EQ("{\"" + written + "\":\"" + written + "\"}", v.dump());
    for (const char* unit : {"", "  "}) EXPECT_EQ(v.dump(), json::parse(v.dump(unit)).dump()) << written;
  }
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

std::string repeat(const std::string& s, size_t n) {
  std::string text;
  for (size_t i = 0; i < n; ++i) text += s;
  return text;
}
std::string bad_escapes(size_t n) { return "\"" + repeat("\\uZ", n) + "\""; }
// The lines of `n` errors `what` on line 0, from column `first` every `step` columns.
std::string error_lines(size_t n, size_t first, size_t step, const char* what) {
  std::string lines;
  for (size_t i = 0; i < n && i < 10; ++i) lines += (i ? "|0," : "0,") + std::to_string(first + step * i) + "  " + what;
  return n <= 10 ? lines : lines + "|: " + std::to_string(n - 10) + " more errors in this text not reported";
}
// A member whose comma is missing before a long string: every character up to the next
// comma is an error.
const std::string missing_comma = "{\"a\":1 \"b\":\"" + std::string(110, 'x') + "\",\"c\":2}";
const std::string seven = "[{\"k\":\"s\"},1.000000,true,false,null]";  // every kind, as written
const std::string at_bound = "[" + repeat(seven + ",", 142856) + seven + "]";  // 1 + 7 * 142857 values

TEST(JsonParser, ForgivingAndFatalCases) {
  // Text, compact dump of the result, the logged errors "line,column  what" ('|' between;
  // one starting with ':' is a line of the parse as a whole).
  const std::string cases[][3] = {
      {"", "null", ""}, {" \n\t ", "null", ""}, {"1 2", "1.000000", ""}, {"[1] x", "[1.000000]", ""},
      {"[1,]", "[1.000000]", ""}, {"[]", "[]", ""}, {"{}", "{}", ""},
      {"{\"a\":1 x}", "{\"a\":1.000000}", "0,7  expecting , or }"},
      {"[1 x]", "[1.000000]", "0,3  expecting , or ]"},
      {"{\"a\" 1}", "null", "0,5  expecting : after key|0,6  expecting : after key"},
      {"{\"a\":1,}", "null", "0,7  expecting key (\"key\")"},
      {"{1}", "null", "0,1  expecting key (\"key\")"},
      {"tru", "null", "0,0  " VALUE " 2"}, {"[fals]", "null", "0,1  " VALUE " 3"},
      {"nul", "null", "0,0  " VALUE " 4"}, {"x", "null", "0,0  " VALUE}, {"]", "null", "0,0  " VALUE},
      {"\"a\\u0041b\"", "\"aAb\"", ""}, {"\"a\\qb\"", "\"ab\"", "0,3  un allowed escape"},
      // \u escapes become UTF-8, a surrogate pair one character, a lone surrogate U+FFFD.
      {"[\"\\u00e4\\u20AC\\u0000\\ud83d\\ude00\"]", "[\"\xc3\xa4\xe2\x82\xac\\u0000\xf0\x9f\x98\x80\"]", ""},
      {"\"\\ud83d|\\ude00|\\ud83d\\u0041|\\ud83d\\ud83d\\ude00\"", "\"\xef\xbf\xbd|\xef\xbf\xbd|\xef\xbf\xbd" "A|\xef\xbf\xbd\xf0\x9f\x98\x80\"", ""},
      {"\"\\u00G1\\u\"", "\"00G1\"", "0,2  un allowed escape|0,8  un allowed escape"}, {"\"\\ud83d\\u12", "\"\xef\xbf\xbd\"", ""},
      {"{\"a\":[1,2]", "null", ""}, {"[{},\"x\"]", "[{},\"x\"]", ""}, {"\"abc", "\"abc\"", ""},
      {"[\"abc", "null", ""}, {"{\"a", "null", ""}, {"{\"a\"", "null", ""}, {"\"\\u12", "\"\"", ""},
      {"[1.2.3,1-2,-0.5,1e2]", "[1.200000,1.000000,-0.500000,100.000000]", ""},
      {"{\"a\":\n  1\n x}", "{\"a\":1.000000}", "2,2  expecting , or }"},
      {"{\"k\":{\"x\":tru}}", "null", "0,10  " VALUE " 2"},
      // The UTF-8 boundaries: U+007F/U+0080, U+07FF/U+0800, U+FFFF and U+10000.
      {"[\"\\u007f\\u0080\\u07FF\\u0800\\uffff\\ud800\\udc00\"]",
       "[\"\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\"]", ""},
      // Nesting is bounded: the deepest allowed text reads back, one level more is fatal.
      {std::string(10000, '[') + std::string(10000, ']'), std::string(10000, '[') + std::string(10000, ']'), ""},
      {"[" + repeat("{\"k\":", 10000), "null", "0,49996  nesting deeper than 10000 levels"},
      // At most ten error lines per text, then the count of the rest (1 MiB of bad escapes).
      {bad_escapes(10), "\"" + std::string(10, 'Z') + "\"", error_lines(10, 2, 3, "un allowed escape")},
      {bad_escapes(349525), "\"" + std::string(349525, 'Z') + "\"", error_lines(349525, 2, 3, "un allowed escape")},
      {missing_comma, "{\"a\":1.000000,\"c\":2.000000}", error_lines(116, 7, 1, "expecting , or }")},
      // At most a million values (a key is none): exactly that many read back, one more is fatal.
      {at_bound, at_bound, ""},
      {at_bound.substr(0, at_bound.size() - 1) + ",0]", "null",
       "0," + std::to_string(at_bound.size()) + "  more than 1000000 values in one text"},
      {at_bound.substr(0, at_bound.size() - 1) + ",[]]", "null",
       "0," + std::to_string(at_bound.size()) + "  more than 1000000 values in one text"},
      {at_bound.substr(0, at_bound.size() - 1) + ",{}]", "null",
       "0," + std::to_string(at_bound.size()) + "  more than 1000000 values in one text"},
      {at_bound.substr(0, at_bound.size() - 1) + ",\"\"]", "null",
       "0," + std::to_string(at_bound.size()) + "  more than 1000000 values in one text"},
      {at_bound.substr(0, at_bound.size() - 1) + ",false]", "null",
       "0," + std::to_string(at_bound.size()) + "  more than 1000000 values in one text"},
  };
  for (const auto& c : cases) {
    log_capture errors(log_err);
    EXPECT_EQ(c[1], json::parse(c[0]).dump()) << c[0].substr(0, 80);
    std::vector<std::string> want;
    std::string where;
    for (std::istringstream in(c[2]); std::getline(in, where, '|');)
      want.push_back(where[0] == ':' ? "json_parse_error" + where : "json_parse_error in line: " + where);
    EXPECT_EQ(want, errors.lines) << c[0].substr(0, 80);
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
  EXPECT_EQ("{\"a\\n\":[{\"b\\t\":{\"c\\\\\":1.000000}},[{\"Ad\":2.000000}]],\"e\\\"\":3.000000,\"f\":4.000000}",
            json::parse(keys).dump());
}

TEST(JsonParser, ExceptionsPassToTheCaller) {
  EXPECT_THROW(json::parse("-"), std::invalid_argument);
  EXPECT_THROW(json::parse("[1e999]"), std::out_of_range);
  log_capture errors(log_err);  // the errors before a throw are still counted
  EXPECT_THROW(json::parse("[" + bad_escapes(11) + ",-]"), std::invalid_argument);
  EXPECT_EQ("json_parse_error: 1 more errors in this text not reported", errors.lines.back());
  expect_throw_what<vesk::util::bt_exception>([] { json::parse("\"ab\\"); }, "Unable to convert memview. Size error");
}

TEST(JsonParser, NoReadPastTheEndOfAnyPrefix) {
  // Every prefix of a document exercises each state meeting the end of the text; the
  // copy on the heap lets AddressSanitizer see a read one byte too far.
  std::string doc = "{\"a\\u00e4\":[1.5e3,true,false,null,\"x\\\"y\\ud83d\\ude00\"],\"b\":{\"c\":-2}}";
  log_capture errors(log_err);
  for (size_t n = 0; n <= doc.size(); ++n) {
    std::vector<char> heap(doc.begin(), doc.begin() + n);
    try {
      json::parse(heap.data(), heap.size());
    } catch (const std::exception&) {
    }
  }
  EXPECT_EQ("{\"a\xc3\xa4\":[1500.000000,true,false,null,\"x\\\"y\xf0\x9f\x98\x80\"],\"b\":{\"c\":-2.000000}}",
            json::parse(doc).dump());
}

#ifndef VESK_SANITIZE  // the sanitizer's allocator keeps its own books
TEST(JsonParser, StacksShrinkBackAfterTheDeepestText) {
  // The stack of open containers grows to 10000 entries; it must not stay that size.
  const std::string deep = repeat("{\"k\":[", 5000) + repeat("]}", 5000);
  const auto in_use = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };  // heap and mapped
  json::parse("[" + repeat("{\"k\":[]},", 5000) + "]");  // fills the value pool, no stack past its budget
  const size_t before = in_use();
  EXPECT_EQ(deep, json::parse(deep).dump());
  EXPECT_LT(in_use(), before + (256 << 10));
}
#endif

TEST(JsonFile, ErrorsNameTheFileAndTheFirstPlaceCountedFromOne) {
  const std::string rows[][3] = {  // text, compact value, the last error line after the file's name
      {"{\"a\":1}", "{\"a\":1.000000}", ""},
      {"{\"a\":1 x}", "{\"a\":1.000000}", ":1:8: syntax error in JSON text"},
      {"{\"a\" 1}", "null", ":1:6: syntax error in JSON text"},  // the first of two
      {"{\"a\":\n  1\n x}", "{\"a\":1.000000}", ":3:2: syntax error in JSON text"},
      {"[-]", "null", ": malformed number in JSON text"},
      {"[1e999]", "null", ": number out of range in JSON text"},
      {"\"ab\\", "null", ": JSON text ends inside an escape"},
      {"{\"a\":[1,", "null", ": JSON text ends before its value is complete"},
      {" \n ", "null", ""},
      {std::string(10001, '['), "null", ":1:10001: syntax error in JSON text"},
      {missing_comma, "{\"a\":1.000000,\"c\":2.000000}", ":1:8: syntax error in JSON text"},
  };
  for (const auto& r : rows) {
    log_capture errors(log_err);
    EXPECT_EQ(r[1], vesk::parse_json_file("/w/p/../p/m.json", r[0]).dump()) << r[0];
    EXPECT_EQ(r[2].empty() ? "" : "/w/p/m.json" + r[2], errors.lines.empty() ? "" : errors.lines.back());
    EXPECT_LE(errors.lines.size(), 12u);
  }
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

TEST(JsonWriter, IndentedSizeIsTheSizeTheWriterWrites) {
  for (const auto& [text, depth] : std::vector<std::pair<const char*, size_t>>{
           {"null", 0}, {"-1.5e300", 0}, {R"("a\"\\\n\u0001é")", 0}, {"[]", 0}, {"{}", 3},
           {R"({"k\t":[true,{"a":[[],{}]}],"b":"x"})", 0}, {"[[[[1,2]],[]]]", 2}}) {
    const vesk::json v = vesk::json::parse(text);
    std::string out, indent(2 * depth, ' ');
    vesk::json::write(out, indent, "  ", v, false);
    EXPECT_EQ(vesk::indented_text_size(v, depth, SIZE_MAX), out.size()) << text;
    // Counting stops past the limit, and says so by a size above it.
    EXPECT_GT(vesk::indented_text_size(v, depth, out.size() - 2), out.size() - 2) << text;
  }
}

}  // namespace
