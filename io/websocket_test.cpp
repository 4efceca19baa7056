#include "io/websocket.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/helpers.h"
#include "foundation/log_capture.h"
#include "foundation/log_stream.h"
#include "foundation/test_util.h"
#include "io/io_test_util.h"
#include "io/websocket_input.h"
#include "io/ws_test_client.h"

namespace vesk::io {
namespace {

namespace wc = test_client;
using test_util::open_fd_count;
using test_util::paired;

/// A server on a free port whose connections record their messages and closes.
struct ws_fixture {
  log_silencer quiet{log_debug};  // the library's own complaints about bad input
  event_list loop;
  websocket_server server{loop, end_point{}};
  std::vector<std::shared_ptr<websocket_connection>> connections;
  std::vector<std::string> texts, binaries;
  int closes = 0;
  bool echo = false;
  ws_fixture() {
    server.on_new_connection = [this](std::shared_ptr<websocket_connection> c) {
      websocket_connection* raw = c.get();
      c->on_text = [this, raw](std::string s) {
        texts.push_back(s);
        if (echo) raw->send_text(s.data(), s.size());
      };
      c->on_binary = [this, raw](std::string s) {
        binaries.push_back(s);
        if (echo) raw->send_binary(s.data(), s.size());
      };
      c->on_close = [this] { ++closes; };
      connections.push_back(std::move(c));
    };
  }
  /// Runs the loop a few short rounds, for what may still be on its way.
  void settle(int rounds = 5) {
    for (int i = 0; i < rounds; ++i) wc::run_ready(loop, 5);
  }
};

TEST(WebSocket, MessagesOfEveryLengthFormBothWays) {
  long fds = open_fd_count();
  {
    ws_fixture f;
    f.echo = true;
    wc::client c(f.server.local_port());
    std::string head = c.handshake(f.loop);
    EXPECT_EQ(head.rfind("HTTP/1.1 101", 0), 0u) << head;
    EXPECT_NE(head.find(std::string("Sec-WebSocket-Accept: ") + wc::fixed_accept + "\r\n"), std::string::npos);
    ASSERT_EQ(f.connections.size(), 1u);
    EXPECT_TRUE(f.connections[0]->is_connected());

    // 7-bit, 16-bit and 64-bit length forms, at their edges.
    for (size_t n : {0u, 1u, 125u, 126u, 65535u, 65536u, 300000u}) {
      for (uint8_t opcode : {1, 2}) {
        std::string payload(n, '\0');
        for (size_t i = 0; i < n; ++i) payload[i] = static_cast<char>(opcode == 1 ? 'a' + i % 26 : i * 31);
        c.send_raw(f.loop, wc::frame(opcode, payload));
        wc::server_frame back;
        ASSERT_TRUE(c.next_frame(f.loop, back)) << n;
        EXPECT_TRUE(back.fin);
        EXPECT_EQ(back.opcode, opcode) << n;
        EXPECT_TRUE(back.payload == payload) << n;
        const std::vector<std::string>& got = opcode == 1 ? f.texts : f.binaries;
        ASSERT_FALSE(got.empty());
        EXPECT_TRUE(got.back() == payload) << n;
      }
    }
    EXPECT_EQ(f.texts.size(), 7u);
    EXPECT_EQ(f.binaries.size(), 7u);
    // A fragmented message arrives as one.
    c.send_raw(f.loop, wc::frame(1, "frag", false) + wc::frame(0, "men", false) + wc::frame(0, "ted"));
    wc::server_frame back;
    ASSERT_TRUE(c.next_frame(f.loop, back));
    EXPECT_EQ(f.texts.back(), "fragmented");
    EXPECT_EQ(f.closes, 0);
  }
  EXPECT_EQ(open_fd_count(), fds);
}

/// The standard request, padded to exactly `size` bytes.
std::string request_of(size_t size) {
  const std::string r = wc::handshake_request(), head = r.substr(0, r.size() - 2) + "X-Pad: ";
  return head + std::string(size - head.size() - 4, 'p') + "\r\n\r\n";
}

TEST(WebSocket, SplitHandshakeHandedOverWhenCompleteAndTwoFramesInOneSegment) {
  ws_fixture f;
  paired pair(f.loop);
  f.server.accept_websocket(pair.connection);
  // At the bound, a browser's cookies making most of it: accepted.
  std::string request = request_of(websocket_server::max_handshake_bytes);
  for (size_t at = 0, step = 7; at < request.size(); at += step) {
    step = at < 70 || at + 70 > request.size() ? 7 : 4096;  // split in the request line and at its end
    pair.write(request.substr(at, step));
    f.settle(2);
    EXPECT_EQ(pair.connection->rx_fill, 0u);  // the glue always empties the buffer
    std::string answer = pair.read_all();
    if (at + step < request.size()) {
      ASSERT_EQ(answer, "") << at;
      ASSERT_TRUE(f.connections.empty()) << at;  // nobody sees it before its handshake
    } else {
      EXPECT_EQ(answer.rfind("HTTP/1.1 101", 0), 0u);
    }
  }
  ASSERT_EQ(f.connections.size(), 1u);
  websocket_connection& ws = *f.connections[0];
  // Two frames in one write: both delivered, in order, within one read.
  int calls_in_read = 0;
  ws.on_text = [&](std::string s) {
    f.texts.push_back(s);
    ++calls_in_read;
  };
  pair.write(wc::frame(1, "one") + wc::frame(1, "two"));
  ASSERT_TRUE(wc::run_ready(f.loop, 1000));
  EXPECT_EQ(calls_in_read, 2);
  EXPECT_EQ(f.texts, (std::vector<std::string>{"one", "two"}));
  // A reply from inside the handler leaves with the read that caused it.
  ws.on_text = [&](std::string s) { ws.send_text(s.data(), s.size()); };
  pair.write(wc::frame(1, "ping"));
  ASSERT_TRUE(wc::run_ready(f.loop, 1000));
  std::string reply = pair.read_all();
  wc::server_frame frame;
  ASSERT_EQ(wc::parse_frame(reply, 0, frame), reply.size());
  EXPECT_EQ(frame.payload, "ping");
}

/// What a peer that reads nothing at first gets for `request` behind the bytes that already
/// fill the server's socket, up to the socket's end; "still open" when it does not end.
std::string answer_behind_full_socket(ws_fixture& f, const std::string& request) {
  paired pair(f.loop);
  const std::string block(65536, 'w');
  size_t before = 0;
  for (int i = 0; i < 100 && pair.connection->queued_bytes() == 0; ++i, before += block.size())
    pair.connection->send(block.data(), block.size());
  f.server.accept_websocket(pair.connection);
  pair.write(request);
  f.settle();
  std::string got;
  char buffer[65536];
  for (int i = 0; i < 1000; ++i) {
    const ssize_t n = ::recv(pair.peer, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) return got.substr(std::min(before, got.size()));
    if (n > 0) got.append(buffer, static_cast<size_t>(n));
    else wc::run_ready(f.loop, 5);
  }
  return "still open";
}

TEST(WebSocket, BadInputEndsTheConnectionOnce) {
  struct row {
    const char* name;
    std::string bad;
    std::string request = "";  // instead of the handshake, and its answer
    const char* answer = "";
    const char* warning = nullptr;  // the one warning the refusal writes, if it does
    size_t times = 1;               // sent on this many connections, one after the other
    bool socket_full = false;       // the answer must wait behind bytes the peer has not read
  };
  std::string version_8 = wc::handshake_request();
  version_8.replace(version_8.find("Version: 13") + 9, 2, "8");
  const std::vector<row> rows = {
      {"invalid UTF-8", wc::frame(1, "ok \xff\xfe")},
      {"unmasked frame", wc::frame(1, "plain", true, false)},
      {"reserved opcode", wc::frame(3, "x")},
      {"not a handshake", "", "POST / HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 426"},
      {"a request one byte past the bound", "", request_of(websocket_server::max_handshake_bytes + 1),
       "HTTP/1.1 431 Request Header Fields Too Large\r\n",
       "request line and headers passed the bound of 32768 bytes (32769 bytes received)."},
      {"headers the library reads past its own bound", "",
       request_of(1000).insert(20, "Sec-WebSocket-Protocol: " + std::string(16000, 'p') + "\r\n"),
       "HTTP/1.1 431 Request Header Fields Too Large\r\n", "bytes, more than its bound of 16000 bytes."},
      // A folded line stays with its header, even when it looks like a header of its own.
      {"a folded line of a header the library reads past its bound", "",
       request_of(1000).insert(20, "Sec-WebSocket-Protocol: chat,\r\n\tx:" + std::string(16000, 'p') + "\r\n"),
       "HTTP/1.1 431 Request Header Fields Too Large\r\n", "bytes, more than its bound of 16000 bytes."},
      {"a request past the bound on a full socket", "", request_of(websocket_server::max_handshake_bytes + 1),
       "HTTP/1.1 431 Request Header Fields Too Large\r\n", "(32769 bytes received).", 1, true},
      // Within a second: 20 warnings, the rest counted (any local process may connect so).
      {"25 requests past the bound", "", request_of(websocket_server::max_handshake_bytes + 1),
       "HTTP/1.1 431 Request Header Fields Too Large\r\n", "(32769 bytes received).", 25},
      {"version 8", "", version_8 + wc::frame(1, "x"), "HTTP/1.1 426 Upgrade Required\r\nSec-WebSocket-Version: 13\r\n"},
      // The draft before the standard, a message that never ends behind its key bytes.
      {"old draft", "",
       "GET / HTTP/1.1\r\nHost: x\r\nConnection: Upgrade\r\nUpgrade: WebSocket\r\nSec-WebSocket-Key1: 4 @1  46546xW%0l 1 5"
       "\r\nSec-WebSocket-Key2: 12998 5 Y3 1  .P00\r\n\r\n^n:ds[4U" + std::string(999, '\0'), "HTTP/1.1 500"},
  };
  for (const row& r : rows) {
    ws_fixture f;
    log_capture warnings(log_warn);
    if (r.socket_full) {
      // The socket closes once the answer has left, not before.
      EXPECT_EQ(answer_behind_full_socket(f, r.request).substr(0, strlen(r.answer)), r.answer) << r.name;
      EXPECT_TRUE(f.connections.empty()) << r.name;
      ASSERT_EQ(warnings.lines.size(), 1u) << r.name;
      EXPECT_NE(warnings.lines[0].find(r.warning), std::string::npos) << warnings.lines[0];
      continue;
    }
    for (size_t i = 1; i < r.times; ++i) {
      wc::client more(f.server.local_port());
      more.send_raw(f.loop, r.request);
      EXPECT_TRUE(more.pump_until(f.loop, [&] { return more.received.size() >= strlen(r.answer); }, 50)) << r.name;
    }
    wc::client c(f.server.local_port());
    if (r.bad.empty()) {
      c.send_raw(f.loop, r.request);
      c.pump_until(f.loop, [&] { return c.received.size() >= strlen(r.answer); }, 50);
      EXPECT_EQ(c.received.substr(0, strlen(r.answer)), r.answer) << r.name;
    } else {
      ASSERT_NE(c.handshake(f.loop), "") << r.name;
      c.send_raw(f.loop, r.bad);
    }
    f.settle();
    // More bytes behind the bad ones, in later segments: never delivered, never looped on.
    for (int i = 0; i < 3; ++i) {
      c.send_raw(f.loop, wc::frame(1, "after"));
      f.settle();
    }
    EXPECT_TRUE(f.texts.empty()) << r.name;
    EXPECT_FALSE(c.pump_until(f.loop, [] { return false; }, 50)) << r.name;  // the server closed
    // A failed handshake never hands a connection out.
    const size_t handed_out = r.bad.empty() ? 0 : 1;
    EXPECT_EQ(f.closes, static_cast<int>(handed_out)) << r.name;
    EXPECT_EQ(f.connections.size(), handed_out) << r.name;
    if (handed_out && !f.connections.empty()) {
      EXPECT_FALSE(f.connections[0]->is_connected()) << r.name;
    }
    ASSERT_EQ(warnings.lines.size(), r.warning ? std::min<size_t>(r.times, 20) : 0u) << r.name;
    if (r.warning) {
      EXPECT_NE(warnings.lines[0].find(r.warning), std::string::npos) << warnings.lines[0];
    }
  }
}

TEST(WebSocket, TheMeterCountsWhatTheFramesAnnounceWhereverTheyAreSplit) {
  struct head {
    uint8_t first;  // FIN flag and opcode
    size_t size;
    int form;  // length bits: 7, 16 or 64 (the longer forms need not be the shortest)
    bool masked;
  };
  // A message in three frames with a ping between them, whole ones in each length form,
  // and a message left unfinished.
  const std::vector<head> heads = {{0x01, 5, 7, true},    {0x89, 3, 7, false},   {0x00, 130, 16, true},
                                   {0x80, 0, 7, true},    {0x82, 300, 64, true}, {0x81, 126, 16, false},
                                   {0x02, 2, 64, true},   {0x8a, 0, 7, true},    {0x00, 70, 16, true}};
  std::string stream;
  std::vector<size_t> head_end, frame_end;
  for (const head& h : heads) {
    stream += static_cast<char>(h.first);
    const char mask = h.masked ? '\x80' : 0;
    const int bytes = h.form == 7 ? 0 : h.form / 8;
    stream += static_cast<char>(mask | (h.form == 7 ? h.size : h.form == 16 ? 126 : 127));
    for (int i = bytes - 1; i >= 0; --i) stream += static_cast<char>(h.size >> (8 * i));
    if (h.masked) stream += "\x11\x22\x33\x44";
    head_end.push_back(stream.size());
    stream += std::string(h.size, '\x80');  // payload bytes that look like heads
    frame_end.push_back(stream.size());
  }
  // What the meter must say after the first `p` bytes: what the data frames of the
  // message in progress announced, once their heads are whole; nothing after its final one.
  const auto expected = [&](size_t p) {
    uint64_t sum = 0;
    for (size_t i = 0; i < heads.size() && head_end[i] <= p; ++i) {
      if (heads[i].first & 0x08) continue;
      sum += heads[i].size;
      if ((heads[i].first & 0x80) && frame_end[i] <= p) sum = 0;
    }
    return sum;
  };
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(stream.data());
  ASSERT_EQ(expected(stream.size()), 72u);
  frame_meter one_by_one;
  for (size_t split = 0; split <= stream.size(); ++split) {
    frame_meter two_parts;
    two_parts.take(bytes, split);
    ASSERT_EQ(two_parts.unfinished(), expected(split)) << split;
    two_parts.take(bytes + split, stream.size() - split);
    ASSERT_EQ(two_parts.unfinished(), 72u) << split;
    if (split == 0) continue;
    one_by_one.take(bytes + split - 1, 1);
    ASSERT_EQ(one_by_one.unfinished(), expected(split)) << split;
  }
}

TEST(WebSocket, CloseRunsOnCloseExactlyOnce) {
  enum how { fin, reset, close_frame, closed_by_us, closed_by_us_no_answer };
  for (how h : {fin, reset, close_frame, closed_by_us, closed_by_us_no_answer}) {
    ws_fixture f;
    wc::client c(f.server.local_port());
    ASSERT_NE(c.handshake(f.loop), "");
    ASSERT_EQ(f.connections.size(), 1u);
    std::weak_ptr<websocket_connection> weak = f.connections[0];
    if (h == fin) ::shutdown(c.fd, SHUT_WR);
    if (h == reset) c.reset();
    if (h == close_frame) c.send_raw(f.loop, wc::frame(8, std::string("\x03\xe8", 2)));
    if (h >= closed_by_us) {
      f.connections[0]->close(1000, "bye");
      f.connections.clear();  // the connection finishes its closing handshake on its own
    }
    if (h != fin && h != reset) {
      wc::server_frame answer;
      ASSERT_TRUE(c.next_frame(f.loop, answer)) << h;
      EXPECT_EQ(answer.opcode, 8) << h;
      EXPECT_EQ(answer.payload, h == close_frame ? std::string("\x03\xe8", 2) : std::string("\x03\xe8" "bye", 5));
      if (h == closed_by_us) c.send_raw(f.loop, wc::frame(8, answer.payload));
      // After the closing handshake the server closes the socket (without an answer,
      // once close_wait_ms has passed).
      const int rounds = h == closed_by_us_no_answer ? 1000 : 100;
      EXPECT_FALSE(c.pump_until(f.loop, [] { return false; }, rounds)) << h;
    }
    for (int i = 0; i < 200 && f.closes == 0; ++i) wc::run_ready(f.loop, 5);
    f.settle();
    EXPECT_EQ(f.closes, 1) << h;
    EXPECT_EQ(weak.expired(), h >= closed_by_us) << h;  // a closing connection lets go of itself
    // Sending afterwards drops the message and closes nothing again.
    if (auto ws = weak.lock()) ws->send_text("x", 1);
    EXPECT_EQ(f.closes, 1) << h;
  }
}

TEST(WebSocket, ASessionDroppingItsConnectionInOnClose) {
  long fds = open_fd_count();
  {
    ws_fixture f;
    wc::client c(f.server.local_port());
    ASSERT_NE(c.handshake(f.loop), "");
    ASSERT_EQ(f.connections.size(), 1u);
    std::weak_ptr<websocket_connection> weak = f.connections[0];
    f.connections[0]->on_close = [&] {
      ++f.closes;
      f.connections.clear();  // the last pointer to the connection whose send is running
    };
    c.reset();
    ::usleep(20000);
    for (int i = 0; i < 5 && !weak.expired(); ++i) {
      if (auto ws = weak.lock()) {
        websocket_connection* raw = ws.get();
        ws.reset();
        raw->send_text("bye", 3);  // the send finds the reset and runs on_close
      }
      wc::run_ready(f.loop, 5);
    }
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(f.closes, 1);
  }
  EXPECT_EQ(open_fd_count(), fds);
}

TEST(WebSocket, QueuedBytesGrowWhileTheClientDoesNotReadAndDrainWhenItDoes) {
  ws_fixture f;
  wc::client c(f.server.local_port());
  ASSERT_NE(c.handshake(f.loop), "");
  ASSERT_EQ(f.connections.size(), 1u);
  websocket_connection& ws = *f.connections[0];
  f.settle();
  EXPECT_EQ(ws.queued_bytes(), 0u);
  // The client reads nothing: once the socket buffers are full every message waits.
  const std::string block(65536, '\x5a');
  size_t sent = 0;
  for (int i = 0; i < 2000 && ws.queued_bytes() < 4 * block.size(); ++i) {
    ws.send_binary(block.data(), block.size());
    sent += block.size();
  }
  const size_t waiting = ws.queued_bytes();
  ASSERT_GE(waiting, 4 * block.size());
  ASSERT_LE(waiting, sent + 1024);  // the messages plus their frame heads, nothing else
  ws.send_binary(block.data(), block.size());
  EXPECT_GE(ws.queued_bytes(), waiting + block.size());  // a message queued behind others
  // Reading drains the queue to nothing and every message arrives whole.
  size_t frames = 0;
  ASSERT_TRUE(c.pump_until(f.loop, [&] {
    wc::server_frame back;
    size_t used;
    while ((used = wc::parse_frame(c.received, c.parsed, back)) > 0) {
      c.parsed += used;
      frames += back.payload == block ? 1 : 0;
    }
    return frames == sent / block.size() + 1;
  }, 20000));
  f.settle();
  EXPECT_EQ(ws.queued_bytes(), 0u);
}

TEST(WebSocket, TheSendQueueMayReachItsBoundButNotPassIt) {
  for (size_t past : {0u, 1u}) {
    ws_fixture f;
    wc::client c(f.server.local_port());
    ASSERT_NE(c.handshake(f.loop), "");
    websocket_connection& ws = *f.connections[0];
    size_t overflows = 0;
    ws.on_overflow = [&](size_t) { ++overflows; };
    const std::string block(65536, 'z');  // the client reads nothing: fill until messages wait
    for (int i = 0; i < 2000 && ws.queued_bytes() == 0; ++i) ws.send_binary(block.data(), block.size());
    ASSERT_GT(ws.queued_bytes(), 0u);
    ws.queue_limit = ws.queued_bytes() + 1004 - past;  // queued whole behind it: 4 bytes of head, 1000 of payload
    ws.send_binary(block.data(), 1000);
    EXPECT_EQ(overflows, past) << past;
    EXPECT_EQ(ws.is_connected(), past == 0);
    EXPECT_TRUE(past == 1 || ws.queued_bytes() == ws.queue_limit);
  }
}

TEST(WebSocket, TheLibraryPrintsNothingPerFrame) {
  ws_fixture f;
  f.echo = true;
  testing::internal::CaptureStdout();
  {
    wc::client c(f.server.local_port());
    c.handshake(f.loop);
    c.send_raw(f.loop, wc::frame(1, "quiet"));
    wc::server_frame back;
    c.next_frame(f.loop, back);
    EXPECT_EQ(back.payload, "quiet");
  }
  f.settle();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

/// The first `name` found along PATH, or "".
std::string in_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

/// Where tools/test.sh installs the independent client library (never committed).
std::string ws_package_folder() {
  if (const char* given = std::getenv("VESK_NODE_MODULES")) return given;
  return std::string(VESK_SOURCE_DIR) + "/build-npm/node_modules";
}

const char* const node_client = R"js(
const WebSocket = require('ws');
const ws = new WebSocket('ws://127.0.0.1:' + process.argv[2] + '/gui');
const big = Buffer.alloc(70000);
for (let i = 0; i < big.length; i++) big[i] = (i * 13) & 255;
const sent = ['t:hello ünicode', 'b:' + [0, 1, 2, 255].join(','), 'b:70000:' + big.reduce((a, b) => (a + b) % 65521, 0),
              't:' + 'x'.repeat(300)];
const got = [];
ws.on('open', () => {
  ws.send('hello ünicode');
  ws.send(Buffer.from([0, 1, 2, 255]));
  ws.send(big);
  ws.send('x'.repeat(300));
});
ws.on('message', (data, isBinary) => {
  if (!isBinary) got.push('t:' + data.toString());
  else if (data.length === 70000) got.push('b:70000:' + data.reduce((a, b) => (a + b) % 65521, 0));
  else got.push('b:' + Array.from(data).join(','));
  if (got.length === sent.length) {
    console.log(JSON.stringify(got) === JSON.stringify(sent) ? 'echo ok' : 'echo wrong ' + JSON.stringify(got));
    ws.close(1000);
  }
});
ws.on('close', () => process.exit(0));
ws.on('error', (e) => { console.log('error ' + e.message); process.exit(2); });
setTimeout(() => { console.log('timeout'); process.exit(3); }, 10000);
)js";

TEST(WebSocket, AnIndependentClientEchoes) {
  std::string node = in_path("node");
  std::string modules = ws_package_folder();
  if (node.empty() || !path_exists(modules + "/ws/package.json"))
    GTEST_SKIP() << "node or its ws package is missing (tools/test.sh installs it into build-npm/)";
  temp_dir home;
  write_file((home.path / "client.js").string(), node_client);
  ws_fixture f;
  f.echo = true;
  std::string port = std::to_string(f.server.local_port());
  std::string out = (home.path / "out.txt").string();
  std::string script = (home.path / "client.js").string();
  std::vector<std::string> env_text = {"HOME=" + home.path.string(), "NODE_PATH=" + modules, "PATH=/usr/bin:/bin"};
  std::vector<char*> env;
  for (std::string& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const char* argv[] = {node.c_str(), script.c_str(), port.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, node.c_str(), &actions, nullptr, const_cast<char* const*>(argv), env.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = -1;
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    wc::run_ready(f.loop, 10);
  }
  f.settle();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(trim(read_file(out)), "echo ok");
  EXPECT_EQ(f.texts, (std::vector<std::string>{"hello \xC3\xBCnicode", std::string(300, 'x')}));
  ASSERT_EQ(f.binaries.size(), 2u);
  EXPECT_EQ(f.binaries[0], std::string("\x00\x01\x02\xff", 4));
  EXPECT_EQ(f.binaries[1].size(), 70000u);
  EXPECT_EQ(f.closes, 1);
}

}  // namespace
}  // namespace vesk::io
