// Speed of the block generators: views as the editor asks for them and code
// as the model compiler writes it. The editor asks for the views of a whole
// model at once, so a 1000-block model should be answered well under 100 ms.
#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "annotations/block.h"
#include "annotations/block_lists.h"
#include "generators/generator_registry.h"
#include "generators/src_stream.h"

namespace {

// A class node with 25 input and 25 output pins, a parameter and one tick
// call that passes every input.
vesk::annotations::block_lists make_lists() {
  vesk::annotations::block_lists lists;
  vesk::annotations::block_class c;
  c.name = "big";
  c.project = "prj";
  c.class_name = "big";
  c.header = "big.h";
  vesk::annotations::call tick;
  tick.method_name = "step";
  for (int i = 0; i < 25; ++i) {
    vesk::annotations::input in;
    in.name = "in" + std::to_string(i);
    in.var_name = "m_in" + std::to_string(i);
    in.type = "double";
    c.inputs.push_back(in);
    tick.args.emplace_back(in.name);
    vesk::annotations::output out;
    out.name = "out" + std::to_string(i);
    out.var_name = "m_out" + std::to_string(i);
    out.type = "double";
    c.outputs.push_back(out);
  }
  vesk::annotations::parameter p;
  p.name = "gain";
  p.var_name = "gain";
  p.type = "double";
  p.form = "text";
  p.default_val = "1";
  c.parameters.push_back(p);
  c.tick_calls.push_back(tick);
  lists.classes.push_back(c);
  return lists;
}

std::string expression_with_inputs(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += (i ? " + k" : "k") + std::to_string(i) + "*v.x";
  return text;
}

struct fixture {
  vesk::annotations::block_lists lists = make_lists();
  generator_registry reg = make_generator_registry(&lists, "/tmp", nullptr);
  vesk::json class_cfg = vesk::json::parse(R"({"class":"big","prj":"prj"})");
  vesk::json expr_cfg;
  vesk::json function_cfg =
      vesk::json::parse(R"({"function":"f","inputs":"a, b, c, d","output_name":"y"})");
  vesk::json delay_cfg = vesk::json::parse(R"({"node":"delay"})");
  fixture() {
    expr_cfg = vesk::json::make_object();
    expr_cfg["function"] = expression_with_inputs(20);
  }
};

void view(benchmark::State& state, const char* type, vesk::json fixture::*cfg) {
  fixture f;
  vesk::generator& g = *f.reg.at(type);
  g.set_config(f.*cfg);
  if (g.get_view_config().inputs.size() < 20) state.SkipWithError("block not found");
  for (auto _ : state) {
    g.set_config(f.*cfg);
    vesk::view_config v = g.get_view_config();
    benchmark::DoNotOptimize(v.inputs.size());
  }
}

void BM_view_class_50_pins(benchmark::State& s) { view(s, "class", &fixture::class_cfg); }
void BM_view_expression_20_inputs(benchmark::State& s) { view(s, "expression", &fixture::expr_cfg); }
BENCHMARK(BM_view_class_50_pins)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_view_expression_20_inputs)->Unit(benchmark::kMicrosecond);

// Code generation as the compiler does it for one node: name, config,
// mappings from the view's pins, then init, tick and final into a src_stream.
void code(benchmark::State& state, const char* type, vesk::json fixture::*cfg) {
  fixture f;
  vesk::generator& g = *f.reg.at(type);
  g.set_config(f.*cfg);
  vesk::view_config v = g.get_view_config();
  vesk::generator_mappings m;
  for (const auto& in : v.inputs) m.inputs[in.key] = "n1_" + in.key;
  for (const auto& out : v.outputs) m.outputs[out.key] = "n1_" + out.key;
  for (const auto& mem : v.members) m.members[mem.key] = "n1_" + mem.key;
  src_stream os;
  indent(os, 4);
  g.set_mappings(m);
  g.write_tick(os);
  if (os.text.str().find(" = ") == std::string::npos) state.SkipWithError("no statement written");
  reset_stream(os);
  for (auto _ : state) {
    g.set_name("n1");
    g.set_config(f.*cfg);
    g.set_mappings(m);
    g.write_init(os);
    g.write_tick(os);
    g.write_final(os);
    reset_stream(os);
  }
}

void BM_code_class_50_pins(benchmark::State& s) { code(s, "class", &fixture::class_cfg); }
void BM_code_expression_20_inputs(benchmark::State& s) { code(s, "expression", &fixture::expr_cfg); }
void BM_code_function(benchmark::State& s) { code(s, "function", &fixture::function_cfg); }
void BM_code_delay(benchmark::State& s) { code(s, "base", &fixture::delay_cfg); }
BENCHMARK(BM_code_class_50_pins)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_code_expression_20_inputs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_code_function)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_code_delay)->Unit(benchmark::kMicrosecond);

// The editor's request for a whole model: 1000 views, a quarter of them
// 50-pin class blocks and a quarter 20-input expressions.
void BM_views_of_1000_block_model(benchmark::State& state) {
  fixture f;
  struct block {
    const char* type;
    vesk::json cfg;
  };
  std::vector<block> model;
  for (int i = 0; i < 250; ++i) {
    model.push_back({"class", f.class_cfg});
    model.push_back({"expression", f.expr_cfg});
    model.push_back({"function", f.function_cfg});
    model.push_back({"base", f.delay_cfg});
  }
  for (auto _ : state) {
    for (const auto& b : model) {
      vesk::generator& g = *f.reg.at(b.type);
      g.set_config(b.cfg);
      benchmark::DoNotOptimize(g.get_view_config().to_json());
    }
  }
}
BENCHMARK(BM_views_of_1000_block_model)->Unit(benchmark::kMillisecond);

// The view of a subsystem of 80 000 ports (40 000 inputs, 40 000 outputs) as the editor
// gets it: its pins collected and turned into JSON.
void BM_view_subsystem_80000_ports(benchmark::State& state) {
  fixture f;
  vesk::json cfg = vesk::json::parse(R"({"node":"subsystem"})");
  vesk::json& nodes = cfg["nodes"];
  for (int i = 0; i < 40000; ++i) {
    for (const char* kind : {"input", "output"}) {
      nodes.push_back(vesk::json::parse(R"({"type":"base","name":")" + std::string(kind) + std::to_string(i) +
                                        R"(","cfg":{"node":")" + kind + "\"}}"));
    }
  }
  vesk::generator& g = *f.reg.at("base");
  for (auto _ : state) {
    g.set_config(cfg);
    benchmark::DoNotOptimize(g.get_view_config().to_json());
  }
}
BENCHMARK(BM_view_subsystem_80000_ports)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
