#include "foundation/runtime_dir.h"

#include <memory>

#include <gtest/gtest.h>

#include "foundation/bt_exception.h"
#include "foundation/helpers.h"
#include "foundation/log_capture.h"
#include "foundation/test_util.h"

namespace fs = std::filesystem;
using vesk::runtime_dir;

TEST(RuntimeDir, NameWithoutPrefix) {
  temp_dir t;
  const std::pair<const char*, const char*> names[] = {
      {"rt_linux", "linux"}, {"linux", "linux"}, {"rt_rt_x", "rt_x"}, {"x_rt_", "x_rt_"},
      {"rt_", ""},           {"rt_Pi-4_b", "Pi-4_b"}, {"rt_linux/", "linux"},
  };
  for (const auto& n : names) {
    fs::create_directories(t.path / n.first);
    EXPECT_EQ(runtime_dir(t.path / n.first).name, n.second) << n.first;
  }
  EXPECT_EQ(runtime_dir(t.path / "rt_linux").path, t.path / "rt_linux");
  expect_throw_what<vesk::util::bt_exception>(
      [&] { runtime_dir r(t.path / "rt_a.b"); },
      "Runtimes can only have names characters a-z, A-Z, '-' or '_'. Error occured for runtime a.b");
  EXPECT_THROW(runtime_dir(t.path / "rt_a b"), vesk::util::bt_exception);
  EXPECT_THROW(runtime_dir(t.path / "rt_\xc3\xa4"), vesk::util::bt_exception);
}

TEST(RuntimeDir, ConfigDefinitionMustBeAnArray) {
  temp_dir t;
  log_capture errors(log_err);
  // Missing: an empty array, quietly.
  EXPECT_EQ(runtime_dir(t.path).config_def.dump(), "[]");
  EXPECT_TRUE(errors.lines.empty());
  t.put("config_def.json", R"([{"key": "ip", "default": "10.0.0.1"}, 3])");
  EXPECT_EQ(runtime_dir(t.path).config_def.dump(), R"([{"key":"ip","default":"10.0.0.1"},3.000000])");
  EXPECT_TRUE(errors.lines.empty());
  // Anything but an array: the message (after the parser's own, if any), then an empty
  // array; the folder stays usable.
  const std::string expected = "Error parsing " + (t.path / "config_def.json").string() + ". It must be an array.";
  const std::pair<const char*, size_t> cases[] = {{R"({"key": "ip"})", 1}, {"", 1}, {"nonsense", 3}, {"-", 2}, {"[-]", 2}};
  for (const auto& [text, lines] : cases) {
    errors.lines.clear();
    t.put("config_def.json", text);
    EXPECT_EQ(runtime_dir(t.path).config_def.dump(), "[]") << text;
    ASSERT_EQ(errors.lines.size(), lines) << text;
    EXPECT_EQ(errors.lines.back(), expected) << text;
  }
}

TEST(RuntimeDir, FormsOfAllRuntimesHeldHaveOneBound) {
  temp_dir a, b;
  // Two forms of 600 KiB: one fits, both do not, and the second fits once the first is gone.
  const std::string form = "[" + std::string(600 << 10, ' ') + "]";
  const fs::path second = b.put("config_def.json", form);
  a.put("config_def.json", form);
  log_capture errors(log_err);
  auto first = std::make_unique<runtime_dir>(a.path);
  EXPECT_EQ(runtime_dir(b.path).config_def.dump(), "[]");
  ASSERT_EQ(errors.lines.size(), 2u);
  EXPECT_EQ(errors.lines[0], second.string() + ": Unable to read file: " + second.string() + " (614402 bytes, more than "
                                 "the limit of " + std::to_string(runtime_dir::max_forms_bytes - form.size()) + ")");
  first.reset();
  runtime_dir again(b.path);
  EXPECT_EQ(errors.lines.size(), 2u);
  // Forms count as the state carries them: a nesting past the depth bound, and a text of
  // 19 KB that the indent makes more than the 434174 bytes left, are refused; the depth
  // bound itself is not.
  std::string wide = "[";
  for (int i = 0; i < 300; ++i) wide += (i ? "," : "") + std::string(30, '[') + std::string(30, ']');
  const std::pair<std::string, std::string> rows[] = {
      {std::string(33, '[') + std::string(33, ']'), ": the form nests deeper than 32 levels."},
      {wide + "]", ": the form takes more than 434174 bytes as the back end's state carries it, what is left of "
                   "1048576 for the forms of all runtimes."},
      {std::string(32, '[') + std::string(32, ']'), ""},
  };
  for (const auto& [text, error] : rows) {
    temp_dir c;
    const fs::path file = c.put("config_def.json", text);
    errors.lines.clear();
    EXPECT_EQ(runtime_dir(c.path).config_def.dump(), error.empty() ? text : "[]");
    const std::vector<std::string> lines{file.string() + error, "Error parsing " + file.string() + ". It must be an array."};
    EXPECT_EQ(errors.lines, error.empty() ? std::vector<std::string>() : lines);
  }
}
