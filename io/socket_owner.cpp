#include "io/socket_owner.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vesk::io {

namespace {

/// What sock_diag said about one socket: its owner, that there is no such socket (which a
/// kernel without the TCP handler answers too), or nothing.
enum class diag_answer { found, absent, unavailable };

/// Set once sock_diag has told an owner: its "no such socket" is then the truth, and
/// /proc/net/tcp, whose reading costs what all sockets of the machine cost, is not read
/// for each connection of a peer that closes at once.
std::atomic<bool> diag_answers{false};

/// Closes a descriptor when it goes.
struct fd_holder {
  int fd;
  ~fd_holder() {
    if (fd >= 0) ::close(fd);
  }
};

/// Asks the kernel for the socket of `own` to `other` (one exact lookup, never a dump).
diag_answer ask_sock_diag(const socket_end& own, const socket_end& other, uid_t& uid, std::string& why) {
  fd_holder nl{::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)};
  if (nl.fd < 0) {
    why = std::string("sock_diag: ") + std::strerror(errno);
    return diag_answer::unavailable;
  }
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.header.nlmsg_seq = 1;
  inet_diag_req_v2& r = message.request;
  r.sdiag_family = AF_INET;
  r.sdiag_protocol = IPPROTO_TCP;
  r.idiag_states = ~0u;
  r.id.idiag_sport = htons(own.port);
  r.id.idiag_dport = htons(other.port);
  r.id.idiag_src[0] = own.address;
  r.id.idiag_dst[0] = other.address;
  r.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  r.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(nl.fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    why = std::string("sock_diag: ") + std::strerror(errno);
    return diag_answer::unavailable;
  }
  // The kernel answers an exact lookup before sendto returns: never wait on the loop.
  alignas(nlmsghdr) char reply[8192];
  const ssize_t n = ::recv(nl.fd, reply, sizeof reply, MSG_DONTWAIT);
  if (n < 0) {
    why = std::string("sock_diag: ") + std::strerror(errno);
    return diag_answer::unavailable;
  }
  int length = static_cast<int>(n);
  for (auto* h = reinterpret_cast<nlmsghdr*>(reply); NLMSG_OK(h, length); h = NLMSG_NEXT(h, length)) {
    if (h->nlmsg_type == NLMSG_ERROR) {
      if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) break;
      const int error = -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
      why = std::string("sock_diag: ") + std::strerror(error);
      // ENOENT is also the answer of a kernel without the TCP handler: /proc tells then.
      return error == ENOENT ? diag_answer::absent : diag_answer::unavailable;
    }
    if (h->nlmsg_type == SOCK_DIAG_BY_FAMILY && h->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      uid = static_cast<const inet_diag_msg*>(NLMSG_DATA(h))->idiag_uid;
      return diag_answer::found;
    }
  }
  why = "sock_diag: no answer about the socket";
  return diag_answer::unavailable;
}

/// The value of up to eight hex digits; false for anything else.
bool hex_value(const std::string& hex, uint32_t& value) {
  if (hex.empty() || hex.size() > 8) return false;
  value = 0;
  for (const char c : hex) {
    const int d = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                         : -1;
    if (d < 0) return false;
    value = value << 4 | static_cast<uint32_t>(d);
  }
  return true;
}

/// Whether a column "ADDRESS:PORT" names `end`. The kernel prints each 32-bit word of the
/// address as it holds it, so on this machine a word compares with the word in memory; an
/// IPv4 end of an IPv6 socket is the mapped address ::ffff:a.b.c.d.
bool names(const std::string& column, const socket_end& end) {
  const size_t colon = column.find(':');
  uint32_t port = 0;
  if (colon == std::string::npos || !hex_value(column.substr(colon + 1), port) || port != end.port) return false;
  const std::string address = column.substr(0, colon);
  if (address.size() != 8 && address.size() != 32) return false;
  uint32_t words[4] = {0, 0, htonl(0xffff), 0};
  const size_t first = address.size() == 8 ? 3 : 0;
  for (size_t i = first; i < 4; ++i) {
    uint32_t w = 0;
    if (!hex_value(address.substr((i - first) * 8, 8), w)) return false;
    if (i < 3 && w != words[i]) return false;
    words[i] = w;
  }
  return words[3] == end.address;
}

