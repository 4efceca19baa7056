#pragma once
// Helpers of the tests of the Linux runtime's link client: a hand-made model built with
// the runtime's own build script, the model program run as a child in a temporary folder,
// and a stand-in back end on a loopback socket that speaks the frames through io's codec.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/test_util.h"
#include "io/s2p.h"

namespace runtime_link_test {

namespace fs = std::filesystem;
using steady = std::chrono::steady_clock;

/// Little-endian encodings for payloads.
inline std::string u32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}
inline uint32_t get_u32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])) << (8 * i);
  return v;
}
inline uint64_t get_u64(const std::string& s, size_t at) {
  return get_u32(s, at) | static_cast<uint64_t>(get_u32(s, at + 4)) << 32;
}
template <typename T>
std::string bytes_of(T v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}
template <typename T>
T value_of(const std::string& s, size_t at) {
  T v;
  std::memcpy(&v, s.data() + at, sizeof v);
  return v;
}

/// One whole frame, written with io's header and checksum functions.
inline std::string frame(uint8_t type, const std::string& payload) {
  uint8_t header[vesk::io::frame::header_size];
  vesk::io::frame::write_header(header, type, static_cast<uint32_t>(payload.size()));
  const uint16_t sum = vesk::io::frame::fletcher16(payload.data(), payload.size());
  return std::string(reinterpret_cast<char*>(header), sizeof header) + payload + static_cast<char>(sum & 0xff) +
         static_cast<char>(sum >> 8);
}

/// A back end's model port: accepts one model at a time and collects its packets.
class fake_back_end {
 public:
  struct packet {
    uint8_t type;
    std::string payload;
  };

  /// Listens on 127.0.0.1:`port` (0: a port of the kernel's choice).
  explicit fake_back_end(uint16_t port = 0) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    EXPECT_EQ(0, ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a)) << std::strerror(errno);
    EXPECT_EQ(0, ::listen(listener_, 4));
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    decoder_.on_packet = [this](unsigned long t, void* d, unsigned long n) {
      got.push_back({static_cast<uint8_t>(t), std::string(static_cast<char*>(d), n)});
    };
  }
  ~fake_back_end() {
    drop();
    ::close(listener_);
  }

  uint16_t port() const { return port_; }

  /// Waits up to `ms` for the model to connect.
  bool accept(int ms) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) return false;
    drop();
    conn_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return conn_ >= 0;
  }
  /// Closes the connection to the model.
  void drop() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
    got.clear();
    rx_.clear();
    decoder_.reset();
  }

  void send_raw(const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::send(conn_, bytes.data(), bytes.size(), MSG_NOSIGNAL));
  }
  void send(uint8_t type, const std::string& payload = "") { send_raw(frame(type, payload)); }

  /// The first received packet of `type`, taken out of `got`; waits up to `ms` for it.
  std::optional<std::string> take(uint8_t type, int ms = 3000) {
    const auto end = steady::now() + std::chrono::milliseconds(ms);
    for (;;) {
      for (auto it = got.begin(); it != got.end(); ++it) {
        if (it->type != type) continue;
        std::string p = it->payload;
        got.erase(it);
        return p;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - steady::now()).count();
      if (left <= 0 || !read_some(static_cast<int>(left))) return std::nullopt;
    }
  }
  /// The payload of the last received packet of `type`, without waiting; all packets of
  /// that type are taken out of `got`.
  std::optional<std::string> last(uint8_t type) {
    std::optional<std::string> found;
    for (auto it = got.begin(); it != got.end();) {
      if (it->type != type) {
        ++it;
        continue;
      }
      found = it->payload;
      it = got.erase(it);
    }
    return found;
  }
  /// Collects packets for `ms`; false when the model closed the connection.
  bool collect(int ms) {
    const auto end = steady::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - steady::now()).count();
      if (left <= 0) return true;
      if (!read_some(static_cast<int>(left)) && closed_) return false;
    }
  }

  std::deque<packet> got;  ///< received, not yet taken

 private:
  /// One read of up to `ms`; false on time-out or loss.
  bool read_some(int ms) {
    pollfd p{conn_, POLLIN, 0};
    if (conn_ < 0 || ::poll(&p, 1, ms) != 1) return false;
    char buf[65536];
    const ssize_t n = ::recv(conn_, buf, sizeof buf, 0);
    closed_ = n <= 0;
    if (closed_) return false;
    rx_.append(buf, static_cast<size_t>(n));
    vesk::blob b(rx_.data(), rx_.size());
    rx_.erase(0, decoder_.decode(b));
    return true;
  }

  int listener_ = -1;
  int conn_ = -1;
  uint16_t port_ = 0;
  bool closed_ = false;
  std::string rx_;
  vesk::io::s2p decoder_;
};

/// The model program, run as a child with its own HOME and working folder.
class model_process {
 public:
  /// `port` is the text of VESK_MODEL_PORT (null: unset).
  model_process(const fs::path& program, const fs::path& dir, const char* port) : out_(dir / "out.txt") {
    std::vector<std::string> env = {"HOME=" + (dir / "home").string(), "PATH=/usr/bin:/bin"};
    if (port != nullptr) env.push_back(std::string("VESK_MODEL_PORT=") + port);
    fs::create_directories(dir / "home");
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> envp;
      for (auto& e : env) envp.push_back(e.data());
      envp.push_back(nullptr);
      const int fd = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || ::chdir(dir.c_str()) != 0) ::_exit(127);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      const std::string prog = program.string();
      char* argv[] = {const_cast<char*>(prog.c_str()), const_cast<char*>("config.json"), nullptr};
      ::execve(argv[0], argv, envp.data());
      ::_exit(127);
    }
  }
  ~model_process() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  /// The raw wait status once the program ended within `ms`; -1 while it runs.
  int wait(int ms) {
    const auto end = steady::now() + std::chrono::milliseconds(ms);
    while (status_ < 0) {
      int st = 0;
      if (::waitpid(pid_, &st, WNOHANG) == pid_) status_ = st;
      else if (steady::now() > end) break;
      else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
  }
  bool running() { return wait(0) < 0; }
  /// Standard output and error so far.
  std::string output() const {
    std::ifstream in(out_);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  fs::path out_;
  pid_t pid_ = -1;
  int status_ = -1;
};

}  // namespace runtime_link_test
