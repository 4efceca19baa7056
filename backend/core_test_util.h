#pragma once
// Test helpers of the program tests: a copy of vesk in a temporary folder (with a stub
// vesk-cli beside it when a test asks), its own HOME, a workspace whose path holds a
// blank, the running program with its output in files, and a WebSocket editor of our own.
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/json.h"
#include "foundation/test_util.h"
#include "io/event_list.h"
#include "io/ws_test_client.h"

namespace core_test {

namespace fs = std::filesystem;
namespace wc = vesk::io::test_client;

inline std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

/// A port that was free a moment ago (bound to 0 and released).
inline uint16_t free_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), n);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

/// A listening socket that keeps a port busy while it lives.
struct busy_port {
  int fd = -1;
  explicit busy_port(uint16_t port, uint32_t address = INADDR_ANY) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 1) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ~busy_port() {
    if (fd >= 0) ::close(fd);
  }
};

/// A message of one byte with room for one descriptor, as sendmsg and recvmsg take it.
struct fd_message {
  char byte = 1;
  alignas(cmsghdr) char room[CMSG_SPACE(sizeof(int))] = {};
  iovec v{&byte, 1};
  msghdr m{};
  fd_message() {
    m.msg_iov = &v;
    m.msg_iovlen = 1;
    m.msg_control = room;
    m.msg_controllen = sizeof room;
  }
  fd_message(const fd_message&) = delete;  // points into itself
};

/// `n` IPv4 TCP sockets, not connected, made by a child that runs as user and group `id`,
/// so that the kernel counts them as that user's (root only; none otherwise).
inline std::vector<int> sockets_of_user(uid_t id, size_t n) {
  std::vector<int> fds;
  int pair[2];
  if (::geteuid() != 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return fds;
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setresgid(id, id, id) != 0 || ::setresuid(id, id, id) != 0) ::_exit(1);
    for (size_t i = 0; i < n; ++i) {
      int made = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      fd_message out;
      cmsghdr* c = CMSG_FIRSTHDR(&out.m);
      c->cmsg_level = SOL_SOCKET;
      c->cmsg_type = SCM_RIGHTS;
      c->cmsg_len = CMSG_LEN(sizeof(int));
      std::memcpy(CMSG_DATA(c), &made, sizeof made);
      if (::sendmsg(pair[1], &out.m, 0) != 1) ::_exit(1);
      ::close(made);
    }
    ::_exit(0);
  }
  ::close(pair[1]);
  for (size_t i = 0; i < n && child > 0; ++i) {
    fd_message in;
    if (::recvmsg(pair[0], &in.m, MSG_CMSG_CLOEXEC) != 1 || CMSG_FIRSTHDR(&in.m) == nullptr) break;
    int got = -1;
    std::memcpy(&got, CMSG_DATA(CMSG_FIRSTHDR(&in.m)), sizeof got);
    fds.push_back(got);
  }
  ::close(pair[0]);
  if (child > 0) ::waitpid(child, nullptr, 0);
  return fds;
}

/// An IPv4 address of this machine outside the loopback network (network byte order), 0
/// when it has none: what another host's connection looks like on one machine.
inline uint32_t outward_address() {
  ifaddrs* all = nullptr;
  if (::getifaddrs(&all) != 0) return 0;
  uint32_t found = 0;
  for (ifaddrs* i = all; i != nullptr && found == 0; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_UP) == 0) continue;
    const uint32_t a = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    if ((ntohl(a) >> 24) != 127) found = a;
  }
  ::freeifaddrs(all);
  return found;
}

/// A socket bound to `address` (network byte order), not connected.
inline int socket_bound_to(uint32_t address) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

/// Polls `done` every 20 ms for at most `ms`.
inline bool eventually(const std::function<bool()>& done, int ms = 10000) {
  for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
       std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    if (done()) return true;
  }
  return done();
}

/// A copy of the program in <tmp>/bin, HOME <tmp>/home, the project <tmp>/my ws/demo.
struct program {
  temp_dir tmp;
  fs::path bin = tmp.path / "bin";
  fs::path home = tmp.path / "home";
  fs::path cwd = tmp.path / "cwd";
  fs::path ws = tmp.path / "my ws";
  fs::path prj = ws / "demo";
  fs::path cfg = prj / "demo.vcfg";
  fs::path out_file = tmp.path / "out.txt";
  fs::path err_file = tmp.path / "err.txt";
  uint16_t gui_port = 0;
  uint16_t model_port = 0;
  pid_t pid = -1;
  int status = -1;
  /// Standard output as a pipe (pipe_output): its read end, -1 once closed; out() reads it.
  int out_pipe = -1;
  int out_write = -1;          ///< its write end, the program's until it is started
  mutable std::string piped;  ///< what out() has read from the pipe so far

