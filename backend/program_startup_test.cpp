// Start-up of the real program: options, exit statuses, the project file, the port
// search with its log lines, and which addresses the two ports listen on.
#include <arpa/inet.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend/core_test_util.h"
#include "foundation/helpers.h"

namespace core_test {
namespace {

const std::string usage =
    "Usage:\n\tvesk [options] vcfg-file\n\nOptions:\n\t-h,  --help                Shows this screen\n"
    "\t-s,  --start               Starts the configuration\n\t-ng, --no-gui              Starts without GUI\n"
    "\t-gp, --gui-port <port>     Default: 15100\n\t-mp, --model-port <port>   Default: 15101\n\n";

TEST(ProgramStartup, OptionsAndExitStatuses) {
  struct row {
    std::vector<std::string> args;
    int status;
    std::string out_begins;
    std::string err_begins;  // a refused command line: the reason, then the usage
    std::string project_text = "";  // written to the last argument first; "{cwd}" in out_begins is the folder
  };
  const std::vector<row> rows = {
      {{"--help", "new/missing.vcfg"}, 0, usage, ""},
      {{"-h", "-x"}, 0, usage, ""},
      {{"-gp", "15101"}, 255, "'15101' is not a project configuration file", ""},
      {{"-ng"}, 1, "unable to open file: ", ""},  // the default project beside the copy is missing
      // A name the project cannot have is refused before the file is made.
      {{"-ng", "bad-name.vcfg"}, 1, "error: An exception occured: Error opening '", ""},
      // A project file before an option is ignored, and said to be.
      {{"x.vcfg", "-ng"}, 1,
       "warning: Argument 'x.vcfg' is ignored: only the last argument names the project configuration file\n"
       "unable to open file: ", ""},
      {{"-gp", "abc", "x.vcfg"}, 2, "", "not a port number (1 to 65535): -gp abc\n\n" + usage},
      {{"--gui-port", "99999", "x.vcfg"}, 2, "", "not a port number (1 to 65535): --gui-port 99999\n"},
      {{"-mp", "70000", "-ng", "x.vcfg"}, 2, "", "not a port number (1 to 65535): -mp 70000\n"},
      {{"--model-port", "0", "x.vcfg"}, 2, "", "not a port number (1 to 65535): --model-port 0\n"},
      {{"-gp", "", "x.vcfg"}, 2, "", "not a port number (1 to 65535): -gp \n"},
      {{"-gp", "123456789012345678901", "x.vcfg"}, 2, "", "not a port number (1 to 65535): -gp 123456789012345678901\n"},
      {{"-ng", "-gp"}, 2, "", "missing port number after -gp\n"},
      {{"-ng", "--strat", "x.vcfg"}, 2, "", "unknown option: --strat\n\n" + usage},
      {{"-ng", "kind.vcfg"}, 1,
       "error: An exception occured: Error reading {cwd}/kind.vcfg: Value true of key \"model\" is a bool, expected a "
       "text or null",
       "", R"({"model":true})"},
  };
  for (const row& r : rows) {
    program p;
    if (!r.project_text.empty()) p.tmp.put("cwd/" + r.args.back(), r.project_text);
    p.start(r.args, true);
    EXPECT_EQ(p.wait_end(), r.status) << r.args[0];
    EXPECT_EQ(p.out().rfind(replace_all(r.out_begins, "{cwd}", fs::canonical(p.cwd).string()), 0), 0u)
        << r.args[0] << "\n" << p.out();
    EXPECT_EQ(p.err().rfind(r.err_begins, 0), 0u) << r.args[0] << "\n" << p.err();
    // A refused command line neither creates the project file nor starts anything.
    EXPECT_TRUE(r.status != 2 || p.out().empty()) << r.args[0] << "\n" << p.out();
    EXPECT_FALSE(fs::exists(p.cwd / "x.vcfg")) << r.args[0];
    EXPECT_FALSE(fs::exists(p.cwd / "bad-name.vcfg")) << r.args[0];
    // Only a start that gets as far as the controller (here failing in it) makes the user's folder.
    EXPECT_EQ(p.out().find("An exception occured: Error reading") != std::string::npos, fs::exists(p.home / ".config"))
        << r.args[0];
  }
  program p;
  p.start({"-ng", "sub dir/new.vcfg"}, true);
  EXPECT_EQ(p.wait_end(), 1);
  EXPECT_EQ(slurp(p.cwd / "sub dir" / "new.vcfg"), "{}");
  EXPECT_FALSE(fs::exists(p.cwd / "new" / "missing.vcfg"));
}

TEST(ProgramStartup, BrokenJsonFilesAreNamedAfterTheParsersLines) {
  program p;
  const fs::path user = p.home / ".config" / "vesk";
  const std::vector<std::vector<std::string>> rows = {  // file, text, what follows its name
      {(user / "vesk.cfg").string(), R"({"hg_tool":"x" "git_tool":"y"})", ":1:16: syntax error in JSON text"},
      {(user / "model_perspectives.json").string(), "{\"m\":{}\n\"n\":{}}", ":2:1: syntax error in JSON text"},
      {(p.ws / "other/models/m.vmdl").string(), "{\"nodes\":[]\n,\"x\":1 2}", ":2:8: syntax error in JSON text"},
      {p.cfg.string(), R"({"model":-})", ": malformed number in JSON text"}};  // no lines of the parser
  for (const auto& r : rows) p.tmp.put(fs::path(r[0]).lexically_relative(p.tmp.path), r[1]);
  ASSERT_TRUE(p.start_running()) << p.out();
  const std::string out = "\n" + p.out();
  for (const auto& r : rows) {
    const size_t at = out.find("\nerror: " + r[0] + r[2] + "\n");
    ASSERT_NE(at, std::string::npos) << r[2] << out;
    EXPECT_EQ(out.find("\nerror: " + r[0] + r[2] + "\n", at + 1), std::string::npos) << r[2] << out;  // once
    EXPECT_TRUE(r[2][1] == ' ' || out.rfind("\nerror: json_parse_error", at - 1) == out.rfind('\n', at - 1))
        << r[2] << out;  // right after the parser's lines (the last may count those not reported)
  }
}

TEST(ProgramStartup, FilesPastTheirBoundAreNamedAndNeitherReadNorWrittenOver) {
  program p;
  const fs::path user = p.home / ".config" / "vesk";
  // Sparse files of 1 GiB: reading any of them would show in the peak.
  const std::pair<fs::path, const char*> rows[] = {
      {user / "vesk.cfg", "16777216"}, {user / "model_perspectives.json", "16777216"}, {p.ws / "rt_x/config_def.json", "1048576"}};
  for (const auto& [f, limit] : rows) fs::resize_file(p.tmp.put(f.lexically_relative(p.tmp.path)), 1u << 30);
  ASSERT_TRUE(p.start_running()) << p.out();
  for (const auto& [f, limit] : rows) {
    EXPECT_NE(p.out().find("Unable to read file: " + f.string() + " (1073741824 bytes, more than the limit of " + limit),
              std::string::npos) << f;
    EXPECT_EQ(fs::file_size(f), 1u << 30) << f;  // nor written over
  }
#ifndef VESK_SANITIZE
  EXPECT_LT(p.peak_memory_kib(), 256u << 10);
#endif
}

/// Listening sockets of /proc/net/tcp: port -> local address as the table writes it.
std::vector<std::pair<unsigned, std::string>> listening() {
  std::vector<std::pair<unsigned, std::string>> out;
  std::istringstream table(slurp("/proc/net/tcp"));
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream f(line);
    std::string slot, local, remote, state;
    f >> slot >> local >> remote >> state;
    if (state != "0A") continue;  // LISTEN
    out.emplace_back(std::stoul(local.substr(9), nullptr, 16), local.substr(0, 8));
  }
  return out;
}

TEST(ProgramStartup, PortSearchAndListeningAddresses) {
  program p;
  p.gui_port = free_port();
  p.model_port = free_port();
  const uint16_t asked_gui = p.gui_port, asked_model = p.model_port;
  busy_port g(p.gui_port, INADDR_LOOPBACK), m(p.model_port);
  ASSERT_GE(g.fd, 0);
  ASSERT_GE(m.fd, 0);
  ASSERT_TRUE(p.start_running()) << p.out();
  const std::string out = "\n" + p.out();
  const std::string gui_line = "\nGUI-Port " + std::to_string(asked_gui) + " is in use. Using ";
  const std::string model_line = "\nModel-Port " + std::to_string(asked_model) + " is in use. Using ";
  ASSERT_NE(out.find(gui_line), std::string::npos) << out;
  ASSERT_NE(out.find(model_line), std::string::npos) << out;
  const unsigned gui = std::stoul(out.substr(out.find(gui_line) + gui_line.size()));
  const unsigned model = std::stoul(out.substr(out.find(model_line) + model_line.size()));
  EXPECT_GT(gui, asked_gui);
  EXPECT_EQ(gui, p.gui_port);
  EXPECT_GT(model, asked_model);
  EXPECT_EQ(model, p.model_port);
  std::string gui_address, model_address;
  for (const auto& [port, address] : listening()) {
    if (port == gui) gui_address = address;
    if (port == model) model_address = address;
  }
  EXPECT_EQ(gui_address, "0100007F");    // 127.0.0.1 only
  EXPECT_EQ(model_address, "00000000");  // every interface
  editor e(static_cast<uint16_t>(gui));
  EXPECT_TRUE(e.answers());
}

TEST(ProgramStartup, NoFreePortFailsNamingTheRange) {
  {
    program p;
    busy_port top(65535, INADDR_LOOPBACK);
    if (top.fd < 0) GTEST_SKIP() << "port 65535 is taken by another program";
    p.gui_port = 65535;
    p.start();
    EXPECT_EQ(p.wait_end(), 1);
    EXPECT_NE(p.out().find("An exception occured: Unable to open the GUI port: none of the ports 65535 to 65535 "
                           "could be bound on 127.0.0.1."),
              std::string::npos)
        << p.out();
  }
  // The search tries the last port too.
  program p;
  busy_port below(65534);
  if (below.fd < 0) GTEST_SKIP() << "port 65534 is taken by another program";
  p.model_port = 65534;
  ASSERT_TRUE(p.start_running()) << p.out();
  EXPECT_NE(p.out().find("Model-Port 65534 is in use. Using 65535 instead..."), std::string::npos) << p.out();
}

}  // namespace
}  // namespace core_test