/// Whether `owner` is the user this process runs as (its effective user) or root; else
/// `why` says whose it is.
bool is_own(uid_t owner, std::string& why) {
  if (owner == ::geteuid() || owner == 0) return true;
  why = "its socket belongs to user " + std::to_string(owner) + ", not to user " + std::to_string(::geteuid()) +
        " that vesk runs as";
  return false;
}

std::optional<uid_t> owner_in_files(const socket_end& own, const socket_end& other, std::string& why) {
  for (const char* name : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(name);
    if (!in) continue;
    std::ostringstream text;
    text << in.rdbuf();
    if (std::optional<uid_t> uid = owner_in_proc_net_tcp(text.str(), own, other)) return uid;
  }
  why += "; no socket of this machine in /proc/net/tcp or tcp6 has that end";
  return std::nullopt;
}

}  // namespace

bool is_loopback(uint32_t address) { return (ntohl(address) >> 24) == 127; }

std::string address_text(uint32_t address) {
  char text[INET_ADDRSTRLEN] = "";
  in_addr a{};
  a.s_addr = address;
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

bool connection_ends(int fd, socket_end& local, socket_end& peer, std::string& why) {
  sockaddr_in here{}, there{};
  socklen_t here_size = sizeof here, there_size = sizeof there;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&here), &here_size) != 0 ||
      ::getpeername(fd, reinterpret_cast<sockaddr*>(&there), &there_size) != 0) {
    why = std::string("its address cannot be told: ") + std::strerror(errno);
    return false;
  }
  if (here.sin_family != AF_INET || there.sin_family != AF_INET) {
    why = "it is no IPv4 connection";
    return false;
  }
  local = {here.sin_addr.s_addr, ntohs(here.sin_port)};
  peer = {there.sin_addr.s_addr, ntohs(there.sin_port)};
  return true;
}

std::optional<uid_t> owner_in_proc_net_tcp(const std::string& text, const socket_end& own, const socket_end& other) {
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);  // the column heads
  while (std::getline(lines, line)) {
    std::istringstream columns(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid;
    if (!(columns >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid)) continue;
    if (!names(local, own) || !names(remote, other)) continue;
    if (uid.empty() || uid.find_first_not_of("0123456789") != std::string::npos || uid.size() > 10) continue;
    return static_cast<uid_t>(std::stoul(uid));
  }
  return std::nullopt;
}

std::optional<uid_t> socket_owner(const socket_end& local, const socket_end& peer, std::string& why) {
  uid_t uid = 0;
  const diag_answer answer = ask_sock_diag(peer, local, uid, why);
  if (answer == diag_answer::found) {
    diag_answers = true;
    return uid;
  }
  if (answer == diag_answer::absent && diag_answers) {
    why += "; no socket of this machine has that end";
    return std::nullopt;
  }
  return owner_in_files(peer, local, why);
}

bool peer_is_own(int fd, std::string& why) {
  socket_end local, peer;
  return connection_ends(fd, local, peer, why) && peer_is_own(local, peer, why);
}

bool peer_is_own(const socket_end& local, const socket_end& peer, std::string& why) {
  std::string unknown;
  const std::optional<uid_t> owner = socket_owner(local, peer, unknown);
  if (!owner) {
    why = "the owner of its socket cannot be told (" + unknown + ")";
    return false;
  }
  return is_own(*owner, why);
}

bool peer_is_other_users(const socket_end& local, const socket_end& peer, std::string& why) {
  std::string unknown;
  const std::optional<uid_t> owner = socket_owner(local, peer, unknown);
  return owner && !is_own(*owner, why);
}

}  // namespace vesk::io
