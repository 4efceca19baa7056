#pragma once
// Who is at the other end of a TCP connection on this machine: the kernel knows the user
// that owns each socket (sock_diag's INET_DIAG, the same as /proc/net/tcp and tcp6), and
// a port that hands out the user's files serves only sockets of that user.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vesk::io {

/// One end of an IPv4 connection: address in network byte order, port in host order.
struct socket_end {
  uint32_t address = 0;
  uint16_t port = 0;
};

/// Both ends of the accepted socket `fd`, as the system reports them; false with `why`
/// set when it cannot tell them.
bool connection_ends(int fd, socket_end& local, socket_end& peer, std::string& why);

/// The user that owns the socket whose own end is `peer` and whose other end is `local`
/// (the other end of a connection accepted at `local`): asked of the kernel through
/// sock_diag, and read from /proc/net/tcp and tcp6 only where sock_diag is not to be had.
/// nullopt with `why` set when the owner cannot be told (no such socket on this machine,
/// or neither source answers).
std::optional<uid_t> socket_owner(const socket_end& local, const socket_end& peer, std::string& why);

/// The owner of the socket of `own` to `other` in the text of /proc/net/tcp or
/// /proc/net/tcp6 (an IPv4 end appears there as an IPv4-mapped IPv6 address); nullopt
/// when no line names both ends.
std::optional<uid_t> owner_in_proc_net_tcp(const std::string& text, const socket_end& own, const socket_end& other);

/// Whether the socket at the other end of the accepted socket `fd` belongs to the user
/// this process runs as (its effective user) or to root; when not, or when that cannot be
/// told, `why` says so ("it belongs to user 65534", "its owner cannot be told: ...").
bool peer_is_own(int fd, std::string& why);
/// The same for a connection accepted at `local` from `peer`.
bool peer_is_own(const socket_end& local, const socket_end& peer, std::string& why);

/// Whether the other end of a connection accepted at `local` from `peer` is a socket of
/// this machine that belongs to neither the user this process runs as nor root, whatever
/// address it connects from; `why` then says whose it is. False for a socket of another
/// host (or one whose owner cannot be told).
bool peer_is_other_users(const socket_end& local, const socket_end& peer, std::string& why);

/// Whether an address (network byte order) is one of the loopback network 127.0.0.0/8.
bool is_loopback(uint32_t address);

/// The dotted text of an address in network byte order.
std::string address_text(uint32_t address);

}  // namespace vesk::io
