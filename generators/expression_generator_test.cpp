#include "generators/expression_generator.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "generators/generator_test_util.h"

using gen_test::keys;
using gen_test::names;

namespace {

struct expr {
  vesk::expression_generator g;
  explicit expr(const std::string& function,
                std::map<std::string, std::string> inputs = {},
                std::map<std::string, std::string> outputs = {}) {
    g.set_config(gen_test::object({{"function", function}}));
    g.set_mappings({inputs, {}, outputs});
  }
  names input_names() { return keys(g.get_view_config().inputs); }
  std::string tick() { return gen_test::tick_text(g); }
};

}  // namespace

TEST(ExpressionGenerator, DefaultConfiguration) {
  vesk::expression_generator g;
  g.set_config(vesk::json());
  EXPECT_EQ(g.cfg.dump(),
            R"({"function":"a+b","output_name":"out","output_type":"auto","type_header":"",)"
            R"("disable_output":false})");
  vesk::view_config v = g.get_view_config();
  EXPECT_EQ(v.default_name, "expr");
  EXPECT_EQ(v.line_nr, 0);
  EXPECT_EQ(keys(v.inputs), (names{"a", "b"}));
  EXPECT_EQ(v.inputs.front().value.type, "auto");
  ASSERT_EQ(keys(v.outputs), names{"out"});
  EXPECT_EQ(v.outputs.front().value.type, "auto");
  EXPECT_EQ(v.outputs.front().value.raster, "block");
  g.set_mappings({{{"a", "x1"}, {"b", "x2"}}, {}, {{"out", "y"}}});
  EXPECT_EQ(gen_test::tick_text(g), "y = x1+x2;\n");
  EXPECT_EQ(g.get_output_type(), "decltype(x1+x2)");
}

TEST(ExpressionGenerator, ViewInputsAreSortedFreeIdentifiers) {
  EXPECT_EQ(expr("b*a + b").input_names(), (names{"a", "b"}));
  EXPECT_EQ(expr("s.len + p->n + x").input_names(), (names{"p", "s", "x"}));
  EXPECT_EQ(expr("flag && true || false").input_names(), names{"flag"});
  EXPECT_EQ(expr("sin(x) + 2e5").input_names(), (names{"e5", "sin", "x"}));
  EXPECT_EQ(expr("f(\"a+b\", a)").input_names(), (names{"a", "f"}));
  EXPECT_EQ(expr("_u + 9k").input_names(), (names{"k", "u"}));
  EXPECT_EQ(expr("\"open + q").input_names(), (names{"open", "q"}));
}

TEST(ExpressionGenerator, RewriteKeepsLiteralsAndMembers) {
  EXPECT_EQ(expr("f(\"a+b\", a)", {{"a", "v"}, {"f", "g"}}).g.rewrite_expression(), "g(\"a+b\", v)");
  EXPECT_EQ(expr("pos.x + x", {{"pos", "p1"}, {"x", "q"}}).g.rewrite_expression(), "p1.x + q");
  EXPECT_EQ(expr("ab + a", {{"a", "u"}, {"ab", "w"}}).g.rewrite_expression(), "w + u");
  EXPECT_EQ(expr("1.5*k", {{"k", "g"}}).g.rewrite_expression(), "1.5*g");
  EXPECT_EQ(expr("\"a.b\".size() + a", {{"a", "v"}, {"b", "w"}}).g.rewrite_expression(),
            "\"a.b\".size() + v");
  EXPECT_EQ(expr("  a  +  zz ", {{"a", "v"}}).g.rewrite_expression(), "  v  +  zz ");
}

TEST(ExpressionGenerator, MembersAfterArrowAreNotRenamed) {
  expr e("p->x + x", {{"p", "v_p"}, {"x", "v_x"}});
  EXPECT_EQ(e.input_names(), (names{"p", "x"}));
  EXPECT_EQ(e.g.rewrite_expression(), "v_p->x + v_x");
  EXPECT_EQ(expr("a->b->a", {{"a", "q"}, {"b", "r"}}).g.rewrite_expression(), "q->b->a");
}

TEST(ExpressionGenerator, OutputNameUsedAsInputLosesOutputThroughValidatorOnly) {
  vesk::view_config v = expr("out*2").g.get_view_config();
  EXPECT_EQ(keys(v.inputs), names{"out"});
  EXPECT_EQ(keys(v.outputs), names{"out"});
}

TEST(ExpressionGenerator, DisableOutputIsACheckbox) {
  for (vesk::json off : {vesk::json(true), vesk::json("true"), vesk::json(1.0), vesk::json("1")}) {
    expr e("a + 1", {{"a", "v"}}, {{"out", "y"}});
    e.g.cfg["disable_output"] = off;
    EXPECT_TRUE(e.g.get_view_config().outputs.empty()) << off.dump();
    EXPECT_EQ(e.tick(), "v + 1;\n");
  }
  for (vesk::json on : {vesk::json(false), vesk::json("false"), vesk::json(), vesk::json("0"),
                        vesk::json("maybe")}) {
    expr e("a + 1", {{"a", "v"}}, {{"out", "y"}});
    e.g.cfg["disable_output"] = on;
    EXPECT_EQ(e.g.get_view_config().outputs.size(), 1u) << on.dump();
    EXPECT_EQ(e.tick(), "y = v + 1;\n");
  }
}

TEST(ExpressionGenerator, UnmappedOutputStartsWithAssignment) {
  EXPECT_EQ(expr("a", {{"a", "v"}}).tick(), " = v;\n");
}

TEST(ExpressionGenerator, HeadersPreferTypeHeader) {
  expr e("a");
  e.g.cfg["type_header"] = "  ";
  e.g.cfg["container_header"] = "vector";
  EXPECT_EQ(e.g.get_headers(), names{"vector"});
  EXPECT_EQ(e.g.cfg["type_header"].get_string(), "");
  e.g.cfg["type_header"] = " <cmath> ";
  EXPECT_EQ(e.g.get_headers(), names{"<cmath>"});
}

TEST(ExpressionGenerator, LongAndOddTextsAreSafe) {
  std::string lit = "\"" + std::string(200000, 'x') + "\" + a";
  EXPECT_EQ(expr(lit).input_names(), names{"a"});
  EXPECT_EQ(expr(lit, {{"a", "v"}}).g.rewrite_expression(), lit.substr(0, lit.size() - 1) + "v");
  EXPECT_EQ(expr(std::string(100000, '.')).input_names(), names{});
  EXPECT_EQ(expr("-").g.rewrite_expression(), "-");
  EXPECT_EQ(expr("a-", {{"a", "v"}}).g.rewrite_expression(), "v-");
  EXPECT_EQ(expr("", {{"", "v"}}).g.rewrite_expression(), "");
}
