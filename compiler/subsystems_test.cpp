#include <gtest/gtest.h>

#include "compiler/compiler_test_util.h"
#include "foundation/bt_exception.h"
#include "foundation/helpers.h"

using namespace compiler_test;

namespace {

/// A subsystem block holding `inner` nodes.
std::string subsystem(const std::string& name, const std::vector<std::string>& inner, const std::string& inputs = "{}",
                      const std::string& extra = "") {
  std::string nodes;
  for (size_t i = 0; i < inner.size(); ++i) nodes += (i ? "," : "") + inner[i];
  return base(name, "subsystem", inputs, ",\"nodes\":[" + nodes + "]", extra);
}

/// "reader<-source.pin" for every input of every block.
std::string wiring(fixture& f) {
  std::string out;
  for (auto& [name, n] : f.c.nodes)
    for (auto& [pin, c] : n->inputs) out += name + "." + pin + "<-" + c.node + "." + c.pin + " ";
  return out;
}

std::string aliases(fixture& f) {
  std::string out;
  for (auto& [k, v] : f.c.signal_names) out += k + "=" + v + " ";
  return out;
}

TEST(Subsystems, AreFlattenedAndRewired) {
  struct row {
    const char* what;
    std::vector<std::string> nodes;
    const char* blocks;
    const char* wiring;
    const char* aliases;
  };
  const row rows[] = {
      {"inner connections follow the new names",
       {subsystem("s", {expr("a", "1"), expr("b", "x", "{" + in("x", "a") + "}")})},
       "s__a s__b", "s__b.x<-s__a.out ", ""},
      {"an output port is read from its inner source",
       {subsystem("s", {expr("k", "1"), base("y", "output", "{" + in("in", "k") + "}")}),
        expr("c", "x", "{" + in("x", "s", "y") + "}")},
       "c s__k", "c.x<-s__k.out ", "s.y=s.k.out "},
      {"an input port is bypassed to its outer source",
       {expr("src", "1"), subsystem("s", {base("x", "input"), expr("m", "v", "{" + in("v", "x") + "}")}, "{" + in("x", "src") + "}")},
       "s__m src", "s__m.v<-src.out ", "s.x=src.out "},
      {"an unfed input port maps to a lone dot",
       {subsystem("s", {base("x", "input"), expr("m", "v", "{" + in("v", "x") + "}")})},
       "s__m", "", "s.x=. "},
      {"nested subsystems get nested names and aliases",
       {expr("src", "1"),
        subsystem("s", {base("x", "input"), subsystem("t", {base("y", "input"), expr("a", "v", "{" + in("v", "y") + "}"), base("o", "output", "{" + in("in", "a") + "}")}, "{" + in("y", "x") + "}"),
                        base("r", "output", "{" + in("in", "t", "o") + "}")},
                  "{" + in("x", "src") + "}"),
        expr("c", "v", "{" + in("v", "s", "r") + "}")},
       "c s__t__a src", "c.v<-s__t__a.out s__t__a.v<-src.out ",
       "s.r=s.t.a.out s.t.o=s.t.a.out s.t.y=src.out s.x=src.out "},
      {"a subsystem feeding another subsystem",
       {subsystem("p", {expr("k", "1"), base("o", "output", "{" + in("in", "k") + "}")}),
        subsystem("q", {base("i", "input"), expr("m", "v", "{" + in("v", "i") + "}")}, "{" + in("i", "p", "o") + "}")},
       "p__k q__m", "q__m.v<-p__k.out ", "p.o=p.k.out q.i=p.k.out "},
      {"a top-level output block disappears",
       {expr("k", "1"), base("o", "output", "{" + in("in", "k") + "}"), expr("c", "v", "{" + in("v", "o") + "}")},
       "c k", "c.v<-k.out ", ""},
  };
  for (const row& r : rows) {
    fixture f;
    f.compile(model(r.nodes));
    std::string blocks;
    for (auto& n : f.node_names()) blocks += (blocks.empty() ? "" : " ") + n;
    EXPECT_EQ(blocks, r.blocks) << r.what;
    EXPECT_EQ(wiring(f), r.wiring) << r.what;
    EXPECT_EQ(aliases(f), r.aliases) << r.what;
  }
}

TEST(Subsystems, CommentedOutSubsystemsLeaveTheirReadersUnconnected) {
  fixture f;
  f.compile(model({subsystem("s", {expr("k", "1"), base("y", "output", "{" + in("in", "k") + "}")}, "{}", ",\"comment_out\":true"),
                   expr("c", "x", "{" + in("x", "s", "y") + "}")}));
  EXPECT_EQ(f.node_names(), std::vector<std::string>{"c"});
  EXPECT_EQ(f.warn.lines, std::vector<std::string>{"Couldn't find Node with id 's__k'. Node 'c' wants to connect a pin. Connection is ignored..."});
}

TEST(Subsystems, ReferencesLoadTheModelFromTheWorkspace) {
  fixture f;
  f.put("lib/models/gain.vmdl", model({base("u", "input"), expr("g", "v*2", "{" + in("v", "u") + "}"), base("y", "output", "{" + in("in", "g") + "}")}));
  f.compile(model({expr("src", "3"), base("r", "reference", "{" + in("u", "src") + "}", ",\"prj\":\"lib\",\"mdl\":\"gain\""),
                   expr("c", "v", "{" + in("v", "r", "y") + "}")}));
  EXPECT_FALSE(f.c.error);
  EXPECT_EQ(wiring(f), "c.v<-r__g.out r__g.v<-src.out ");
}

TEST(Subsystems, FaultsThrowWithTheSubsystemAndPort) {
  struct row {
    const char* what;
    std::vector<std::string> nodes;
    const char* message;
  };
  const row rows[] = {
      {"reading an output the subsystem lacks",
       {subsystem("s", {expr("k", "1")}), expr("c", "x", "{" + in("x", "s", "nope") + "}")},
       "Subsystem s has no output with name nope"},
      {"feeding a port the subsystem lacks",
       {expr("src", "1"), subsystem("s", {base("x", "input")}, "{" + in("gone", "src") + "}")},
       "Subsystem s has no input with name gone"},
      {"feeding a subsystem without any port",
       {expr("src", "1"), subsystem("s", {expr("k", "1")}, "{" + in("x", "src") + "}")},
       "Subsystem s has no input with name x"},
      {"a subsystem feeding a missing port of another",
       {subsystem("p", {expr("k", "1"), base("o", "output", "{" + in("in", "k") + "}")}),
        subsystem("q", {expr("m", "1")}, "{" + in("i", "p", "o") + "}")},
       "Subsystem q has no input with name i"},
  };
  for (const row& r : rows) {
    fixture f;
    expect_throw_what<vesk::util::bt_exception>([&] { f.compile(model(r.nodes)); }, r.message);
  }
}

TEST(Subsystems, BlockNamesAreUniquePerLevelOrNoCodeIsWritten) {
  const std::string dup = "Duplicate block name ", top = " in model file <ws>/prj/models/m.vmdl",
                    lib = "model file <ws>/lib/models/dup.vmdl";
  const std::pair<std::vector<std::string>, std::vector<std::string>> rows[] = {
      {{expr("a", "1"), expr("a", "2"), expr("b", "3"), expr("a", "4"), expr("b", "5")}, {dup + "'a'" + top, dup + "'b'" + top}},
      {{subsystem("s", {subsystem("t", {expr("k", "1"), expr("k", "2")})})}, {dup + "'k' in subsystem 's.t' of" + top.substr(3)}},
      {{base("r", "reference", "{}", ",\"prj\":\"lib\",\"mdl\":\"dup\"")}, {dup + "'k' in " + lib, dup + "'q' in subsystem 'inner' of " + lib}},
      {{expr("k", "1"), subsystem("s", {expr("k", "2"), subsystem("t", {expr("k", "3")})})}, {}},  // one name per level
      // An inner block's new name taken by a top-level block, or by another expansion.
      {{expr("s__a", "2"), subsystem("s", {expr("a", "1")})},
       {dup + "'s__a' after subsystem expansion: block 's__a'" + top + " and block 'a' in subsystem 's' of" + top.substr(3)}},
      {{subsystem("s__t", {expr("a", "1")}), subsystem("s", {expr("t__a", "2")})},
       {dup + "'s__t__a' after subsystem expansion: block 't__a' in subsystem 's' of" + top.substr(3) +
        " and block 'a' in subsystem 's__t' of" + top.substr(3)}},
  };
  for (const auto& [nodes, errors] : rows) {
    fixture f;
    f.put("lib/models/dup.vmdl", model({expr("k", "1"), expr("k", "2"), subsystem("inner", {expr("q", "1"), expr("q", "2")})}));
    f.c.model_file = f.workspace + "/prj/models/m.vmdl";
    f.compile(model(nodes));
    std::vector<std::string> want;
    for (const std::string& e : errors) want.push_back(replace_all(e, "<ws>", f.workspace));
    EXPECT_EQ(f.err.lines, want) << model(nodes);
    EXPECT_EQ(f.c.files.empty(), !want.empty()) << model(nodes);
  }
}

TEST(Subsystems, AModelInsideItselfIsARecursion) {
  const std::string ref_loop = base("r", "reference", "{}", ",\"prj\":\"prj\",\"mdl\":\"loop\"");
  const std::string ref_b = base("r", "reference", "{}", ",\"prj\":\"prj\",\"mdl\":\"b\"");
  const std::string message = "Resolve subsystems timeout... There may be a recursion. Last referenced model that was resolved: ";
  // One compiler per compile, as in a build.
  for (const auto& [top, last] : {std::pair{ref_loop, "prj/models/loop"}, std::pair{ref_b, "prj/models/b"}}) {
    fixture f;
    f.put("prj/models/loop.vmdl", model({ref_loop, expr("pad", "1")}));
    f.put("prj/models/a.vmdl", model({ref_b}));
    f.put("prj/models/b.vmdl", model({base("r", "reference", "{}", ",\"prj\":\"prj\",\"mdl\":\"a\"")}));
    expect_throw_what<vesk::util::bt_exception>([&, &top = top] { f.compile(model({top})); }, message + last);
  }

  // The same model used twice, side by side and nested in another, is no recursion.
  fixture g;
  g.put("prj/models/leaf.vmdl", model({expr("k", "1")}));
  g.put("prj/models/pair.vmdl", model({base("l1", "reference", "{}", ",\"prj\":\"prj\",\"mdl\":\"leaf\""),
                                      base("l2", "reference", "{}", ",\"prj\":\"prj\",\"mdl\":\"leaf\"")}));
  g.compile(model({base("p", "reference", "{}", ",\"prj\":\"prj\",\"mdl\":\"pair\""),
                   base("q", "reference", "{}", ",\"prj\":\"prj\",\"mdl\":\"leaf\"")}));
  EXPECT_FALSE(g.c.error);
  EXPECT_EQ(g.node_names(), (std::vector<std::string>{"p__l1__k", "p__l2__k", "q__k"}));
}

}  // namespace
