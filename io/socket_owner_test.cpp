#include "io/socket_owner.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vesk::io {
namespace {

TEST(SocketOwner, ProcNetTcpLinesNameTheOwnerOfOneConnection) {
  // 127.0.0.1:40000 (0x9C40) to 127.0.0.1:8001 (0x1F41), as this machine prints them.
  const socket_end own{htonl(INADDR_LOOPBACK), 40000}, other{htonl(INADDR_LOOPBACK), 8001};
  char v4[9], mapped[33];
  std::snprintf(v4, sizeof v4, "%08X", own.address);
  std::snprintf(mapped, sizeof mapped, "0000000000000000%08X%08X", htonl(0xffff), own.address);
  const std::string head = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n";
  const auto line = [](const std::string& local, const std::string& remote, const char* uid) {
    return "   0: " + local + " " + remote + " 01 00000000:00000000 00:00000000 00000000 " + uid + " 0 123 1\n";
  };
  const std::string a = std::string(v4) + ":9C40", b = std::string(v4) + ":1F41";
  const std::string a6 = std::string(mapped) + ":9C40", b6 = std::string(mapped) + ":1F41";
  const struct {
    std::string text;
    long uid;  // -1: none found
  } rows[] = {
      {head + line(a, b, "1000"), 1000},
      {head + line(b, a, "1000") + line(a, b, "65534"), 65534},  // the other end's socket is not it
      {head + line(a6, b6, "0"), 0},                              // an IPv6 socket's IPv4 connection
      {head + line(a, std::string(v4) + ":1F42", "7"), -1},
      {head + line(a, b, "x7"), -1},
      {line(a, b, "5"), -1},  // the first line is the column heads
      {head, -1},
  };
  for (const auto& r : rows) {
    const std::optional<uid_t> uid = owner_in_proc_net_tcp(r.text, own, other);
    EXPECT_EQ(uid ? static_cast<long>(*uid) : -1L, r.uid) << r.text;
  }
}

TEST(SocketOwner, TheKernelTellsTheOwnerOfTheOtherEnd) {
  int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), n), 0);
  ASSERT_EQ(::listen(server, 4), 0);
  ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &n);
  int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), n), 0);
  int accepted = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
  std::string why;
  EXPECT_TRUE(peer_is_own(accepted, why)) << why;
  // An IPv6 socket that connects to the IPv4-mapped address is found as well.
  int client6 = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 mapped{};
  mapped.sin6_family = AF_INET6;
  mapped.sin6_port = a.sin_port;
  ASSERT_EQ(::inet_pton(AF_INET6, "::ffff:127.0.0.1", &mapped.sin6_addr), 1);
  ASSERT_EQ(::connect(client6, reinterpret_cast<sockaddr*>(&mapped), sizeof mapped), 0);
  int accepted6 = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
  EXPECT_TRUE(peer_is_own(accepted6, why)) << why;
  ::close(client6);
  ::close(accepted6);
  socket_end local, peer;
  ASSERT_TRUE(connection_ends(accepted, local, peer, why));
  EXPECT_EQ(socket_owner(local, peer, why), std::optional<uid_t>(::geteuid())) << why;
  // Once the other end is gone, no owner can be told, and the connection is not served.
  ::close(client);
  ::close(accepted);
  EXPECT_FALSE(socket_owner(local, {peer.address, static_cast<uint16_t>(peer.port ^ 1)}, why));
  EXPECT_NE(why.find("no socket of this machine"), std::string::npos) << why;
  ::close(server);
}

}  // namespace
}  // namespace vesk::io