  program() {
    for (const fs::path& d : {bin / "shared", bin / "runtimes", home, cwd}) fs::create_directories(d);
    fs::copy_file(fs::path(VESK_BINARY_DIR) / "bin" / "vesk", bin / "vesk");
    for (const char* d : {"nodes", "models", "views", "data"}) fs::create_directories(prj / d);
    tmp.put(cfg.lexically_relative(tmp.path), R"({"model":"m","runtime":"sim"})");
  }
  ~program() {
    stop(SIGKILL);
    close_output();
  }

  /// Makes the program's standard output a pipe that out() reads; a test pauses the reader
  /// by not calling out(), and ends it with close_output().
  void pipe_output() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    out_pipe = fds[0];
    out_write = fds[1];
  }
  /// The reader of the piped output goes, as a `tee` ended by Ctrl-C does.
  void close_output() {
    if (out_pipe >= 0) ::close(out_pipe);
    out_pipe = -1;
  }

  /// An executable shell script at `path`.
  void script(const fs::path& path, const std::string& body) const {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
  }
  /// The stub build tool beside the program.
  void stub_cli(const std::string& body) const { script(bin / "vesk-cli", body); }

  /// Starts the program with `args` (ports and the project added unless `raw`).
  void start(std::vector<std::string> args = {"--no-gui"}, bool raw = false) {
    if (!raw) {
      gui_port = gui_port ? gui_port : free_port();
      model_port = model_port ? model_port : free_port();
      for (std::string a : {std::string("-gp"), std::to_string(gui_port), std::string("-mp"),
                            std::to_string(model_port), cfg.string()})
        args.push_back(a);
    }
    const pid_t parent = ::getpid();
    pid = ::fork();
    if (pid == 0) {
      // The program ends with the test, also when a timeout kills the test.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(126);
      ::setenv("HOME", home.c_str(), 1);
      if (::chdir(cwd.c_str()) != 0) ::_exit(126);
      FILE* o = out_write >= 0 ? (::dup2(out_write, 1) == 1 ? stdout : nullptr) : std::freopen(out_file.c_str(), "w", stdout);
      FILE* e = std::freopen(err_file.c_str(), "w", stderr);
      (void)o;
      (void)e;
      std::vector<char*> argv;
      std::string exe = (bin / "vesk").string();
      argv.push_back(exe.data());
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(exe.c_str(), argv.data());
      ::_exit(127);
    }
    if (out_write >= 0) ::close(out_write);
    out_write = -1;
  }
  /// Starts and waits for the main loop; false when the program ended or never got there.
  bool start_running(std::vector<std::string> args = {"--no-gui"}) {
    start(std::move(args));
    if (!eventually([&] { return out().find("start main loop...") != std::string::npos || ended(); }) || ended())
      return false;
    // A port that was free when chosen may have been taken since (tests run in parallel):
    // the program then says which one it took instead.
    const std::string text = out();
    for (auto [name, port] : {std::pair<const char*, uint16_t*>{"GUI-Port ", &gui_port}, {"Model-Port ", &model_port}}) {
      const std::string moved = name + std::to_string(*port) + " is in use. Using ";
      const size_t at = text.find(moved);
      if (at != std::string::npos) *port = static_cast<uint16_t>(std::stoi(text.substr(at + moved.size())));
    }
    return true;
  }
  std::string out() const {
    if (piped.empty() && out_pipe < 0) return slurp(out_file);
    char chunk[1 << 16];
    for (ssize_t n; out_pipe >= 0 && (n = ::read(out_pipe, chunk, sizeof chunk)) > 0;) piped.append(chunk, n);
    return piped;
  }
  /// The most memory the running program has held so far (VmHWM), in KiB; 0 when unknown.
  size_t peak_memory_kib() const {
    const std::string status = slurp("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::stoul(status.substr(at + 6));
  }
  std::string err() const { return slurp(err_file); }
  /// Whether the program has ended (its status then in `status`).
  bool ended() {
    if (pid <= 0) return true;
    int s = 0;
    if (::waitpid(pid, &s, WNOHANG) == pid) {
      status = WIFEXITED(s) ? WEXITSTATUS(s) : 1000 + WTERMSIG(s);
      pid = -1;
      return true;
    }
    return false;
  }
  /// Waits (bounded) for the end; the exit status, or 1000 + signal, or -1 when it runs on.
  int wait_end(int ms = 10000) {
    eventually([&] { return ended(); }, ms);
    return pid > 0 ? -1 : status;
  }
  /// Sends `sig` and waits for the end (SIGKILL after 10 s).
  int stop(int sig = SIGINT) {
    if (pid <= 0) return status;
    ::kill(pid, sig);
    if (wait_end() < 0) {
      ::kill(pid, SIGKILL);
      wait_end();
    }
    return status;
  }
};

