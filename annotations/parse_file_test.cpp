// End-to-end: realistic node headers (the fuzzing seeds) read from disk by parse_file.

#include <gtest/gtest.h>

#include "annotations/scanner.h"
#include "annotations/test_util.h"
#include "foundation/bt_exception.h"
#include "foundation/log_capture.h"

using namespace vesk::annotations;

namespace {

const std::string kDir = std::string(VESK_SOURCE_DIR) + "/fuzz/corpus/";

/// Parses a seed and expects no error line.
std::shared_ptr<block_base> parse_seed(const std::string& name) {
  log_capture err(log_err);
  log_capture warn(log_warn);
  auto nodes = parse_file(kDir + name, "prj");
  EXPECT_TRUE(err.lines.empty()) << err.lines[0];
  EXPECT_EQ(nodes.size(), 1u);
  return nodes.empty() ? std::make_shared<block_class>() : nodes[0];
}

TEST(ParseFile, ClassNodeInsideNamespaces) {
  auto node = parse_seed("pi_controller.h");
  EXPECT_EQ(summary(*node),
            "class pi_controller@12 ns=ctl::filters:: info=PI controller.\nLimits its integrator "
            "to the output range. in e:double=0.0  in reset:bool=false out u:double "
            "par kp:double=1.5 par ki:double=0.1 par name:std::string=pi const limit=10.0 "
            "const dt=0.01 ctor (limit,dt) init start() tick step(e,reset,kp,ki)->u final stop()");
  EXPECT_EQ(node->project, "prj");
  EXPECT_EQ(node->file_name, kDir + "pi_controller.h");
  EXPECT_EQ(node->libs, std::vector<std::string>{"m"});
  EXPECT_TRUE(node->inputs[1].is_member && node->outputs[0].is_member);
}

TEST(ParseFile, FunctionNodeJsonByteForByte) {
  auto node = parse_seed("scale_function.h");
  EXPECT_EQ(node->to_json().dump(),
            "{\"name\":\"scale\",\"project\":\"prj\",\"header\":\"\",\"nspace\":\"\",\"info\":\"\","
            "\"raster\":\"auto\",\"file_name\":\"" + kDir + "scale_function.h\",\"line_nr\":7.000000,"
            "\"inputs\":[{\"name\":\"x\",\"var_name\":\"x\",\"type\":\"double\",\"default\":\"0\","
            "\"is_member\":false}],"
            "\"outputs\":[{\"name\":\"y\",\"var_name\":\"y\",\"type\":\"double\",\"is_member\":false}],"
            "\"parameters\":[{\"name\":\"gain\",\"var_name\":\"gain\",\"form\":\"text\",\"type\":\"double\","
            "\"opts\":\"\",\"default\":\"2\"}],"
            "\"constants\":null,\"libs\":[],\"additional_files\":[\"" + kDir + "scale_impl.cpp\"],"
            "\"function\":{\"method_name\":\"scale\",\"args\":[{\"name\":\"x\",\"type\":\"double\","
            "\"default_val\":\"\"},{\"name\":\"gain\",\"type\":\"double\",\"default_val\":\"\"}],"
            "\"return_to\":\"y\",\"return_type\":\"double\"}}");
}

TEST(ParseFile, AutomaticRasterSource) {
  auto node = parse_seed("clock_source.h");
  EXPECT_EQ(summary(*node),
            "class clock_source@6 ns=io:: raster=source@7 info= Wakes the model every period. "
            "out ticks/out_ticks:double par period_ms/param_period_ms:int=10 init init():void "
            "final final():void poll poll():vesk::time");
  auto& c = dynamic_cast<block_class&>(*node);
  EXPECT_TRUE(c.has_node_name_var && c.has_raster_interval_var);
  EXPECT_EQ(c.outputs[0].src_line, 12u);
}

TEST(ParseFile, AutomaticFunction) {
  // The node takes the line of the declaration; every argument is a pin and passes it.
  EXPECT_EQ(summary(*parse_seed("auto_function.h")),
            "func lowpass(x:double,y:double&,n:int=3,alpha:double=0.5)->out:double@5 raster=r10ms@4 "
            "in x/in_x:double in alpha/in_alpha:double=0.5 out out:double out y/out_y:double& "
            "par n/param_n:int=3");
}

TEST(ParseFile, UnreadablePaths) {
  const std::string missing = std::string(VESK_BINARY_DIR) + "/no/such/node.h";
  try {
    parse_file(missing, "prj");
    FAIL() << "no exception";
  } catch (const vesk::util::bt_exception& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to open file: " + missing);
  }
  EXPECT_TRUE(parse_file(kDir, "prj").empty());  // a folder reads as an empty text
}

}  // namespace
