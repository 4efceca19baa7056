// The opening handshake's checks: the Origin hook, the protocol version, the size bound.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/log_stream.h"
#include "io/websocket.h"
#include "io/ws_test_client.h"

namespace vesk::io {
namespace {

namespace wc = test_client;

/// The fixed-key handshake with an Origin header (none when `origin` is null).
std::string request_with_origin(const char* origin) {
  std::string r = wc::handshake_request();
  if (origin == nullptr) return r;
  return r.substr(0, r.size() - 2) + "Origin: " + origin + "\r\n\r\n";
}

TEST(WebSocketOrigin, TheHookDecidesAndSeesTheHeaderAsSent) {
  struct row {
    const char* origin;  // null: no header
    bool accept;
    const char* seen;
  };
  const std::vector<row> rows = {
      {nullptr, true, ""},
      {"http://localhost:8080", true, "http://localhost:8080"},
      {"https://example.com", false, "https://example.com"},
      {"file://", true, "file://"},
  };
  for (const row& r : rows) {
    log_silencer quiet(log_debug);
    event_list loop;
    websocket_server server(loop, end_point{});
    std::vector<std::string> seen;
    std::vector<std::shared_ptr<websocket_connection>> connections;
    std::vector<std::string> texts;
    int closes = 0;
    server.accept_origin = [&](const std::string& origin) {
      seen.push_back(origin);
      return r.accept;
    };
    server.on_new_connection = [&](std::shared_ptr<websocket_connection> c) {
      c->on_text = [&](std::string s) { texts.push_back(s); };
      c->on_close = [&] { ++closes; };
      connections.push_back(std::move(c));
    };
    wc::client c(server.local_port());
    c.send_raw(loop, request_with_origin(r.origin));
    c.pump_until(loop, [&] { return c.received.find("\r\n\r\n") != std::string::npos; });
    ASSERT_EQ(seen.size(), 1u) << (r.origin ? r.origin : "none");
    EXPECT_EQ(seen[0], r.seen);
    const std::string status = c.received.substr(0, 12);
    if (r.accept) {
      EXPECT_EQ(status, "HTTP/1.1 101") << c.received;
      c.parsed = c.received.find("\r\n\r\n") + 4;
      c.send_raw(loop, wc::frame(1, "hello"));
      c.pump_until(loop, [&] { return !texts.empty(); });
      EXPECT_EQ(texts, std::vector<std::string>{"hello"});
    } else {
      EXPECT_EQ(status, "HTTP/1.1 403") << c.received;
      // A refused connection is never handed out, and the server closes it.
      bool open = true;
      for (int i = 0; i < 100 && open; ++i) {
        open = c.poll_input(5);
        wc::run_ready(loop, 5);
      }
      EXPECT_FALSE(open);
      EXPECT_TRUE(connections.empty());
      EXPECT_EQ(closes, 0);
    }
  }
}

TEST(WebSocketHandshake, OnlyTheStandardVersionWithinTheByteBoundIsHandedOver) {
  const std::string standard = wc::handshake_request();
  const auto padded_to = [&](size_t size) {  // the standard request, exactly `size` bytes long
    const std::string head = standard.substr(0, standard.size() - 2) + "X-Pad: ";
    return head + std::string(size - head.size() - 4, 'p') + "\r\n\r\n";
  };
  const auto with_version = [&](const char* version) {
    std::string r = standard;
    return r.replace(r.find("Version: 13"), 11, std::string("Version: ") + version);
  };
  // The draft before the standard: no version, two keys, eight key bytes after the
  // headers, then a message that never ends, all in one segment.
  const std::string old_draft =
      "GET /demo HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: WebSocket\r\n"
      "Sec-WebSocket-Key1: 4 @1  46546xW%0l 1 5\r\nSec-WebSocket-Key2: 12998 5 Y3 1  .P00\r\n\r\n^n:ds[4U" +
      std::string(1, '\0') + std::string(100000, 'a');
  struct row {
    const char* name;
    std::string bytes;
    const char* status;  // "": closed without an answer
  };
  const std::vector<row> rows = {
      {"standard, a message in the same segment", standard + wc::frame(1, "hello"), "HTTP/1.1 101"},
      {"exactly 8 KiB", padded_to(8192) + wc::frame(1, "hello"), "HTTP/1.1 101"},
      {"one byte more", padded_to(8193), ""},
      {"old draft", old_draft, "HTTP/1.1 500"},
      {"version 8", with_version("8") + wc::frame(1, "hello"), "HTTP/1.1 426"},
      {"version 7", with_version("7"), "HTTP/1.1 426"},
  };
  for (const row& r : rows) {
    log_silencer quiet(log_debug);
    event_list loop;
    websocket_server server(loop, end_point{});
    std::vector<std::string> texts;
    std::vector<std::shared_ptr<websocket_connection>> connections;
    server.on_new_connection = [&](std::shared_ptr<websocket_connection> c) {
      c->on_text = [&](std::string s) { texts.push_back(s); };
      connections.push_back(std::move(c));
    };
    wc::client c(server.local_port());
    c.send_raw(loop, r.bytes);
    const bool accepted = std::string(r.status) == "HTTP/1.1 101";
    const bool open = c.pump_until(loop, [&] { return !texts.empty(); }, 100);
    EXPECT_EQ(c.received.substr(0, 12), r.status) << r.name << "\n" << c.received;
    EXPECT_EQ(open, accepted) << r.name;  // a refused connection is closed by the server
    EXPECT_EQ(connections.size(), accepted ? 1u : 0u) << r.name;
    EXPECT_EQ(texts, accepted ? std::vector<std::string>{"hello"} : std::vector<std::string>{}) << r.name;
    if (std::string(r.status) == "HTTP/1.1 426") {
      EXPECT_NE(c.received.find("\r\nSec-WebSocket-Version: 13\r\n"), std::string::npos) << r.name;
    }
  }
}

}  // namespace
}  // namespace vesk::io
