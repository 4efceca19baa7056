// The real program, driven over the GUI port: replies byte for byte, pushes, bad input
// that must not end the back end, one editor at a time, and web pages kept out.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend/core_test_util.h"
#include "backend/model_link_test_util.h"
#include "backend/session.h"

namespace core_test {
namespace {

TEST(ProgramSession, RepliesAreExactJsonText) {
  program p;
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  ASSERT_TRUE(e.open()) << e.head;
  struct row {
    const char* request;
    const char* reply_cmd;
    std::string reply;
  };
  const std::vector<row> rows = {
      {R"({"cmd":"get_perspective","mdl":"none"})", "get_perspective",
       "{\n  \"cmd\": \"get_perspective\",\n  \"perspective\": {\n    \"scale\": -1.000000\n  }\n}"},
      {R"({"cmd":"get_view_config","requests":[]})", "view_config",
       "{\n  \"cmd\": \"view_config\",\n  \"requests\": [\n  ]\n}"},
      {R"({"cmd":"get_view_config"})", "view_config", "{\n  \"cmd\": \"view_config\",\n  \"requests\": [\n  ]\n}"},
      // Without "node" the entry has none; a port named twice is one pin, an output named like an input none.
      {R"({"cmd":"get_view_config","requests":[{"block_config":{"type":"base","cfg":{"node":"subsystem","nodes":[)"
       R"({"type":"base","name":"a","cfg":{"node":"input"}},{"type":"base","name":"b","cfg":{"node":"output"}},)"
       R"({"type":"base","name":"a","cfg":{"node":"output"}},{"type":"base","name":"a","cfg":{"node":"input"}}]}}}]})",
       "view_config",
       "{\n  \"cmd\": \"view_config\",\n  \"requests\": [\n    {\n      \"view_config\": {\n        \"default_name\": "
       "\"subsystem\",\n        \"raster\": \"\",\n        \"file_name\": \"\",\n        \"search_str\": \"\",\n        "
       "\"line_nr\": 0.000000,\n        \"inputs\": {\n          \"a\": {\n            \"type\": \"auto\",\n            "
       "\"default_value\": \"\"\n          }\n        },\n        \"outputs\": {\n          \"b\": {\n            \"type\": "
       "\"auto\",\n            \"raster\": \"block\"\n          }\n        },\n        \"error\": false,\n        "
       "\"error_string\": \"\"\n      }\n    }\n  ]\n}"},
      {R"({"cmd":"get_properties","node_id":7,"block_config":{"type":"nope","cfg":{}}})", "node_properties",
       "{\n  \"cmd\": \"node_properties\",\n  \"node_id\": 7.000000,\n  \"props\": [\n    {\n      \"form\": "
       "\"headline\",\n      \"lbl\": \"Error getting properties...\"\n    }\n  ]\n}"},
      {R"({"cmd":"get_properties","node":"a","block_config":{"type":"func","cfg":{}}})", "node_properties",
       "{\n  \"cmd\": \"node_properties\",\n  \"props\": [\n  ],\n  \"node\": \"a\"\n}"},
      {R"({"cmd":"get_properties","block_config":{"type":"nope"}})", "node_properties",
       "{\n  \"cmd\": \"node_properties\",\n  \"node_id\": null,\n  \"props\": [\n    {\n      \"form\": "
       "\"headline\",\n      \"lbl\": \"Error getting properties...\"\n    }\n  ]\n}"},
  };
  for (const row& r : rows) {
    const size_t from = e.seen.size();
    e.send(std::string(r.request));
    int at = e.wait_cmd(r.reply_cmd, "", 10000, from);
    ASSERT_GE(at, 0) << r.request;
    EXPECT_EQ(e.raw[at], r.reply) << r.request;
  }
  // A stored perspective comes back as stored.
  e.send(R"({"cmd":"set_perspective","mdl":"m","perspective":{"scale":2,"x":[1]}})");
  const size_t from = e.seen.size();
  e.send(R"({"cmd":"get_perspective","mdl":"m"})");
  int at = e.wait_cmd("get_perspective", "", 10000, from);
  ASSERT_GE(at, 0);
  EXPECT_EQ(e.seen[at]["perspective"].dump(), R"({"scale":2.000000,"x":[1.000000]})");
  EXPECT_TRUE(eventually(
      [&] { return slurp(p.home / ".config/vesk/model_perspectives.json").find("\"x\"") != std::string::npos; }));
}

// `count` times `item` between `head` and `tail`, comma-separated; `depth` brackets around
// them make a value small to send and large once written with the indent.
std::string repeated(const std::string& head, const std::string& item, size_t count, const std::string& tail,
                     int depth = 0) {
  std::string text = head + std::string(depth, '[');
  for (size_t i = 0; i < count; ++i) text += (i ? "," : "") + item;
  return text + std::string(depth, ']') + tail;
}

TEST(ProgramSession, CommandsThatMultiplyTheirCostAreBoundedAtTheirEdge) {
  program p;
  // Models of 16 MiB and one of a byte in a folder the back end does not load: one
  // message may read 32 MiB of them, and not a byte more.
  for (const char* m : {"a", "b"})
    p.tmp.put(std::string("my ws/x-y/models/") + m + ".vmdl", "{\"nodes\":{}}" + std::string((16 << 20) - 12, ' '));
  p.tmp.put("my ws/x-y/models/c.vmdl", " ");
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  const std::string views = R"({"cmd":"get_view_config","requests":[)", func = R"("block_config":{"type":"func"}})";
  const auto ref = [](const char* m) {
    return std::string(R"({"node":"r","block_config":{"type":"base","cfg":{"node":"reference","prj":"x-y","mdl":")") +
           m + "\"}}}";
  };
  const auto prj_cfg = [](int depth) {
    return R"({"cmd":"write_prj_config","cfg":{"runtime_configs":{"sim":)" + std::string(depth, '[') +
           std::string(depth, ']') + "}}}";
  };
  const std::vector<std::pair<std::string, std::string>> rows = {  // request, start of its error line ("": none)
      {repeated(views, "{\"node\":\"a\"," + func, 10000, "]}"), ""},
      {repeated(views, "{\"node\":\"a\"," + func, 10001, "]}"),
       "get_view_config: 10001 requests in one message, more than the 10000 that are answered; nothing answered."},
      {repeated(views + "{\"node\":", "1", 500000, "," + func + "]}", 40),
       "get_view_config: the reply would pass 33554432 bytes at request 1 of 1,"},
      {repeated(R"({"cmd":"get_properties","block_config":{},"node_id":)", "1", 400000, "}", 100),
       "The message \"node_properties\" of "},
      {repeated(R"({"cmd":"set_daq_list","list":[)", "\"\"", 100000, "]}"), ""},
      {repeated(R"({"cmd":"set_paq_list","list":[)", "\"\"", 100001, "]}"),
       "set_paq_list: 100001 names, more than the 100000 that may be subscribed; the list was not changed."},
      {repeated(R"({"cmd":"nope","x":)", "1", 10000, "}", 100),
       "received unkonwn command: a request of more than 1048576 bytes, not shown."},
      {views + ref("a") + "," + ref("a") + "," + ref("b") + "," + ref("c") + "]}",
       "get_view_config: the referenced models would take 33554433 bytes to read at request 4 of 4, more than the "
       "33554432 that one message may read; nothing answered."},
      {prj_cfg(31), "write_prj_config was not applied: it nests deeper than 32 levels, more than the back end's state "
                    "may carry."},
      {R"({"cmd":"write_vesk_config","cfg":{"hg_tool":")" + std::string(16 << 20, 'x') + "\"}}",
       "write_vesk_config was not applied: it takes more than 16777216 bytes as the back end's state carries it, the "
       "limit of one configuration."},
  };
  size_t replies = 0;
  for (const auto& [request, error] : rows) {
    const size_t from = e.seen.size();
    e.send(request);
    ASSERT_TRUE(e.answers()) << request.substr(0, 80);  // the connection stays and is served
    std::vector<std::string> errors;
    for (size_t i = from; i < e.seen.size(); ++i) {
      vesk::json& m = e.seen[i];
      if (m["cmd"] == "log" && m["type"] == "error") errors.push_back(m["msg"].get_string().substr(0, error.size()));
      if (m["cmd"] == "view_config") {
        ++replies;
        EXPECT_EQ(m["requests"].size(), 10000u);
        EXPECT_EQ(e.raw[i], m.dump("  "));  // written view by view, laid out as the writer does
      }
    }
    EXPECT_EQ(errors, error.empty() ? std::vector<std::string>{} : std::vector<std::string>{error});
  }
  EXPECT_EQ(replies, 1u);
  // The refused configurations left the state and the files as they were; the depth
  // bound itself is taken, into both.
  vesk::json before = e.seen.back()["state"];  // the reply to the last row's state request
  EXPECT_LT(vesk::nesting_depth(before["prj_cfg"], 100), 4u);
  EXPECT_EQ(before["vesk_config"]["hg_tool"].get_string(), "thg");
  EXPECT_EQ(slurp(p.cfg).find("[[[["), std::string::npos);
  EXPECT_EQ(slurp(p.home / ".config/vesk/vesk.cfg").find("xxxx"), std::string::npos);
  e.send(prj_cfg(30));
  const int at = e.wait_for(
      [](vesk::json& m) { return m["cmd"] == "backend_state" && vesk::nesting_depth(m["state"]["prj_cfg"], 100) == 32; });
  ASSERT_GE(at, 0);
  EXPECT_TRUE(eventually([&] { return slurp(p.cfg) == e.seen[at]["state"]["prj_cfg"].dump("  "); }));
}

TEST(ProgramSession, StateHistoryAndLogPushes) {
  program p;
  // Folders that are no project names: one warning each while the project opens.
  for (int i = 0; i < 5001; ++i) fs::create_directory(p.ws / ("x-" + std::to_string(i)));
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  e.send(R"({"cmd":"get_backend_state"})");
  int at = e.wait_cmd("backend_state");
  ASSERT_GE(at, 0);
  const std::string& text = e.raw[at];
  EXPECT_EQ(text.rfind("{\n  \"cmd\": \"backend_state\",\n  \"state\": {\n    \"version\": 17.000000,\n"
                       "    \"online\": false,\n",
                       0),
            0u)
      << text;
  vesk::json& st = e.seen[at]["state"];
  EXPECT_EQ(st["prj_name"].get_string(), "demo");
  EXPECT_EQ(st["prj_path"].get_string(), p.prj.string());
  EXPECT_EQ(st["workspace"].get_string(), p.ws.string());
  EXPECT_EQ(st["prj_cfg_name"].get_string(), "demo");
  EXPECT_EQ(st["prj_cfg"]["runtime"].get_string(), "sim");
  EXPECT_TRUE(st["signal_def"].is_null());
  EXPECT_TRUE(st["rt_properties"].is_object());
  EXPECT_EQ(st["build_state"].get_double(), 0);

  // Start-up lines come with the history, "start main loop..." never does; of more
  // start-up lines than it keeps, the newest 5000.
  const size_t from = e.seen.size();
  e.send(R"({"cmd":"get_log_history"})");
  EXPECT_GE(e.wait_log("warn", "Workspace directory 'x-", 10000, from), 0);
  ASSERT_TRUE(e.answers());
  size_t entries = 0;
  for (size_t i = from; i < e.seen.size(); ++i) {
    EXPECT_NE(e.seen[i]["msg"].get_string(), "start main loop...");
    entries += e.seen[i]["cmd"] == "log";
  }
  EXPECT_EQ(entries, 5000u);

  // Log lines are pushed as they happen, printed with their type.
  e.send(R"({"cmd":"complete"})");
  EXPECT_GE(e.wait_cmd("log", "completion disabled"), 0);
  e.send(R"({"cmd":"nothing","x":1})");
  EXPECT_GE(e.wait_log("error", "received unkonwn command: {\n  \"cmd\": \"nothing\",\n  \"x\": 1.000000\n}"), 0);
  EXPECT_TRUE(eventually([&] { return p.out().find("error: completion disabled\n") != std::string::npos; }));

  // A changed user configuration is saved and pushed; it is read as the file is, each key
  // it does not take named.
  const size_t before = e.seen.size();
  e.send(R"({"cmd":"write_vesk_config","cfg":{"hg_tool":"hgtool","num_consol_lines":5,"git_tool":7}})");
  at = e.wait_for([](vesk::json& m) { return m["cmd"] == "backend_state"; }, 10000, before);
  ASSERT_GE(at, 0);
  EXPECT_EQ(e.seen[at]["state"]["vesk_config"]["hg_tool"].get_string(), "hgtool");
  EXPECT_EQ(e.seen[at]["state"]["vesk_config"]["git_tool"].get_string(), "gitk");
  EXPECT_EQ(e.seen[at]["state"]["vesk_config"]["num_console_lines"].get_double(), 1000);
  EXPECT_GE(e.wait_log("warn", "write_vesk_config: Key \"num_consol_lines\" of \"cfg\" is ignored: the user "
                               "configuration reads num_console_lines, hg_tool, git_tool, last_open_prj, history_size_sec",
                       10000, before), 0);
  EXPECT_GE(e.wait_log("error", "write_vesk_config: Value 7 of key \"git_tool\" of \"cfg\" is a number, expected a text",
                       10000, before), 0);
  EXPECT_TRUE(
      eventually([&] { return slurp(p.home / ".config/vesk/vesk.cfg").find("\"hgtool\"") != std::string::npos; }));
  EXPECT_EQ(slurp(p.home / ".config/vesk/vesk.cfg").find("num_consol_lines"), std::string::npos);
  EXPECT_EQ(p.stop(), 0);
}

TEST(ProgramSession, BadInputIsLoggedAndTheBackEndAnswersOn) {
  program p;  // no vesk-cli beside the program
  const fs::path view = p.tmp.put("my ws/demo/views/v.json", "A"), closed = p.prj / "views" / "w.json";
  p.tmp.put(p.cfg.lexically_relative(p.tmp.path), R"({"model":"m","runtime":"sim","model_hosts":["10.0.0.9"]})");
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  struct row {
    bool binary;
    std::string message;
    std::string logged;  // beginning of the only error line; empty: valid input, no error line
    size_t times = 1;    // sent this often in a row: past the editor's bound, lines are counted
    std::string type = "error";  // of the line; a warning leaves no error line
    std::string unsaid = "";     // in no line up to the one logged
  };
  const auto file_request = [](const char* cmd, const fs::path& file, const char* rest = "") {
    return std::string("{\"cmd\":\"") + cmd + "\",\"file_name\":" + vesk::json(file.string()).dump() + rest + "}";
  };
  const std::string not_open = "'" + closed.string() + "' is not open; nothing changed.";
  const std::vector<row> rows = {
      {false, file_request("open_file", view), ""},
      {false, file_request("add_save_point", view), "add_save_point: \"content\" must be a JSON text; nothing done."},
      {false, file_request("add_save_point", view, ",\"content\":null"), "add_save_point: \"content\""},
      {false, file_request("undo", closed), "undo: " + not_open},
      {false, file_request("redo", closed), "redo: " + not_open},
      {false, file_request("add_save_point", closed, ",\"content\":\"B\""), "add_save_point: " + not_open},
      {false, R"({"cmd":"set_daq_list","list":["a","b"]})", ""},
      {false, R"({"cmd":"set_paq_list","list":["p"]})", ""},
      {false, R"({"cmd":"write_prj_config","cfg":{"model":"m","runtime":"sim"}})", ""},
      {false, R"({"cmd":"write_prj_config","cfg":{"modle":"x","runtime":"sim"}})",
       R"(write_prj_config: Key "modle" of "cfg" is ignored: write_prj_config reads model, runtime,)", 1, "warn"},
      // The state's prj_cfg sent back whole passes; another model_hosts is not taken.
      {false, R"({"cmd":"write_prj_config","cfg":{"model":"m","runtime":"sim","model_hosts":["10.0.0.9"],"modle":1}})",
       R"(write_prj_config: Key "modle" of "cfg" is ignored)", 1, "warn", "model_hosts"},
      {false, R"({"cmd":"write_prj_config","cfg":{"model":"m","runtime":"sim","model_hosts":["10.0.0.8"]}})",
       R"(write_prj_config: Value ["10.0.0.8"] of key "model_hosts" of "cfg" is ignored: the hosts whose models the )"
       "model port serves are set in " + p.cfg.lexically_normal().string() + " alone",
       1, "warn"},
      {false, "{\"cmd\":\"\xe0\xa4\x95\xe2\x80\xbf\xf0\x9f\x98\xbf\"}",
       "received unkonwn command: {\n  \"cmd\": \"\xe0\xa4\x95\xe2\x80\xbf\xf0\x9f\x98\xbf\"\n}"},
      {false, "[1,2]", "An exception occured: vesk::json: Types do not match"},
      {false, "\"text\"", "An exception occured: vesk::json: Types do not match"},
      {false, R"({"cmd":"get_view_config","requests":[{"node":"a","block_config":{"type":"nope"}}]})",
       "An exception occured: generator 'nope' not found (key \"type\") of node 'a'"},
      {false, R"({"cmd":"set_daq_list","list":[{"a":1}]})",
       "set_daq_list: \"list\" must be a JSON array of texts: element 1 is object {\"a\":1}; the list was not changed."},
      {false, R"({"cmd":"build"})", "An exception occured: Unable to find vesk-cli."},
      {false, "not json at all", "received unkonwn command"},
      {true, std::string(1, '\x02'), "An exception occured: Unable to convert memview. Size error"},
      {true, "", "An exception occured: Unable to convert memview. Size error"},
      {false, R"({"cmd":"nope"})", "received unkonwn command", 3000},
  };
  for (const row& r : rows) {
    const size_t from = e.seen.size();
    for (size_t i = 0; i < r.times; ++i) {
      if (r.binary) e.send_binary(r.message); else e.send(r.message);
    }
    if (!r.logged.empty()) {
      const int at = e.wait_log(r.type, r.logged, 10000, from);
      EXPECT_GE(at, 0) << r.message;
      for (int i = static_cast<int>(from); !r.unsaid.empty() && i <= at; ++i)
        EXPECT_FALSE(e.seen[i]["msg"].is_string() && e.seen[i]["msg"].get_string().find(r.unsaid) != std::string::npos)
            << r.message;
    }
    EXPECT_TRUE(e.answers()) << r.message;
    size_t errors = 0;  // a refusal is one error line, and no other follows (the parser's own lines aside)
    for (size_t i = from; i < e.seen.size(); ++i)
      errors += e.seen[i]["type"] == "error" && e.seen[i]["msg"].get_string().rfind("json_parse_error", 0) != 0;
    if (r.times == 1) {
      EXPECT_EQ(errors, r.logged.empty() || r.type != "error" ? 0u : 1u) << r.message;
      continue;
    }
    // 1000 a second are logged, the rest counted: none lost.
    size_t counted = 0;
    const std::string note = "The editor: ";
    e.wait_for([&](vesk::json& m) {
      if (m["type"] == "error") ++counted;
      if (m["type"] == "warn" && m["msg"].get_string().rfind(note, 0) == 0)
        counted += std::stoul(m["msg"].get_string().substr(note.size()));
      return counted == r.times;
    }, 10000, from);
    EXPECT_EQ(counted, r.times);
    EXPECT_LT(errors, r.times);
  }
  EXPECT_EQ(slurp(view), "A");
  EXPECT_FALSE(p.ended());
  EXPECT_EQ(p.stop(), 0);
}

TEST(ProgramSession, ASessionEndsWithAClosingHandshakeAndThenItsSocket) {
  program p;
  ASSERT_TRUE(p.start_running()) << p.out();
  ASSERT_TRUE(editor(p.gui_port).answers());  // then closes its socket without a close frame
  // The editor closes, or the back end does when a second editor replaces the first.
  for (bool replaced : {false, true}) {
    editor first(p.gui_port);
    ASSERT_TRUE(first.answers());
    std::unique_ptr<editor> second;
    if (replaced) second = std::make_unique<editor>(p.gui_port);
    else first.c.send_raw(first.idle, wc::frame(8, "\x03\xe8"));
    wc::server_frame f;
    for (int i = 0; i < 1000 && f.opcode != 8; ++i) first.c.next_frame(first.idle, f, 5);
    ASSERT_EQ(f.payload.substr(0, 2), "\x03\xe8") << replaced;
    if (replaced) first.c.send_raw(first.idle, wc::frame(8, "\x03\xe8"));
    // Closed right after the handshake, long before a client would give up waiting.
    EXPECT_TRUE(eventually([&] { return !first.c.poll_input(10); }, 1500)) << replaced;
    EXPECT_TRUE(!second || second->answers());
  }
  const std::string out = p.out();
  EXPECT_EQ(occurrences(out, "info: Only one GUI connection is supported...\n"), 1u);
  EXPECT_EQ(out.find("Transport Error"), std::string::npos) << out;
  EXPECT_EQ(out.find("[error]"), std::string::npos) << out;  // every end above is an ordinary one
}

TEST(ProgramSession, AnEditorThatStopsReadingIsCutOffAndTheLogStaysBounded) {
  program p;
  ASSERT_TRUE(p.start_running()) << p.out();
  const std::string warning = "warn: The editor does not read what the back end sends: its connection was closed (";
  const auto unknown = [](int n) {
    return "received unkonwn command: {\n  \"cmd\": \"nothing\",\n  \"n\": " + std::to_string(n) + ".000000,";
  };
  {
    // Reads nothing while long error lines and whole histories are sent to it: some
    // 400 MB if nothing were cut or dropped. The lines are cut between four-byte
    // characters, whose bytes fall at the cut in turn as the number grows.
    editor silent(p.gui_port);
    std::string pad;
    while (pad.size() < 70000) pad += "\xf0\x9f\x98\xbf";
    for (int n = 0; n < 300; ++n) {
      silent.send(R"({"cmd":"nothing","n":)" + std::to_string(n) + R"(,"pad":")" + pad + "\"}");
    }
    for (int i = 0; i < 20; ++i) silent.send(R"({"cmd":"get_log_history"})");
    EXPECT_TRUE(eventually([&] { return occurrences(p.out(), warning) == 1; }, 30000));
  }
  {
    // Pings, and no pong read: the library's answers count against the same bound.
    editor silent(p.gui_port);
    std::string pings;
    while (pings.size() < (1u << 20)) pings += wc::frame(9, std::string(125, 'p'));
    for (int mib = 0; mib < 320; ++mib) silent.c.send_raw(silent.idle, pings);
    EXPECT_FALSE(silent.c.poll_input(1000));  // closed by the back end
    EXPECT_TRUE(eventually([&] { return occurrences(p.out(), warning) == 2; }, 30000));
  }
#ifndef VESK_SANITIZE  // the sanitizer's quarantine holds freed memory back
  EXPECT_LT(p.peak_memory_kib(), 256u << 10);
#endif
  // An editor that connects again is served; the history kept its limits.
  editor e(p.gui_port);
  const size_t from = e.seen.size();
  e.send(R"({"cmd":"get_log_history"})");
  ASSERT_TRUE(e.answers());
  std::string all;
  for (size_t i = from; i < e.seen.size(); ++i) {
    EXPECT_LE(e.seen[i]["msg"].get_string().size(), 65536u);
    all += e.seen[i]["msg"].get_string() + "\n";
  }
  EXPECT_LE(all.size(), (16u << 20) + e.seen.size());
  EXPECT_GE(occurrences(all, "\xbf [... "), 250u);  // 16 MiB hold 255 cut lines, none lost
  EXPECT_EQ(all.find(unknown(0)), std::string::npos);
  EXPECT_NE(all.find(unknown(299)), std::string::npos);
}

