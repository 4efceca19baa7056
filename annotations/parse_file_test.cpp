// End-to-end: realistic node headers (the fuzzing seeds) read from disk by parse_file.

#include <gtest/gtest.h>

#include "annotations/scanner.h"
#include "foundation/bt_exception.h"
#include "foundation/log_capture.h"

using namespace vesk::annotations;

namespace {

std::string seed(const std::string& name) { return std::string(VESK_SOURCE_DIR) + "/fuzz/corpus/" + name; }

std::vector<std::shared_ptr<block_base>> parse_quietly(const std::string& path,
                                                       std::vector<std::string>* errors) {
  log_capture err(log_err);
  log_capture warn(log_warn);
  auto nodes = parse_file(path, "prj");
  if (errors) *errors = err.lines;
  return nodes;
}

TEST(ParseFile, ClassNodeInsideNamespaces) {
  std::vector<std::string> errors;
  auto nodes = parse_quietly(seed("pi_controller.h"), &errors);
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(nodes.size(), 1u);
  auto* c = dynamic_cast<block_class*>(nodes[0].get());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->class_name, "pi_controller");
  EXPECT_EQ(c->name, "pi_controller");
  EXPECT_EQ(c->nspace, "ctl::filters::");
  EXPECT_EQ(c->info, "PI controller.\nLimits its integrator to the output range.");
  EXPECT_EQ(c->line_nr, 12);
  EXPECT_EQ(c->project, "prj");
  EXPECT_EQ(c->file_name, seed("pi_controller.h"));
  EXPECT_EQ(c->libs, std::vector<std::string>{"m"});

  ASSERT_EQ(c->inputs.size(), 2u);
  EXPECT_EQ(c->inputs[0].name, "e");
  EXPECT_EQ(c->inputs[0].default_val, "0.0 ");  // the blank before "*/" stays
  EXPECT_EQ(c->inputs[1].type, "bool");
  EXPECT_TRUE(c->inputs[1].is_member);
  ASSERT_EQ(c->outputs.size(), 1u);
  ASSERT_EQ(c->parameters.size(), 3u);
  EXPECT_EQ(c->parameters[2].form, "text");
  EXPECT_EQ(c->parameters[2].default_val, "pi");  // quotes removed by update_form
  ASSERT_EQ(c->constants.size(), 2u);
  EXPECT_EQ(c->constants[1].value, "0.01");

  ASSERT_EQ(c->construct.args.size(), 2u);
  EXPECT_EQ(c->construct.args[0].name, "limit");
  ASSERT_EQ(c->init_calls.size(), 1u);
  EXPECT_EQ(c->init_calls[0].method_name, "start");
  ASSERT_EQ(c->tick_calls.size(), 1u);
  EXPECT_EQ(c->tick_calls[0].method_name, "step");
  EXPECT_EQ(c->tick_calls[0].args.size(), 4u);
  EXPECT_EQ(c->tick_calls[0].return_to, "u");
  ASSERT_EQ(c->final_calls.size(), 1u);
  EXPECT_EQ(c->final_calls[0].method_name, "stop");
}

TEST(ParseFile, FunctionNodeJsonByteForByte) {
  auto nodes = parse_quietly(seed("scale_function.h"), nullptr);
  ASSERT_EQ(nodes.size(), 1u);
  const std::string path = seed("scale_function.h");
  const std::string dir = std::string(VESK_SOURCE_DIR) + "/fuzz/corpus/";
  EXPECT_EQ(nodes[0]->to_json().dump(),
            "{\"name\":\"scale\",\"project\":\"prj\",\"header\":\"\",\"nspace\":\"\",\"info\":\"\","
            "\"raster\":\"auto\",\"file_name\":\"" + path + "\",\"line_nr\":7.000000,"
            "\"inputs\":[{\"name\":\"x\",\"var_name\":\"x\",\"type\":\"double\",\"default\":\"0\","
            "\"is_member\":false}],"
            "\"outputs\":[{\"name\":\"y\",\"var_name\":\"y\",\"type\":\"double\",\"is_member\":false}],"
            "\"parameters\":[{\"name\":\"gain\",\"var_name\":\"gain\",\"form\":\"text\",\"type\":\"double\","
            "\"opts\":\"\",\"default\":\"2\"}],"
            "\"constants\":null,\"libs\":[],\"additional_files\":[\"" + dir + "scale_impl.cpp\"],"
            "\"function\":{\"method_name\":\"scale\",\"args\":[{\"name\":\"x\",\"type\":\"double\","
            "\"default_val\":\"\"},{\"name\":\"gain\",\"type\":\"double\",\"default_val\":\"\"}],"
            "\"return_to\":\"y\",\"return_type\":\"double\"}}");
}

TEST(ParseFile, AutomaticRasterSource) {
  std::vector<std::string> errors;
  auto nodes = parse_quietly(seed("clock_source.h"), &errors);
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(nodes.size(), 1u);
  auto* c = dynamic_cast<block_class*>(nodes[0].get());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->class_name, "clock_source");
  EXPECT_EQ(c->raster, "source");
  EXPECT_EQ(c->nspace, "io::");
  EXPECT_EQ(c->info, " Wakes the model every period.");
  EXPECT_TRUE(c->inputs.empty());
  ASSERT_EQ(c->outputs.size(), 1u);
  EXPECT_EQ(c->outputs[0].name, "ticks");
  EXPECT_EQ(c->outputs[0].src_line, 12u);
  ASSERT_EQ(c->parameters.size(), 1u);
  EXPECT_EQ(c->parameters[0].default_val, "10");
  EXPECT_TRUE(c->has_node_name_var);
  EXPECT_TRUE(c->has_raster_interval_var);
  ASSERT_EQ(c->poll_calls.size(), 1u);
  EXPECT_EQ(c->poll_calls[0].return_type, "vesk::time");
  EXPECT_TRUE(c->tick_calls.empty());
  EXPECT_EQ(c->init_calls.size(), 1u);
  EXPECT_EQ(c->final_calls.size(), 1u);
}

TEST(ParseFile, AutomaticFunction) {
  std::vector<std::string> errors;
  auto nodes = parse_quietly(seed("auto_function.h"), &errors);
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(nodes.size(), 1u);
  auto* f = dynamic_cast<block_function*>(nodes[0].get());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->name, "lowpass");
  EXPECT_EQ(f->raster, "r10ms");
  EXPECT_EQ(f->line_nr, 5);
  ASSERT_EQ(f->inputs.size(), 2u);
  EXPECT_EQ(f->inputs[1].name, "alpha");
  EXPECT_EQ(f->inputs[1].default_val, "0.5");
  ASSERT_EQ(f->outputs.size(), 2u);
  EXPECT_EQ(f->outputs[0].name, "out");
  EXPECT_EQ(f->function.args.size(), 4u);
}

TEST(ParseFile, UnreadablePaths) {
  const std::string missing = std::string(VESK_BINARY_DIR) + "/no/such/node.h";
  try {
    parse_file(missing, "prj");
    FAIL() << "no exception";
  } catch (const vesk::util::bt_exception& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to open file: " + missing);
  }
  // A folder reads as an empty text.
  EXPECT_TRUE(parse_quietly(std::string(VESK_SOURCE_DIR) + "/fuzz/corpus", nullptr).empty());
}

}  // namespace
