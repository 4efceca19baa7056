// The handshake's Origin hook of the WebSocket server.
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
      {"http://localhost:8080", false, "http://localhost:8080"},
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

}  // namespace
}  // namespace vesk::io
