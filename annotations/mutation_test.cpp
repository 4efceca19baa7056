// Deterministic mutation testing of the whole parser: the realistic seed headers are
// cut, spliced and sprinkled with the tokens the grammars care about, and every result
// must satisfy the parse invariants. The fuzz target explores further; this keeps the
// ordinary suite honest on every build.

#include <gtest/gtest.h>

#include <random>

#include "foundation/helpers.h"
#include "foundation/log_capture.h"
#include "fuzz/parse_invariants.h"

using namespace vesk::annotations;

namespace {

std::vector<std::string> load_seeds() {
  std::vector<std::string> seeds;
  for (const char* name : {"pi_controller.h", "scale_function.h", "clock_source.h", "auto_function.h"})
    seeds.push_back(read_file(std::string(VESK_SOURCE_DIR) + "/fuzz/corpus/" + name));
  return seeds;
}

const std::vector<std::string>& tokens() {
  static const std::vector<std::string> list = {
      "{", "}", "/*", "*/", "//", "//@", "\n", "\r\n", "\"", "\\", std::string(1, '\0'), "<", ">",
      ":", ";", ",", "(", ")", "->", "=", "* ", "@info:", "@node: auto\n", "@node: class",
      "@node: function", "@node: foo", "@input: ", "@output", "@parameter: p", "@tick(", "@init:",
      "@final:", "@construct: (", "@raster: source", "@link: l", "@compile: c.cpp",
      "; type: ", "; default: ", "; line_nr: abc", "; is_member: true", "; inputs: x",
      "namespace ", "struct ", "class ", "vesk::time poll();", "void tick();", "bool poll();",
      "double in_", "double out_", "int param_", " = {", "std::vector<", "unsigned ", "const "};
  return list;
}

/// One mutation of `text`, chosen by the generator.
std::string mutate(std::string text, const std::vector<std::string>& seeds, std::mt19937& rng) {
  auto pick = [&rng](size_t n) { return n == 0 ? 0 : static_cast<size_t>(rng() % n); };
  const size_t at = pick(text.size() + 1);
  switch (rng() % 6) {
    case 0:
    case 1:
      text.insert(at, tokens()[pick(tokens().size())]);
      break;
    case 2:
      text.erase(at, pick(64));
      break;
    case 3: {
      std::string part = text.substr(at, pick(200));
      text.insert(pick(text.size() + 1), part);
      break;
    }
    case 4: {
      const std::string& other = seeds[pick(seeds.size())];
      text = text.substr(0, at) + other.substr(pick(other.size() + 1));
      break;
    }
    default:
      text.insert(at, 1, static_cast<char>(rng() & 0xff));
      break;
  }
  return text;
}

TEST(Mutation, MutatedSeedsKeepTheInvariants) {
  log_capture debug(log_debug), info(log_info), warn(log_warn), err(log_err);  // keeps them quiet
  const std::vector<std::string> seeds = load_seeds();
  std::mt19937 rng(20261209);
  size_t nodes_seen = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string text = seeds[round % seeds.size()];
    const int mutations = 1 + static_cast<int>(rng() % 8);
    for (int m = 0; m < mutations; ++m) text = mutate(text, seeds, rng);
    const std::string broken = check_parse_invariants(text, round % 2 == 0);
    ASSERT_EQ(broken, "") << "round " << round << " text:\n" << text;
    nodes_seen += parse_text(text, "n.h", "p").size();
  }
  EXPECT_GT(nodes_seen, 500u);  // most mutants still declare nodes
}

}  // namespace
