// The checks on editor traffic, the build output's line cutting and routing, Base64.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend/build_output.h"
#include "backend/gui_guards.h"
#include "backend/main_controller.h"
#include "backend/session_commands.h"

namespace vesk {
namespace {

TEST(CoreGuards, Utf8) {
  struct row {
    std::string in;
    bool valid;
    std::string replaced;
  };
  const std::string r = "\xef\xbf\xbd";
  const std::vector<row> rows = {
      {"", true, ""},
      {"plain", true, "plain"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", true, "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"caf\xe9", false, "caf" + r},
      {"\xc0\xaf", false, r + r},                  // overlong '/'
      {"\xed\xa0\x80", false, r + r + r},          // surrogate
      {"\xf4\x90\x80\x80", false, r + r + r + r},  // past U+10FFFF
      {"\xe2\x82", false, r + r},                  // cut short at the end
      {"a\xffz", false, "a" + r + "z"},
  };
  for (const row& x : rows) {
    EXPECT_EQ(is_valid_utf8(x.in), x.valid) << x.in;
    EXPECT_EQ(replace_invalid_utf8(x.in), x.replaced) << x.in;
  }
}

TEST(CoreGuards, Origins) {
  struct row {
    const char* origin;
    bool local;
  };
  // Only the editor's own pages: no Origin, or a file. Every web origin is refused,
  // however local its host, and so are extension schemes and sandboxed pages.
  const std::vector<row> rows = {
      {"", true},
      {"file://", true},
      {"FILE:///home/u/html/index.html", true},
      {"app://vesk", false},
      {"chrome-extension://abcdefgh", false},
      {"moz-extension://0a1b", false},
      {"http://localhost", false},
      {"HTTP://LOCALHOST:8080", false},
      {"http://127.0.0.1:3000/", false},
      {"https://[::1]:9", false},
      {"null", false},
      {"https://example.com", false},
      {"file:", false},
      {" file://", false},
  };
  for (const row& x : rows) EXPECT_EQ(is_editor_origin(x.origin), x.local) << x.origin;
}

TEST(CoreGuards, LiesInside) {
  struct row {
    const char* folder;
    const char* file;
    bool inside;
  };
  const std::vector<row> rows = {
      {"/w/prj", "/w/prj/a.h", true},
      {"/w/prj/", "/w/prj/nodes/a.h", true},
      {"/w/prj", "/w/prj/./x/../a.h", true},
      {"/w/prj", "/w/prj", false},
      {"/w/prj", "/w/prj/", false},
      {"/w/prj", "/w/prj2/a.h", false},
      {"/w/prj", "/w/prj/../x", false},
      {"/w/prj", "/w/x", false},
      {"/w/my prj", "/w/my prj/a b.h", true},
      {"", "/w/a", false},
  };
  for (const row& x : rows) EXPECT_EQ(lies_inside(x.folder, x.file), x.inside) << x.folder << " " << x.file;
}

TEST(CoreGuards, Base64) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"},
      {std::string("\x00\xff\xfe", 3), "AP/+"},
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(session_commands::base64(in), out) << in;
}

TEST(CoreGuards, PortSearchEnd) {
  EXPECT_EQ(last_port_to_try(15100), 16099);
  EXPECT_EQ(last_port_to_try(65000), 65535);
  EXPECT_EQ(last_port_to_try(65535), 65535);
  EXPECT_EQ(last_port_to_try(0), 999);
}

TEST(CoreBuildOutput, LinesAreCutAndRouted) {
  build_output_lines lines;
  // Pieces as they may come from the pipe, and whether the poll flushes.
  struct step {
    std::string bytes;
    bool flush;
    std::vector<std::string> lines;
    bool holds_message;
  };
  const std::vector<step> steps = {
      {"i: a\n\nw: b\nj: {\"cmd\"", false, {"i: a", "w: b"}, true},
      {"", false, {}, true},
      {":1}\nd: ha", false, {"j: {\"cmd\":1}"}, false},
      {"lf", true, {"d: half"}, false},
      {"j", false, {}, true},
      {"x\n", false, {"jx"}, false},
      {"\n\n", true, {}, false},
  };
  for (const step& s : steps) {
    std::vector<build_output_line> out;
    lines.start_poll();
    lines.take(s.bytes.data(), s.bytes.size(), out);
    if (s.flush) lines.flush(out);
    std::vector<std::string> texts;
    for (const build_output_line& l : out) texts.push_back(l.text);
    EXPECT_EQ(texts, s.lines) << s.bytes;
    EXPECT_EQ(lines.waits(), s.holds_message) << s.bytes;
  }
  // A poll hands out a bounded number of lines and counts the rest, also a dropped line
  // that ends in the next poll; a long line keeps its beginning and its length.
  std::string flood;
  for (size_t i = 0; i < build_poll_line_limit + 500; ++i) flood += "x\n";
  const std::string long_line(build_line_limit + 10, 'y');
  const struct {
    std::string bytes;
    std::vector<size_t> lengths;  // of the lines handed out
    std::string note;
  } polls[] = {
      {flood + "yyy", std::vector<size_t>(build_poll_line_limit, 1), ""},
      {"yy\nz\n" + long_line + "\n", {1, long_line.size()}, ""},
      {"", {}, "Too much build output: 501 lines (505 bytes) were dropped."},
  };
  for (const auto& poll : polls) {
    std::vector<build_output_line> out;
    lines.start_poll();
    lines.take(poll.bytes.data(), poll.bytes.size(), out);
    std::vector<size_t> lengths;
    for (const build_output_line& l : out) {
      lengths.push_back(l.length);
      EXPECT_EQ(l.text.size(), std::min(l.length, build_line_limit));
    }
    EXPECT_EQ(lengths, poll.lengths);
    EXPECT_EQ(lines.end_poll(false), poll.note);
  }
  struct route {
    const char* line;
    const char* type;
    const char* text;
  };
  const std::vector<route> routes = {
      {"d: x", "debug", "x"},    {"i: ", "info", ""},       {"w: w", "warn", "w"}, {"e: e", "error", "e"},
      {"j: {}", "json", "{}"},   {"d:x", "console", "d:x"}, {"ab", "console", "ab"},
      {"x: y", "console", "x: y"}, {"I: y", "console", "I: y"},
  };
  for (const route& r : routes) {
    build_line_route got = route_build_line(r.line);
    EXPECT_EQ(got.type, r.type) << r.line;
    EXPECT_EQ(got.text, r.text) << r.line;
  }
}

}  // namespace
}  // namespace vesk
