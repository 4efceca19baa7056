// Models that misbehave, against the real program: each fault is reported as the link's
// rules say, the program stays up, and the next model that connects is served. Also an
// editor that stops reading, and a model that ignores "quit" when a run is stopped.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend/model_link_test_util.h"

namespace core_test {
namespace {

/// The program with a model that offers signal "a" and parameter "p" only.
struct fault_env : link_env {
  std::unique_ptr<fake_link::model> connect() {
    return link_env::connect({def_record("a", 11)}, {def_record("p", 11)});
  }
};

TEST(ProgramModelFaults, EachFaultIsSurvivedAndTheNextModelIsServed) {
  const struct {
    const char* name;
    std::function<void(fault_env&, fake_link::model&)> run;
  } rows[] = {
      {"counter jump",
       [](fault_env& env, fake_link::model& m) {
         ::usleep(700000);  // past the first counter, which is taken as it comes
         m.counter += 10;
         EXPECT_TRUE(env.wait_out("error: Model online counter missmatch. Model reset detected. Reconnecting..."));
         EXPECT_NE(m.wait_frame(0, 1), "?");  // a new handshake on the same connection
         EXPECT_TRUE(env.wait_out("info: Model connected...", 2));
       }},
      {"silence",
       [](fault_env& env, fake_link::model& m) {
         m.send_online = false;
         EXPECT_TRUE(env.wait_out("info: Watchdog-timeout for model. Force disconnected...", 1, 8000));
         EXPECT_NE(m.wait_frame(0, 1), "?");
         EXPECT_TRUE(env.wait_out("info: Model connected...", 2));
       }},
      {"garbage",
       [](fault_env& env, fake_link::model& m) {
         env.subscribe(m);
         m.send_raw(std::string("\x55\x55\x41\x00garbage\x55\x41\x20\x00\xff\xff\xff\xff\x00", 20));
         EXPECT_TRUE(env.value_flows(m, 3.0));
       }},
      {"bad checksum",
       [](fault_env& env, fake_link::model& m) {
         env.subscribe(m);
         const size_t from = env.e->binaries.size();
         m.send(32, daq_record(0, raw8(1.0)), true);
         EXPECT_TRUE(env.value_flows(m, 2.0));
         EXPECT_EQ(env.e->binaries.size(), from + 1);  // only the good one
       }},
      {"huge length",
       [](fault_env& env, fake_link::model& m) {
         env.subscribe(m);
         m.send_raw(fake_link::frame(32, "").substr(0, 4) + std::string("\xf0\xff\xff\xff", 4) +
                    std::string(1, char(0x55 ^ 0x41 ^ 0x20 ^ 0xf0)));
         EXPECT_TRUE(env.value_flows(m, 4.0));
       }},
      {"no acknowledgements",
       [](fault_env& env, fake_link::model& m) {
         m.acknowledge = false;
         env.e->send(R"({"cmd":"set_daq_list","list":["a"]})");
         m.wait_frame(3, 8);
         m.send(32, daq_record(0, raw8(1.0)));
         env.e->drain(500);
         EXPECT_TRUE(env.e->binaries.empty());
       }},
      {"half a frame, then close",
       [](fault_env& env, fake_link::model& m) {
         m.send_raw(fake_link::frame(32, daq_record(0, raw8(1.0))).substr(0, 14));
         m.close_after_sending();
         EXPECT_TRUE(env.wait_out("info: Model disconnected..."));
         EXPECT_GE(env.wait_online(false, 0), 0);
       }},
  };
  for (const auto& r : rows) {
    fault_env env;
    auto m = env.connect();
    ASSERT_GE(env.wait_online(), 0) << r.name;
    r.run(env, *m);
    EXPECT_TRUE(env.e->answers()) << r.name;
    // The next model is served from the start.
    m.reset();
    const size_t from = env.e->seen.size();
    auto next = env.connect();
    EXPECT_GE(env.wait_online(true, from), 0) << r.name << env.p.out();
    EXPECT_NE(next->wait_frame(3), "?") << r.name;
    EXPECT_FALSE(env.p.ended()) << r.name;
  }
}

TEST(ProgramModelFaults, AnEditorThatStopsReadingLosesSignalValuesButNoReplies) {
  fault_env env;
  auto m = env.connect();
  ASSERT_GE(env.wait_online(), 0);
  env.subscribe(*m);
  // About 40 MB of values while the editor reads nothing.
  std::string records;
  while (records.size() < 65000) records += daq_record(0, raw8(1.0));
  const size_t packets = 600;
  for (size_t i = 0; i < packets; ++i) m->send(32, records);
  EXPECT_TRUE(env.wait_out("warn: The editor reads signal values slower than the model sends them", 1, 20000))
      << env.p.out();
  ASSERT_TRUE(m->wait([&] { return m->count() > 0; }));
  env.e->send(R"({"cmd":"get_backend_state"})");
  // Reading again: the reply arrives, and fewer values than were sent.
  const size_t before = env.e->seen.size();
  EXPECT_GE(env.e->wait_cmd("backend_state", "", 30000, before), 0);
  env.e->drain(1000);
  size_t bytes = 0;
  for (const std::string& b : env.e->binaries) bytes += b.size();
  EXPECT_GT(bytes, 0u);
  EXPECT_LT(bytes, packets * (records.size() + 2));
  EXPECT_EQ(occurrences(env.p.out(), "warn: The editor reads signal values slower"), 1u);
}

TEST(ProgramModelFaults, StoppingARunSendsQuitAndEndsAModelThatIgnoresIt) {
  for (bool obey : {true, false}) {
    fault_env env;
    env.p.stub_cli("exec sleep 30");
    // The stub build runs; the fake model stands for the model it would start.
    env.e->send(R"({"cmd":"build"})");
    auto m = env.connect();
    ASSERT_GE(env.wait_online(), 0);
    m->obey_quit = obey;
    env.subscribe(*m);
    const size_t before = m->count();
    env.e->send(R"({"cmd":"kill_build"})");
    // The emptied list first, then "quit".
    EXPECT_EQ(m->wait_frame(3, before), "") << obey;
    EXPECT_EQ(m->wait_frame(6, before), "quit") << obey;
    const size_t from = env.e->seen.size();
    EXPECT_GE(env.e->wait_for([](vesk::json& msg) {
      return msg["cmd"] == "backend_state" && msg["state"]["build_state"].get_double() == 0;
    }, 10000, from), 0) << obey;
    EXPECT_EQ(env.p.out().find("Build failed"), std::string::npos) << env.p.out();
  }
}

}  // namespace
}  // namespace core_test