/// The editor's side over a real WebSocket, on loopback.
struct editor {
  vesk::io::event_list idle;  // the client's pacing loop; nothing registers in it
  wc::client c;
  std::vector<vesk::json> seen;  ///< every text message received, parsed
  std::vector<std::string> raw;  ///< the same, as sent
  std::vector<std::string> binaries;  ///< every binary message received
  std::string head;
  /// Connects and waits (bounded) for the answer to the opening handshake, however long a
  /// busy machine takes.
  explicit editor(uint16_t port) : c(port) {
    c.send_raw(idle, wc::handshake_request());
    eventually([&] {
      const bool open = c.poll_input(0);
      return c.received.find("\r\n\r\n") != std::string::npos || !open;
    });
    const size_t end = c.received.find("\r\n\r\n");
    if (end == std::string::npos) return;
    head = c.received.substr(0, end + 4);
    c.parsed = end + 4;
  }
  bool open() const { return head.rfind("HTTP/1.1 101", 0) == 0; }

  void send(const std::string& text) { c.send_raw(idle, wc::frame(1, text)); }
  void send(const char* text) { send(std::string(text)); }
  void send(const vesk::json& request) { send(request.dump()); }
  void send_binary(const std::string& bytes) { c.send_raw(idle, wc::frame(2, bytes)); }

  /// Reads messages until one satisfies `pred` (bounded); returns its position in `seen` or -1.
  int wait_for(const std::function<bool(vesk::json&)>& pred, int ms = 10000, size_t from = 0) {
    size_t checked = from;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (true) {
      for (; checked < seen.size(); ++checked) {
        if (pred(seen[checked])) return static_cast<int>(checked);
      }
      if (std::chrono::steady_clock::now() > end) return -1;
      wc::server_frame f;
      take_frame(4);
    }
  }
  /// Reads one frame if one comes within a few rounds of the loop; false when none came.
  bool take_frame(int rounds) {
    wc::server_frame f;
    if (!c.next_frame(idle, f, rounds)) return false;
    if (f.opcode == 1) {
      raw.push_back(f.payload);
      seen.push_back(vesk::json::parse(f.payload));
    }
    if (f.opcode == 2) binaries.push_back(f.payload);
    return true;
  }
  /// Reads until a binary message after position `from` satisfies `pred` (bounded);
  /// returns its position in `binaries` or -1.
  int wait_binary(const std::function<bool(const std::string&)>& pred, int ms = 10000, size_t from = 0) {
    size_t checked = from;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (true) {
      for (; checked < binaries.size(); ++checked) {
        if (pred(binaries[checked])) return static_cast<int>(checked);
      }
      if (std::chrono::steady_clock::now() > end) return -1;
      take_frame(4);
    }
  }
  /// Reads whatever arrives for `ms` (messages that must not come are then in the lists).
  void drain(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) take_frame(4);
  }
  /// Waits for a message with this "cmd" (and, given, this "msg"), after position `from`.
  int wait_cmd(const std::string& cmd, const std::string& msg = "", int ms = 10000, size_t from = 0) {
    return wait_for([&](vesk::json& m) {
      return m.is_object() && m["cmd"] == cmd.c_str() && (msg.empty() || m["msg"].get_string() == msg);
    }, ms, from);
  }
  /// Waits for a log entry whose message begins with `prefix`.
  int wait_log(const std::string& type, const std::string& prefix, int ms = 10000, size_t from = 0) {
    return wait_for([&](vesk::json& m) {
      return m.is_object() && m["cmd"] == "log" && m["type"].get_string() == type &&
             m["msg"].get_string().rfind(prefix, 0) == 0;
    }, ms, from);
  }
  /// Asks for the back-end state and waits for the answer: whether the back end answers.
  bool answers() {
    const size_t before = seen.size();
    send(R"({"cmd":"get_backend_state"})");
    return wait_for([&](vesk::json& m) { return m["cmd"] == "backend_state"; }, 10000, before) >= 0;
  }
};

}  // namespace core_test
