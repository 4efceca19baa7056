#include "generators/expression_generator.h"

#include <map>

#include "generators/generator_test_util.h"

using namespace gen_test;

static vesk::expression_generator expr(const std::string& function, std::map<std::string, std::string> in = {}) {
  vesk::expression_generator g;
  g.set_config(object({{"function", function}}));
  g.set_mappings({in, {}, {{"out", "y"}}});
  return g;
}

static names input_names(const std::string& text) { return keys(expr(text).get_view_config().inputs); }

TEST(ExpressionGenerator, DefaultConfigurationViewAndCode) {
  vesk::expression_generator g;
  g.set_config(vesk::json());
  EXPECT_EQ(g.cfg.dump(), R"({"function":"a+b","output_name":"out","output_type":"auto",)"
                          R"("type_header":"","disable_output":false})");
  EXPECT_EQ(view_json(g), R"({"default_name":"expr","raster":"auto","inputs":{"a":{"type":"auto",)"
                          R"("default_value":""},"b":{"type":"auto","default_value":""}},)"
                          R"("outputs":{"out":{"type":"auto","raster":"block"}}})");
  g.set_mappings({{{"a", "x1"}, {"b", "x2"}}, {}, {{"out", "y"}}});
  EXPECT_EQ(tick_text(g), "y = x1+x2;\n");
  EXPECT_EQ(g.get_output_type(), "decltype(x1+x2)");
  g.set_mappings({{{"a", "x1"}, {"b", "x2"}}, {}, {}});
  EXPECT_EQ(tick_text(g), " = x1+x2;\n");  // an unmapped output keeps its assignment
  g.cfg["type_header"] = " <cmath> ";
  EXPECT_EQ(g.get_headers(), names{"<cmath>"});
  // A checkbox turns the output off: no pin, and the expression stands alone.
  for (vesk::json off : {vesk::json(true), vesk::json("1"), vesk::json("0"), vesk::json("maybe")}) {
    g.cfg["disable_output"] = off;
    bool on = off == "0" || off == "maybe";
    EXPECT_EQ(g.get_view_config().outputs.size(), on ? 1u : 0u) << off.dump();
    EXPECT_EQ(tick_text(g), on ? " = x1+x2;\n" : "x1+x2;\n");
  }
}

TEST(ExpressionGenerator, InputsAreSortedFreeIdentifiers) {
  const std::pair<const char*, names> cases[] = {
      {"b*a + b", {"a", "b"}},          {"s.len + p->n + x", {"p", "s", "x"}},
      {"flag && true || false", {"flag"}}, {"sin(x) + 2e5", {"e5", "sin", "x"}},
      {"f(\"a+b\", a)", {"a", "f"}},    {"_u + 9k", {"k", "u"}},
      {"\"open + q", {"open", "q"}},     {"out*2", {"out"}},  // the validator drops the output
  };
  for (const auto& c : cases) EXPECT_EQ(input_names(c.first), c.second) << c.first;
  // Long texts must not exhaust the stack.
  std::string lit = "\"" + std::string(200000, 'x') + "\" + a";
  EXPECT_EQ(input_names(lit), names{"a"});
  EXPECT_EQ(expr(lit, {{"a", "v"}}).rewrite_expression(), lit.substr(0, lit.size() - 1) + "v");
  EXPECT_EQ(input_names(std::string(100000, '.')), names{});
}

TEST(ExpressionGenerator, RewriteRenamesInputsOnlyOutsideLiteralsAndMembers) {
  const std::tuple<std::string, std::map<std::string, std::string>, std::string> cases[] = {
      {"f(\"a+b\", a)", {{"a", "v"}, {"f", "g"}}, "g(\"a+b\", v)"}, {"s.x + x", {{"s", "p"}, {"x", "q"}}, "p.x + q"},
      {"p->x + x", {{"p", "v_p"}, {"x", "v_x"}}, "v_p->x + v_x"},  {"a->b->a", {{"a", "q"}, {"b", "r"}}, "q->b->a"},
      {"ab + a", {{"a", "u"}, {"ab", "w"}}, "w + u"},               {"1.5*k", {{"k", "g"}}, "1.5*g"},
      {"\"a.b\".size() + a", {{"a", "v"}, {"b", "w"}}, "\"a.b\".size() + v"},
      {"  a  +  zz ", {{"a", "v"}}, "  v  +  zz "}, {"-", {}, "-"}, {"a-", {{"a", "v"}}, "v-"},
      {"", {{"", "v"}}, ""}};
  for (auto& c : cases) EXPECT_EQ(expr(std::get<0>(c), std::get<1>(c)).rewrite_expression(), std::get<2>(c));
}
