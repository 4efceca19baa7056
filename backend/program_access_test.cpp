// Who may reach the real program: only the owner's editor on the GUI port, and on the
// model port only a model of the owner's on this machine or one on a host the project
// names. Refused connections leave the editor's session and the model link as they were.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend/model_link_test_util.h"
#include "io/socket_owner.h"

namespace core_test {
namespace {

TEST(ProgramAccess, OnlyTheOwnersEditorAndModelReachVesk) {
  const uint32_t outward = outward_address();
  const std::string host = outward ? vesk::io::address_text(outward) : "";
  constexpr int ours = -1, nobody = 65534;
  struct row {
    const char* name;
    bool model;          // the model port, else the GUI port
    int user;            // whose socket connects
    bool outward;        // from this machine's outward address, as another host
    const char* origin;  // the handshake's Origin header; nullptr: none
    std::string refusal;  // the line it gets; "": served
  };
  const std::vector<row> rows = {
      {"another user's editor", false, nobody, false, nullptr,
       "error: Refused a GUI connection: its socket belongs to user 65534, not to user " +
           std::to_string(::geteuid())},
      {"a page of a local web server", false, ours, false, "http://localhost:8000",
       "error: Refused a GUI connection from the web origin 'http://localhost:8000': only the editor's own pages"},
      {"an extension's page", false, ours, false, "chrome-extension://abc", "origin 'chrome-extension://abc'"},
      {"the editor's page", false, ours, false, "file://", ""},
      {"the editor without an Origin", false, ours, false, nullptr, ""},
      {"another user's model", true, nobody, false, nullptr, "warn: Model port: refused a connection from 127.0.0.1:"},
      {"a model on a host not named", true, ours, true, nullptr,
       "warn: Model port: refused a connection from " + host + ", a host the project does not name. To serve a " +
           "model on that host, add \"" + host + "\" to \"model_hosts\" in "},
      {"a model on a named host", true, ours, true, nullptr, ""},
      {"another user's model through that named address of this machine", true, nobody, true, nullptr,
       "warn: Model port: refused a connection from " + host + ":"},
      {"the owner's model", true, ours, false, nullptr, ""},
  };
  link_env env;
  auto linked = env.connect();
  ASSERT_GE(env.wait_online(), 0);
  env.subscribe(*linked);
  std::string skipped;
  for (const row& r : rows) {
    if (r.user != ours && ::geteuid() != 0) {
      skipped += std::string(" ") + r.name + " (a second user needs root);";
      continue;
    }
    if (r.outward && outward == 0) {
      skipped += std::string(" ") + r.name + " (this machine has no address outside the loopback);";
      continue;
    }
    if (r.model && r.outward && r.refusal.empty()) {
      // The project names the host: the back end reads it with the next poll.
      env.p.tmp.put(env.p.cfg.lexically_relative(env.p.tmp.path),
                    R"({"model":"m","runtime":"sim","model_hosts":[")" + host + R"("]})");
      ASSERT_GE(env.e->wait_for([](vesk::json& m) {
        return m["cmd"] == "backend_state" && m["state"]["prj_cfg"].contains("model_hosts");
      }), 0);
    }
    const int fd = r.user != ours ? sockets_of_user(static_cast<uid_t>(r.user), 1).at(0)
                                  : socket_bound_to(r.outward ? outward : htonl(INADDR_LOOPBACK));
    const uint32_t to = r.outward ? outward : htonl(INADDR_LOOPBACK);
    const std::string out = env.p.out();
    const size_t replaced = occurrences(out, "Only one GUI connection"), models = occurrences(out, "Model connected");
    if (r.model) {
      fake_link::model m(env.p.model_port, signal_records(), parameter_records(), 2, fd, to);
      if (r.refusal.empty()) {
        // Served: it takes the link over, as a model that reconnects does.
        EXPECT_TRUE(env.wait_out("info: Model connected...", models + 1)) << r.name;
        EXPECT_TRUE(linked->wait([&] { return linked->peer_closed(); })) << r.name;
        linked = std::make_unique<fake_link::model>(env.p.model_port, signal_records(), parameter_records());
        EXPECT_TRUE(env.wait_out("info: Model connected...", models + 2)) << r.name;
        env.subscribe(*linked);
      } else {
        EXPECT_TRUE(m.wait([&] { return m.peer_closed(); })) << r.name;
        EXPECT_TRUE(env.wait_out(r.refusal)) << r.name << env.p.out();
        EXPECT_TRUE(m.received().empty()) << r.name;  // not even the handshake's first frame
      }
    } else {
      wc::client c(env.p.gui_port, fd, to);
      std::string request = wc::handshake_request();
      if (r.origin) request = request.substr(0, request.size() - 2) + "Origin: " + r.origin + "\r\n\r\n";
      c.send_raw(env.e->idle, request);
      eventually([&] { return !c.poll_input(0) || c.received.find("\r\n\r\n") != std::string::npos; });
      EXPECT_EQ(c.received.rfind("HTTP/1.1 101", 0) == 0, r.refusal.empty()) << r.name << c.received;
      if (r.refusal.empty()) {
        // Served: it replaces the session, and the editor connects again after it.
        EXPECT_TRUE(env.wait_out("Only one GUI connection", replaced + 1)) << r.name;
        env.e = std::make_unique<editor>(env.p.gui_port);
        ASSERT_TRUE(env.e->open());
        env.subscribe(*linked);
      } else {
        EXPECT_TRUE(env.wait_out(r.refusal)) << r.name << env.p.out();
      }
    }
    // A refused connection leaves the editor's session and the model link as they were.
    if (!r.refusal.empty()) {
      EXPECT_TRUE(env.e->answers()) << r.name;
      EXPECT_EQ(occurrences(env.p.out(), "Only one GUI connection"), replaced) << r.name;
    }
    EXPECT_TRUE(env.value_flows(*linked, 2.5)) << r.name;
  }
  if (!skipped.empty()) GTEST_SKIP() << "Not tried:" << skipped;
}

}  // namespace
}  // namespace core_test