TEST(ProgramSession, WebPagesCannotConnectNorHalfSentHandshakesCrowdOutTheEditor) {
  program p;
  ASSERT_TRUE(p.start_running()) << p.out();
  struct row {
    const char* origin;
    bool accepted;
  };
  // The refused ones first: they must leave the editor connected, the others replace it.
  // A page of any web origin is refused, a local web server's too; only a file is the editor's.
  const std::vector<row> rows = {
      {"https://example.com", false},   {"http://evil.localhost.example", false},
      {"http://localhost@evil.com", false}, {"null", false},
      {"http://localhost:3000", false}, {"http://127.0.0.1", false},
      {"https://[::1]:8080", false},    {"file://", true},
  };
  std::vector<row> tries;  // 200 refused in a row: each must leave the handshakes in progress
  for (int i = 0; i < 50; ++i) tries.insert(tries.end(), rows.begin(), rows.begin() + 4);
  tries.insert(tries.end(), rows.begin() + 4, rows.end());
  editor first(p.gui_port);
  ASSERT_TRUE(first.answers());
  for (const row& r : tries) {
    vesk::io::event_list idle;
    wc::client c(p.gui_port);
    std::string req = wc::handshake_request();
    req = req.substr(0, req.size() - 2) + "Origin: " + r.origin + "\r\n\r\n";
    c.send_raw(idle, req);
    c.pump_until(idle, [&] { return c.received.find("\r\n\r\n") != std::string::npos; });
    EXPECT_EQ(c.received.rfind(r.accepted ? "HTTP/1.1 101" : "HTTP/1.1 403", 0), 0u) << r.origin << c.received;
    if (!r.accepted) {
      EXPECT_TRUE(first.answers()) << r.origin;  // not replaced: it would have been closed
    }
  }
  editor e(p.gui_port);
  EXPECT_TRUE(e.answers());
  // Closed at once, the editor untouched: headers past 32 KiB, a body, the draft before the
  // standard (with a message that never ends behind it), the oldest 16 of 80 half-sent.
  const std::string full = wc::handshake_request();
  const std::string old_draft =
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: WebSocket\r\nSec-WebSocket-Key1: 4 @1  "
      "46546xW%0l 1 5\r\nSec-WebSocket-Key2: 12998 5 Y3 1  .P00\r\n\r\n^n:ds[4U" + std::string(65537, '\0');
  std::vector<std::unique_ptr<wc::client>> c;
  const auto gone = [](const std::unique_ptr<wc::client>& x) { return !x->poll_input(0); };
  const auto closed = [&] { return static_cast<size_t>(std::count_if(c.begin(), c.end(), gone)); };
  for (const std::string& bytes : {full.substr(0, 40) + std::string(33000, 'a'),
                                   full.substr(0, full.size() - 2) + "Content-Length: 1\r\n\r\nx", old_draft}) {
    c.push_back(std::make_unique<wc::client>(p.gui_port));
    c.back()->send_raw(e.idle, bytes);
    EXPECT_TRUE(eventually([&] { return closed() == c.size(); }, 5000)) << bytes.size();
  }
  EXPECT_EQ(c[0]->received.rfind("HTTP/1.1 431", 0), 0u);
  EXPECT_EQ(c[1]->received.rfind("HTTP/1.1 413", 0), 0u);
  EXPECT_EQ(c[2]->received.find(" 101 "), std::string::npos);
  for (int i = 0; i < 80; ++i) {
    c.push_back(std::make_unique<wc::client>(p.gui_port));
    c.back()->send_raw(e.idle, "GET / HTTP/1.1\r\n");
  }
  EXPECT_TRUE(eventually([&] { return closed() == 19; }, 5000));
  for (size_t i = 0; i < c.size(); ++i) EXPECT_EQ(gone(c[i]), i < 19) << i;
  EXPECT_TRUE(e.answers());
  EXPECT_TRUE(editor(p.gui_port).answers());  // one more gets in past the 64 half-sent
}

