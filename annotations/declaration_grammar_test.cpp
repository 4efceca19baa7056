#include "annotations/declaration_grammar.h"

#include <gtest/gtest.h>

using namespace vesk::annotations;

namespace {

struct decl_case {
  const char* line;
  bool is_function;
  size_t parts;
  const char* type;
  const char* name;
  const char* default_val;
};

TEST(ParseDeclaration, ReadsTheFirstDeclarator) {
  const decl_case cases[] = {
      {"int in_x;", false, 1, "int", "in_x", ""},
      {"static const int in_x = 4;", false, 1, "int", "in_x", "4"},
      {"constant_t in_x;", false, 1, "ant_t", "in_x", ""},  // specifiers match as prefixes
      {"unsigned int in_x;", false, 1, "unsigned int", "in_x", ""},
      {"long long in_x;", false, 1, "long", "long", ""},
      {"using namespace std;", false, 1, "using", "namespace", ""},
      {"std::vector<std::pair<int,int>> in_v;", false, 1, "std::vector<std::pair<int,int>>", "in_v", ""},
      {"int* out_p;", false, 1, "int*", "out_p", ""},
      {"const char * param_s;", false, 1, "char *", "param_s", ""},
      {"::ns::type_t x;", false, 1, "::ns::type_t", "x", ""},
      {"int in_a, in_b;", false, 1, "int", "in_a", ""},
      {"std::string param_s = \"a\\\"b // c\";", false, 1, "std::string", "param_s", "\"a\\\"b // c\""},
      {"std::string s = \"a\\\\\";", false, 1, "std::string", "s", "\"a\\\\\""},
      {"int param_a = {};", false, 1, "int", "param_a", ""},
      {"int x{3};", false, 1, "int", "x", ""},
      {"double x = -1.5e+3;", false, 1, "double", "x", "-1.5e+3"},
      {"int x = a*b;", false, 1, "int", "x", "a"},
      {"bool b = true;", false, 1, "bool", "b", "true"},
      {"arr x = {{1, 2},{3}};", false, 1, "arr", "x", "{{1, 2},{3}}"},
      {"T x = { 1 };", false, 1, "T", "x", ""},  // no blank after "{"
      {"T x = std::vector<int,float>;", false, 1, "T", "x", "std::vector<int,float>"},
      {"T x = std::array<int, 3>;", false, 1, "T", "x", "std"},  // no blank after ","
      {"int x = \"open;", false, 1, "int", "x", ""},
      {"double step(double e);", true, 2, "double", "step", ""},
      {"void tick();", true, 1, "void", "tick", ""},
      {"int f(int);", true, 1, "int", "f", ""},
      {"vesk::time poll() const;", true, 1, "vesk::time", "poll", ""},
  };
  for (const decl_case& c : cases) {
    SCOPED_TRACE(c.line);
    declaration d = parse_declaration(c.line);
    ASSERT_EQ(d.parts.size(), c.parts);
    EXPECT_EQ(d.is_function, c.is_function);
    EXPECT_EQ(d.parts[0].type, c.type);
    EXPECT_EQ(d.parts[0].name, c.name);
    EXPECT_EQ(d.parts[0].default_val, c.default_val);
  }
}

TEST(ParseDeclaration, LinesWithoutDeclaratorGiveNothing) {
  for (const char* line : {"", "} // namespace a", "{", "namespace {", "int;", "= 3", "  ", "@@@"}) {
    SCOPED_TRACE(line);
    EXPECT_TRUE(parse_declaration(line).parts.empty());
  }
}

TEST(ParseDeclaration, ArgumentsSkipLeadingBlanksAndKeepSpecifiers) {
  declaration d = parse_declaration("double f(double x, const double& y,int z = 3, bad)");
  ASSERT_EQ(d.parts.size(), 4u);
  EXPECT_TRUE(d.is_function);
  EXPECT_EQ(d.parts[1].type, "double");
  EXPECT_EQ(d.parts[1].name, "x");
  EXPECT_EQ(d.parts[2].type, "const double&");
  EXPECT_EQ(d.parts[2].name, "y");
  EXPECT_EQ(d.parts[3].type, "int");
  EXPECT_EQ(d.parts[3].default_val, "3");
}

TEST(ParseDeclaration, DeepNestingIsBoundedAndStaysInsideTheLine) {
  const size_t n = 1 << 20;
  EXPECT_TRUE(parse_declaration("std::vector" + std::string(n, '<') + " x;").parts.empty());
  declaration a = parse_declaration("int x = " + std::string(n, '{'));
  ASSERT_EQ(a.parts.size(), 1u);
  EXPECT_EQ(a.parts[0].default_val, "");
  std::string nested;
  for (size_t i = 0; i < n / 2; ++i) nested += "a<";
  declaration b = parse_declaration("int x = " + nested);
  ASSERT_EQ(b.parts.size(), 1u);
  EXPECT_EQ(b.parts[0].default_val, "a");  // the plain run; the template never closes
  // A NUL is a blank, the end of the line never is.
  declaration c = parse_declaration(std::string("int\0x = \"", 9));
  ASSERT_EQ(c.parts.size(), 1u);
  EXPECT_EQ(c.parts[0].name, "x");
  EXPECT_EQ(c.parts[0].default_val, "");
}

}  // namespace
