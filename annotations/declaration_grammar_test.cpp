#include "annotations/declaration_grammar.h"

#include <gtest/gtest.h>

using namespace vesk::annotations;

namespace {

/// "type|name|default", with "()" after the name of a function and "+n" for n arguments.
std::string text(const declaration& d) {
  if (d.parts.empty()) return "";
  const decl_part& p = d.parts[0];
  std::string s = p.type + "|" + p.name + (d.is_function ? "()" : "") + "|" + p.default_val;
  return d.parts.size() > 1 ? s + "+" + std::to_string(d.parts.size() - 1) : s;
}

TEST(ParseDeclaration, ReadsTheFirstDeclarator) {
  const std::pair<std::string, const char*> cases[] = {
      {"int in_x;", "int|in_x|"},
      {"static const int in_x = 4;", "int|in_x|4"},
      {"constant_t in_x;", "ant_t|in_x|"},  // specifiers match as prefixes
      {"unsigned int in_x;", "unsigned int|in_x|"},
      {"long long in_x;", "long|long|"},
      {"using namespace std;", "using|namespace|"},
      {"std::vector<std::pair<int,int>> in_v;", "std::vector<std::pair<int,int>>|in_v|"},
      {"int* out_p;", "int*|out_p|"},
      {"const char * param_s;", "char *|param_s|"},
      {"::ns::type_t x;", "::ns::type_t|x|"},
      {"int in_a, in_b;", "int|in_a|"},
      {"std::string param_s = \"a\\\"b // c\";", "std::string|param_s|\"a\\\"b // c\""},
      {"std::string s = \"a\\\\\";", "std::string|s|\"a\\\\\""},
      {"int param_a = {};", "int|param_a|"},
      {"int x{3};", "int|x|"},
      {"double x = -1.5e+3;", "double|x|-1.5e+3"},
      {"int x = a*b;", "int|x|a"},
      {"bool b = true;", "bool|b|true"},
      {"arr x = {{1, 2},{3}};", "arr|x|{{1, 2},{3}}"},
      {"T x = { 1 };", "T|x|"},  // no blank after "{"
      {"T x = std::vector<int,float>;", "T|x|std::vector<int,float>"},
      {"T x = std::array<int, 3>;", "T|x|std"},  // no blank after ","
      {"int x = \"open;", "int|x|"},
      {"double step(double e);", "double|step()|+1"},
      {"void tick();", "void|tick()|"},
      {"int f(int);", "int|f()|"},
      {"vesk::time poll() const;", "vesk::time|poll()|"},
      // Lines without a declarator.
      {"", ""}, {"} // namespace a", ""}, {"{", ""}, {"namespace {", ""}, {"int;", ""}, {"= 3", ""},
      {"@@@", ""},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(text(parse_declaration(line)), expected) << line;
}

TEST(ParseDeclaration, ArgumentsSkipLeadingBlanksAndKeepSpecifiers) {
  declaration d = parse_declaration("double f(double x, const double& y,int z = 3, bad)");
  std::string args;
  for (size_t i = 1; i < d.parts.size(); ++i)
    args += d.parts[i].type + "|" + d.parts[i].name + "|" + d.parts[i].default_val + ";";
  EXPECT_EQ(args, "double|x|;const double&|y|;int|z|3;");  // "bad" has no name: the list ends
}

TEST(ParseDeclaration, DeepNestingIsBoundedAndStaysInsideTheLine) {
  const size_t n = 1 << 20;
  EXPECT_EQ(text(parse_declaration("std::vector" + std::string(n, '<') + " x;")), "");
  EXPECT_EQ(text(parse_declaration("int x = " + std::string(n, '{'))), "int|x|");
  std::string nested;
  for (size_t i = 0; i < n / 2; ++i) nested += "a<";
  EXPECT_EQ(text(parse_declaration("int x = " + nested)), "int|x|a");  // the template never closes
  // A NUL is a blank, the end of the line never is.
  EXPECT_EQ(text(parse_declaration(std::string("int\0x = \"", 9))), "int|x|");
}

}  // namespace