TEST(ProgramSession, WhatManyConnectionsHoldTogetherIsBoundedAndTheEditorKeepsItsSession) {
  program p;
  ASSERT_TRUE(p.start_running()) << p.out();
  // Each connection replaces the one before, which lingers while nobody answers its close
  // frame; the editor comes last. Then each of the others sends most of a 30 MB message
  // that never ends: 280 MiB held if nothing were bounded together.
  std::vector<std::unique_ptr<editor>> others;
  for (int i = 0; i < 10; ++i) others.push_back(std::make_unique<editor>(p.gui_port));
  editor e(p.gui_port);
  ASSERT_TRUE(e.answers());
  [[maybe_unused]] const size_t before = p.peak_memory_kib();  // unused under the sanitizer
  const std::string head("\x82\xff\0\0\0\0\x01\xc9\xc3\x80\0\0\0\0", 14);  // 30 000 000 bytes, mask key 0
  const std::string mib(1u << 20, '\0');
  // Every head first, while all of them linger: what they announce passes the bound at once,
  // however slowly the bytes behind them go on a loaded machine.
  for (auto& o : others) o->c.send_raw(o->idle, head);
#ifndef VESK_SANITIZE
  for (auto& o : others) {
    // Blocking, so that the bytes go as fast as they are read, within the lingering time.
    const timeval wait{5, 0};
    ::setsockopt(o->c.fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    ::fcntl(o->c.fd, F_SETFL, 0);
    for (int i = 0; i < 28 && ::send(o->c.fd, mib.data(), mib.size(), MSG_NOSIGNAL) > 0; ++i) {
    }
  }
#endif
  EXPECT_TRUE(e.answers());
  EXPECT_NE(p.out().find("warn: GUI port: the connections held "), std::string::npos);
#ifndef VESK_SANITIZE  // the sanitizer's quarantine holds freed memory back
  EXPECT_LT(p.peak_memory_kib() - before, 200u << 10);
#endif
}

}  // namespace
}  // namespace core_test
